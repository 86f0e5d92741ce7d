#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace halvik::vantorctl {

class RotctldBridgePrivate;

/// What `vantorctl rotctld` is told on its command line.
struct RotctldSettings
{
    std::string deviceAddress;
    std::uint16_t devicePort = 4365;
    /// Loopback unless the user chooses otherwise: whoever reaches the port can point the device.
    std::string listenHost = "127.0.0.1";
    /// 0 takes a free port (port() tells which).
    std::uint16_t listenPort = 4533;
    /// SetApertureAngles (answered on arrival) instead of TrackApertureAngles.
    bool set = false;
    double speed = 10.0;
    /// Limits in the device's azimuth frame (0 to 360); a client's -180 to 0 is mapped into it.
    double minAzimuth = 0.0;
    double maxAzimuth = 360.0;
    double minElevation = -35.0;
    double maxElevation = 35.0;
    /// Set-position requests closer than this to the last target on both axes are not sent.
    double deadband = 0.0;
};

/// Serves Hamlib's rotctld protocol over TCP and drives one Vantor with it. Each connection
/// is read on its own; device commands of all connections go to the device one at a time, so
/// that no client ever meets the link's busy status.
class RotctldBridge
{
public:
    /// Opens the device link and the listening socket. Throws boost::system::system_error when
    /// either cannot be opened (port in use, address not local). Writes one line per connection
    /// and per failed device command to `log`, which must outlive the bridge.
    RotctldBridge(const RotctldSettings& settings, std::ostream& log);
    /// Stops serving and waits for the device command in progress.
    ~RotctldBridge();

    RotctldBridge(const RotctldBridge&) = delete;
    RotctldBridge& operator=(const RotctldBridge&) = delete;

    /// The port it listens on.
    std::uint16_t port() const;
    /// Serves until stop(), or until SIGINT or SIGTERM when stopOnSignals() was called.
    void run();
    /// Ends run(); callable from any thread, before or during run().
    void stop();
    /// Lets SIGINT and SIGTERM (Ctrl+C) end run().
    void stopOnSignals();

private:
    std::unique_ptr<RotctldBridgePrivate> d;
};

} // namespace halvik::vantorctl
