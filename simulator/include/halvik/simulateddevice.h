#pragma once

#include <halvik/simulatoroptions.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace halvik::sim {

class Engine;
class SimulatedDevicePrivate;

/// One simulated Vantor on its own IPv4 address.
///
/// Answers from the moment it is constructed, on its own thread (or the thread of the Simulator
/// that holds it). Pointing: HOME, SEAA, TRAA, SEAC, GEAA; discovery: CQRE; IP change: SIPC. The
/// greeting PPPP is recorded and not answered. Through a broadcast listener only CQRE and SIPC
/// are served; after an IP change the old address gets no answers to pointing commands. A device
/// on a loopback address answers only senders on loopback. Every accessor may be called from any
/// thread.
class SimulatedDevice
{
public:
    /// Binds address:port (and 0.0.0.0:port with listenBroadcast); throws
    /// boost::system::system_error when a socket cannot be bound.
    explicit SimulatedDevice(DeviceOptions options);
    /// Stops answering, joins its thread (when it owns one) and closes its sockets.
    ~SimulatedDevice();

    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    /// Current IPv4 address (changes after an accepted SIPC).
    std::string address() const;
    /// UDP port of its socket.
    std::uint16_t port() const;
    /// Its serial.
    std::string serial() const;

    /// True position now, without read-back noise.
    Angles currentAngles() const;
    /// Where the current (or last) move goes.
    Angles targetAngles() const;
    /// True while either axis is still moving.
    bool moving() const;
    /// True once a HOME has completed (always true without requireHome).
    bool homed() const;
    /// Acceleration in degrees per second squared.
    double acceleration() const;

    /// Every datagram received so far, in arrival order.
    std::vector<ReceivedRequest> requests() const;
    /// Received datagrams whose bytes 2-5 equal code (every datagram for an empty code).
    std::vector<ReceivedRequest> requests(const std::string& code) const;
    /// Waits until at least count datagrams with this code arrived; false on time-out.
    bool waitForRequests(const std::string& code, std::size_t count,
                         std::chrono::milliseconds timeout) const;
    /// Forgets the received datagrams.
    void clearRequests();

    /// Replaces the faults; the generator restarts from the new seed.
    void setFaults(const FaultOptions& faults);
    /// Keeps receiving and recording but answers nothing until restart().
    void goSilent();
    /// Power cycle: drops pending answers, stops where it is, forgets the acceleration and (with
    /// requireHome) the homing, clears `silent`.
    void restart();

private:
    friend class Simulator;
    SimulatedDevice(DeviceOptions options, std::shared_ptr<Engine> engine);

    std::unique_ptr<SimulatedDevicePrivate> d;
};

} // namespace halvik::sim
