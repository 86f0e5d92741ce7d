#include "engine.h"
#include "simulateddeviceprivate.h"

#include <halvik/simulateddevice.h>

namespace halvik::sim {

SimulatedDevice::SimulatedDevice(DeviceOptions options)
    : SimulatedDevice(std::move(options), std::make_shared<Engine>())
{
    // Owns its engine: nobody else will start it.
    d->startEngine();
}

SimulatedDevice::SimulatedDevice(DeviceOptions options, std::shared_ptr<Engine> engine)
    : d(std::make_unique<SimulatedDevicePrivate>(std::move(options), std::move(engine)))
{
    d->start();
}

SimulatedDevice::~SimulatedDevice() = default;

std::string SimulatedDevice::address() const
{
    return d->address();
}

std::uint16_t SimulatedDevice::port() const
{
    return d->port();
}

std::string SimulatedDevice::serial() const
{
    return d->serial();
}

Angles SimulatedDevice::currentAngles() const
{
    return d->currentAngles();
}

Angles SimulatedDevice::targetAngles() const
{
    return d->targetAngles();
}

bool SimulatedDevice::moving() const
{
    return d->moving();
}

bool SimulatedDevice::homed() const
{
    return d->homed();
}

double SimulatedDevice::acceleration() const
{
    return d->acceleration();
}

std::vector<ReceivedRequest> SimulatedDevice::requests() const
{
    return d->requests(std::string());
}

std::vector<ReceivedRequest> SimulatedDevice::requests(const std::string& code) const
{
    return d->requests(code);
}

bool SimulatedDevice::waitForRequests(const std::string& code, std::size_t count,
                                      std::chrono::milliseconds timeout) const
{
    return d->waitForRequests(code, count, timeout);
}

void SimulatedDevice::clearRequests()
{
    d->clearRequests();
}

void SimulatedDevice::setFaults(const FaultOptions& faults)
{
    d->setFaults(faults);
}

void SimulatedDevice::goSilent()
{
    d->goSilent();
}

void SimulatedDevice::restart()
{
    d->restart();
}

} // namespace halvik::sim
