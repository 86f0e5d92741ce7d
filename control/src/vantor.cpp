#include "vantorprivate.h"

#include <halvik/statuscode.h>
#include <halvik/vantor.h>

namespace halvik {

namespace {
constexpr unsigned short devicePort = 4365;
}

Vantor::Vantor(const std::string& address)
    : Vantor(address, devicePort)
{}

Vantor::Vantor(const std::string& address, unsigned short port)
    : d(std::make_unique<VantorPrivate>(address, port))
{}

Vantor::~Vantor() = default;

int Vantor::Home()
{
    return d->Home();
}

int Vantor::SetApertureAngles(double azimuth, double elevation, double speed)
{
    return d->SetApertureAngles(azimuth, elevation, speed);
}

int Vantor::TrackApertureAngles(double azimuth, double elevation, double speed)
{
    return d->TrackApertureAngles(azimuth, elevation, speed);
}

int Vantor::SetAcceleration(double acceleration)
{
    return d->SetAcceleration(acceleration);
}

int Vantor::GetApertureAngles(double& azimuth, double& elevation)
{
    return d->GetApertureAngles(azimuth, elevation);
}

std::string Vantor::StatusText(int status)
{
    return statusCodeText(status);
}

} // namespace halvik
