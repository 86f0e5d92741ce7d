#pragma once

#include <memory>
#include <string>

namespace halvik {

class VantorPrivate;

/// Command client of one Vantor: every operation is one blocking request/reply transaction and
/// returns a status code (0 success, 1-8 device errors, 253 busy, 254 time-out).
class Vantor
{
public:
    /// Opens the link to address:4365 and sends the greeting. Throws boost::system::system_error
    /// when the address is not dotted IPv4 or the socket cannot be opened.
    explicit Vantor(const std::string& address);
    /// Same, for a device on another UDP port (simulators, tests).
    Vantor(const std::string& address, unsigned short port);
    ~Vantor();

    Vantor(const Vantor&) = delete;
    Vantor& operator=(const Vantor&) = delete;

    /// Moves to the home position; waits up to 2500 ms.
    int Home();
    /// Moves to the angles (degrees) with the speed; answered when there, waits up to 2500 ms.
    int SetApertureAngles(double azimuth, double elevation, double speed);
    /// Starts a move to the angles (degrees) with the speed; waits up to 500 ms.
    int TrackApertureAngles(double azimuth, double elevation, double speed);
    /// Sets the acceleration (no scaling); waits up to 500 ms.
    int SetAcceleration(double acceleration);
    /// Reads the current angles in degrees; the outputs are written only on status 0.
    int GetApertureAngles(double& azimuth, double& elevation);

    /// "Error 0x.." text of a status code.
    static std::string StatusText(int status);

private:
    std::unique_ptr<VantorPrivate> d;
};

} // namespace halvik
