#pragma once

#include "axismotion.h"
#include "broadcastlistener.h"
#include "seededrandom.h"
#include "udpsockets.h"

#include <halvik/simulatoroptions.h>

#include <boost/asio/steady_timer.hpp>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace halvik::sim {

class Engine;

/// The device's state and protocol. Handlers run on the engine thread; the accessors of
/// SimulatedDevice come from any thread, so every field below `mutex` is guarded by it. Sending
/// happens only on the engine thread.
class SimulatedDevicePrivate
{
public:
    using Clock = std::chrono::steady_clock;
    using Endpoint = boost::asio::ip::udp::endpoint;

    /// Degrees per second squared until the first SEAC.
    static constexpr double defaultAcceleration = 10000.0;
    /// Homing runs at the speed of a speed field of 3600 (1000 deg/s).
    static constexpr double homingSpeed = 1000.0;

    SimulatedDevicePrivate(DeviceOptions options, std::shared_ptr<Engine> engine);
    ~SimulatedDevicePrivate();

    SimulatedDevicePrivate(const SimulatedDevicePrivate&) = delete;
    SimulatedDevicePrivate& operator=(const SimulatedDevicePrivate&) = delete;

    /// Arms the receives (before the engine thread starts).
    void start();
    /// Starts the engine thread, for a device that owns its engine.
    void startEngine();
    /// Every datagram, from the device socket or a broadcast listener; engine thread.
    void handleDatagram(const std::string& bytes, const Endpoint& from, bool viaBroadcast);

    std::string address() const;
    std::uint16_t port() const { return boundPort; }
    const std::string& serial() const { return options.serial; }
    Angles currentAngles() const;
    Angles targetAngles() const;
    bool moving() const;
    bool homed() const;
    double acceleration() const;

    std::vector<ReceivedRequest> requests(const std::string& code) const;
    bool waitForRequests(const std::string& code, std::size_t count,
                         std::chrono::milliseconds timeout) const;
    void clearRequests();
    void setFaults(const FaultOptions& faults);
    void goSilent();
    void restart();

private:
    struct Receiver
    {
        std::shared_ptr<UdpSocket> socket;
        std::array<char, 65536> buffer{};
        Endpoint from;
    };
    /// A reply and the socket it leaves from (the old one for the answer to an IP change).
    struct Reply
    {
        std::string bytes;
        Endpoint to;
        std::shared_ptr<UdpSocket> socket;
    };
    /// A SEAA or HOME waiting for the device to come to rest.
    struct Waiter
    {
        std::string code;
        Endpoint to;
    };

    void receive(std::shared_ptr<Receiver> receiver);
    // The handlers below run on the engine thread with `mutex` held and return what to send.
    std::vector<Reply> serve(const std::string& bytes, const Endpoint& from, bool viaBroadcast,
                             std::string& action);
    std::vector<Reply> changeAddress(const std::string& payload, const Endpoint& from,
                                     std::string& action);
    void startMove(double azimuth, double elevation, double speed, Clock::time_point now);
    void armRestTimer();
    void onRest(std::uint64_t generation);
    void send(std::vector<Reply> replies);
    void transmit(const Reply& reply, const std::string& note);
    void log(const std::string& line) const;
    std::string deviceName() const;

    DeviceOptions options;
    std::shared_ptr<Engine> engine;
    std::unique_ptr<BroadcastListener> listener;
    std::shared_ptr<Receiver> receiver;
    /// The socket left behind by an IP change, closed once its answer is out.
    std::shared_ptr<UdpSocket> retiredSocket;
    boost::asio::steady_timer restTimer;
    std::uint16_t boundPort = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable requestArrived;
    std::string currentAddress;
    std::vector<ReceivedRequest> received;
    AxisMotion azimuthAxis;
    AxisMotion elevationAxis;
    /// Direction (-1, 0, +1) of each axis's last move, for the backlash.
    int azimuthPlaySide = 0;
    int elevationPlaySide = 0;
    double currentAcceleration = defaultAcceleration;
    bool isHomed = true;
    bool homing = false;
    std::vector<Waiter> waiters;
    /// Bumped by every move and by restart(), so a stale rest timer does nothing.
    std::uint64_t motionGeneration = 0;
    /// Bumped by restart(), so replies delayed before it are never sent.
    std::uint64_t powerCycle = 0;
    FaultOptions faults;
    SeededRandom faultRandom;
    SeededRandom noiseRandom;
};

} // namespace halvik::sim
