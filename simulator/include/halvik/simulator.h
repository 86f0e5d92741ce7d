#pragma once

#include <halvik/simulateddevice.h>
#include <halvik/simulatoroptions.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace halvik::sim {

class Engine;
class BroadcastListener;

/// Several simulated devices on consecutive addresses and one port, served by one thread, with
/// one broadcast listener on 0.0.0.0:port that hands discovery and IP-change requests to all.
class Simulator
{
public:
    /// Binds every device; throws boost::system::system_error when a socket cannot be bound.
    explicit Simulator(SimulatorOptions options);
    /// Stops the thread, then closes every socket.
    ~Simulator();

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Number of devices.
    std::size_t size() const;
    /// Device i, from 0.
    SimulatedDevice& device(std::size_t i);
    /// The port every device and the listener use.
    std::uint16_t port() const;

    /// A UDP port that no socket on any address used a moment ago (0.0.0.0:0 bound and
    /// released again); prefer port 0 in the options, which keeps the port held.
    static std::uint16_t freeUdpPort();
    /// The address n steps after address (127.0.0.2 + 3 = 127.0.0.5); throws on overflow.
    static std::string offsetAddress(const std::string& address, unsigned n);

private:
    std::shared_ptr<Engine> engine;
    std::unique_ptr<BroadcastListener> listener;
    std::vector<std::unique_ptr<SimulatedDevice>> devices;
    std::uint16_t sharedPort = 0;
};

} // namespace halvik::sim
