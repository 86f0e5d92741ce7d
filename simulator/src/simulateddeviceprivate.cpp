#include "simulateddeviceprivate.h"

#include "engine.h"
#include "wire.h"

#include <boost/system/system_error.hpp>

#include <algorithm>
#include <cmath>

namespace halvik::sim {

namespace {

constexpr std::size_t headerLength = 6;
// Speed field = speed x 360; read as field / 3.6 degrees per second.
constexpr double speedFieldPerDegreePerSecond = 3.6;
constexpr int maxAzimuthHundredths = 36000;
constexpr int maxElevationHundredths = 3500;

std::string statusByte(int status)
{
    return std::string(1, static_cast<char>(status));
}

std::string endpointText(const boost::asio::ip::udp::endpoint& e)
{
    return e.address().to_string() + ":" + std::to_string(e.port());
}

std::string angleText(double azimuth, double elevation)
{
    return "az " + wire::fixed(azimuth, 2) + " el " + wire::fixed(elevation, 2);
}

// Another real code, so that a client sees a well-formed reply to the wrong request.
std::string otherCode(const std::string& code)
{
    static const char* const codes[] = {"HOME", "GEAA", "SEAA", "TRAA", "SEAC", "CQRE", "SIPC"};
    constexpr std::size_t count = sizeof codes / sizeof codes[0];
    for (std::size_t i = 0; i < count; ++i) {
        if (code == codes[i]) {
            return codes[(i + 1) % count];
        }
    }
    return codes[0];
}

} // namespace

SimulatedDevicePrivate::SimulatedDevicePrivate(DeviceOptions opts, std::shared_ptr<Engine> eng)
    : options(std::move(opts))
    , engine(std::move(eng))
    , restTimer(engine->io())
    , azimuthAxis(options.initialAzimuth)
    , elevationAxis(options.initialElevation)
    , isHomed(!options.requireHome)
    , faults(options.faults)
    , faultRandom(options.faults.seed)
    , noiseRandom(options.faults.seed ^ 0x6a09e667f3bcc909ULL)
{
    auto& io = engine->io();
    const auto address = boost::asio::ip::make_address_v4(options.address);
    std::shared_ptr<UdpSocket> wildcard;
    std::uint16_t port = options.port;
    if (port == 0) {
        wildcard = reserveFreePort(io);
        port = wildcard->local_endpoint().port();
    }
    receiver = std::make_shared<Receiver>();
    receiver->socket = bindShared(io, address, port);
    boundPort = port;
    currentAddress = address.to_string();
    if (options.listenBroadcast) {
        if (!wildcard) {
            wildcard = bindShared(io, boost::asio::ip::address_v4::any(), port);
        }
        listener = std::make_unique<BroadcastListener>(
            wildcard, [this](const std::string& bytes, const Endpoint& from) {
                handleDatagram(bytes, from, true);
            });
    } else if (wildcard) {
        // The port is held by the device's own socket from now on.
        boost::system::error_code ignored;
        wildcard->close(ignored);
    }
}

SimulatedDevicePrivate::~SimulatedDevicePrivate()
{
    engine->stop();
    listener.reset();
    // Closing fails only for a socket that is already unusable; teardown goes on regardless.
    boost::system::error_code ignored;
    receiver->socket->close(ignored);
}

void SimulatedDevicePrivate::start()
{
    receive(receiver);
    if (listener) {
        listener->start();
    }
}

void SimulatedDevicePrivate::startEngine()
{
    engine->start();
}

void SimulatedDevicePrivate::receive(std::shared_ptr<Receiver> r)
{
    Receiver& ref = *r;
    ref.socket->async_receive_from(
        boost::asio::buffer(ref.buffer), ref.from,
        [this, r = std::move(r)](const boost::system::error_code& error, std::size_t n) {
            // After an IP change the old socket's receive ends here and is not armed again.
            if (error == boost::asio::error::operation_aborted || r != receiver) {
                return;
            }
            if (!error) {
                handleDatagram(std::string(r->buffer.data(), n), r->from, false);
            }
            // An IP change inside handleDatagram retires this socket: it is not armed again.
            if (r == receiver) {
                receive(r);
            }
        });
}

void SimulatedDevicePrivate::handleDatagram(const std::string& bytes, const Endpoint& from,
                                            bool viaBroadcast)
{
    std::string action;
    std::vector<Reply> replies;
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(ReceivedRequest{bytes, from.address().to_string(), from.port(),
                                           viaBroadcast, Clock::now()});
        replies = serve(bytes, from, viaBroadcast, action);
    }
    requestArrived.notify_all();
    if (options.log) {
        log(wire::timeOfDay(std::chrono::system_clock::now()) + " " + deviceName() + " <- " +
            endpointText(from) + " " +
            (bytes.size() >= headerLength ? wire::printableHeader(bytes) : std::string("-")) + " " +
            wire::hex(bytes.size() > headerLength ? bytes.substr(headerLength) : std::string()) +
            (viaBroadcast ? " (broadcast) " : " ") + action);
    }
    send(std::move(replies));
    if (retiredSocket) {
        // Its answer has gone (or holds the socket until it goes); stop listening on it.
        boost::system::error_code ignored;
        retiredSocket->cancel(ignored);
        retiredSocket.reset();
    }
}

std::vector<SimulatedDevicePrivate::Reply> SimulatedDevicePrivate::serve(const std::string& bytes,
                                                                         const Endpoint& from,
                                                                         bool viaBroadcast,
                                                                         std::string& action)
{
    // A device on loopback never talks to the network outside, whatever its broadcast
    // listener on 0.0.0.0 hears from there.
    if (boost::asio::ip::make_address_v4(currentAddress).is_loopback() &&
        !from.address().is_loopback()) {
        action = "ignored: sender outside loopback";
        return {};
    }
    if (bytes.size() < headerLength) {
        action = "ignored: shorter than a header";
        return {};
    }
    if (bytes[0] != 'V' || bytes[1] != 'N') {
        action = "ignored: not a request";
        return {};
    }
    const std::string code = bytes.substr(2, 4);
    const std::string payload = bytes.substr(headerLength);
    auto reply = [&](const char* kind, const std::string& data) {
        return Reply{kind + code + data, from, receiver->socket};
    };
    auto refuse = [&](int status, const std::string& why) {
        action = "refused: " + why + " (status " + std::to_string(status) + ")";
        return std::vector<Reply>{reply("EE", statusByte(status))};
    };

    if (code == "PPPP") {
        action = "greeting, not answered";
        return {};
    }
    if (code == "CQRE") {
        action = "discovery, answered with serial " + options.serial;
        return {reply("ER", options.serial)};
    }
    if (code == "SIPC") {
        return changeAddress(payload, from, action);
    }
    if (viaBroadcast) {
        action = "ignored: commands other than discovery and IP change need the device's address";
        return {};
    }

    const auto now = Clock::now();
    if (code == "HOME") {
        if (!payload.empty()) {
            return refuse(1, "HOME takes no payload");
        }
        startMove(0.0, 0.0, homingSpeed, now);
        homing = true;
        waiters.push_back({code, from});
        armRestTimer();
        action = "homing at " + wire::fixed(homingSpeed, 1) + " deg/s";
        return {};
    }
    if (code == "SEAA" || code == "TRAA") {
        if (payload.size() != 6) {
            return refuse(1, code + " takes 6 payload bytes");
        }
        if (!isHomed) {
            return refuse(4, "not homed yet");
        }
        const int azimuth = wire::readUInt16(payload, 0);
        const int elevation = static_cast<std::int16_t>(wire::readUInt16(payload, 2));
        const int speedField = wire::readUInt16(payload, 4);
        if (azimuth > maxAzimuthHundredths || elevation < -maxElevationHundredths ||
            elevation > maxElevationHundredths) {
            return refuse(2, "target " + angleText(azimuth / 100.0, elevation / 100.0) +
                                 " outside az 0..360, el -35..35");
        }
        if (speedField == 0) {
            return refuse(2, "speed 0 never arrives");
        }
        const double speed = speedField / speedFieldPerDegreePerSecond;
        startMove(azimuth / 100.0, elevation / 100.0, speed, now);
        homing = false;
        armRestTimer();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(azimuthAxis.endTime(), elevationAxis.endTime()) - now);
        action = "move to " + angleText(azimuth / 100.0, elevation / 100.0) + " at " +
                 wire::fixed(speed, 1) + " deg/s, " +
                 std::to_string(std::max<long long>(0, ms.count())) + " ms";
        if (code == "SEAA") {
            waiters.push_back({code, from});
            return {};
        }
        return {reply("EA", std::string())};
    }
    if (code == "SEAC") {
        if (payload.size() != 4) {
            return refuse(1, "SEAC takes 4 payload bytes");
        }
        const auto value = static_cast<std::int32_t>(wire::readUInt32(payload, 0));
        if (value <= 0) {
            return refuse(2, "acceleration " + std::to_string(value) + " is not positive");
        }
        currentAcceleration = value;
        action = "acceleration " + std::to_string(value) + " deg/s^2";
        return {reply("EA", std::string())};
    }
    if (code == "GEAA") {
        if (!payload.empty()) {
            return refuse(1, "GEAA takes no payload");
        }
        const double noise = options.readbackNoise;
        const double play = options.backlash / 2.0;
        const double az = azimuthAxis.position(now) + options.offset.azimuth -
                          azimuthPlaySide * play + noise * (2.0 * noiseRandom.uniform() - 1.0);
        const double el = elevationAxis.position(now) + options.offset.elevation -
                          elevationPlaySide * play + noise * (2.0 * noiseRandom.uniform() - 1.0);
        const long azimuth = std::clamp(std::lround(az * 100.0), 0L, 65535L);
        const long elevation = std::clamp(std::lround(el * 100.0), -32768L, 32767L);
        std::string data;
        wire::appendUInt16(data, static_cast<std::uint16_t>(azimuth));
        wire::appendUInt16(data, static_cast<std::uint16_t>(elevation & 0xffff));
        action = "angles " + angleText(azimuth / 100.0, elevation / 100.0);
        return {reply("ER", data)};
    }
    return refuse(6, "unknown command");
}

std::vector<SimulatedDevicePrivate::Reply>
SimulatedDevicePrivate::changeAddress(const std::string& payload, const Endpoint& from,
                                      std::string& action)
{
    auto refuse = [&](int status, const std::string& why) {
        action = "refused: " + why + " (status " + std::to_string(status) + ")";
        return std::vector<Reply>{Reply{"EESIPC" + statusByte(status), from, receiver->socket}};
    };
    if (payload.size() < 4) {
        return refuse(1, "IP change needs a serial and 4 address bytes");
    }
    const std::string serial = payload.substr(0, payload.size() - 4);
    if (serial != options.serial) {
        action = "ignored: IP change for serial " + wire::hex(serial);
        return {};
    }
    boost::asio::ip::address_v4::bytes_type raw;
    std::copy(payload.end() - 4, payload.end(), raw.begin());
    const boost::asio::ip::address_v4 address(raw);
    if (address.is_unspecified() || address.is_multicast() ||
        address == boost::asio::ip::address_v4::broadcast() ||
        address == boost::asio::ip::make_address_v4("127.255.255.255")) {
        return refuse(5, address.to_string() + " is no unicast address");
    }
    if (address.to_string() == currentAddress) {
        action = "IP change to the address it has";
        return {Reply{"ERSIPC", from, receiver->socket}};
    }
    std::shared_ptr<UdpSocket> socket;
    try {
        socket = bindShared(engine->io(), address, boundPort);
    } catch (const boost::system::system_error& e) {
        return refuse(5, "cannot take " + address.to_string() + ": " + e.code().message());
    }
    // The answer leaves from the old address; everything after it is served at the new one.
    std::vector<Reply> replies{Reply{"ERSIPC", from, receiver->socket}};
    action = "IP change from " + currentAddress + " to " + address.to_string();
    retiredSocket = receiver->socket;
    receiver = std::make_shared<Receiver>();
    receiver->socket = std::move(socket);
    currentAddress = address.to_string();
    receive(receiver);
    return replies;
}

void SimulatedDevicePrivate::startMove(double azimuth, double elevation, double speed,
                                       Clock::time_point now)
{
    const auto side = [](double from, double to, int previous) {
        return to > from ? 1 : to < from ? -1 : previous;
    };
    azimuthPlaySide = side(azimuthAxis.position(now), azimuth, azimuthPlaySide);
    elevationPlaySide = side(elevationAxis.position(now), elevation, elevationPlaySide);
    azimuthAxis.moveTo(azimuth, speed, currentAcceleration, now);
    elevationAxis.moveTo(elevation, speed, currentAcceleration, now);
    ++motionGeneration;
}

void SimulatedDevicePrivate::armRestTimer()
{
    const std::uint64_t generation = motionGeneration;
    restTimer.expires_at(std::max(azimuthAxis.endTime(), elevationAxis.endTime()));
    restTimer.async_wait([this, generation](const boost::system::error_code& error) {
        // A wait that had already expired runs with success after being re-armed; the
        // generation tells it apart from the current one.
        if (!error) {
            onRest(generation);
        }
    });
}

void SimulatedDevicePrivate::onRest(std::uint64_t generation)
{
    std::vector<Reply> replies;
    Angles at;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (generation != motionGeneration) {
            return;
        }
        if (homing) {
            isHomed = true;
            homing = false;
        }
        for (const Waiter& w : waiters) {
            replies.push_back(Reply{"EA" + w.code, w.to, receiver->socket});
        }
        waiters.clear();
        const auto now = Clock::now();
        at = {azimuthAxis.position(now), elevationAxis.position(now)};
    }
    if (options.log && !replies.empty()) {
        log(wire::timeOfDay(std::chrono::system_clock::now()) + " " + deviceName() + " at rest, " +
            angleText(at.azimuth, at.elevation));
    }
    send(std::move(replies));
}

void SimulatedDevicePrivate::send(std::vector<Reply> replies)
{
    for (Reply& reply : replies) {
        bool silent = false;
        bool junk = false;
        bool drop = false;
        bool wrongCode = false;
        bool duplicate = false;
        std::string junkBytes;
        unsigned delayMs = 0;
        std::uint64_t cycle = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            silent = faults.silent;
            if (!silent) {
                // The same draws for every reply keep a seeded run reproducible.
                junk = faultRandom.chance(faults.junkFraction);
                const auto junkLength = static_cast<std::size_t>(faultRandom.next() % 32);
                for (std::size_t i = 0; junk && i < junkLength; ++i) {
                    junkBytes.push_back(static_cast<char>(faultRandom.next() & 0xff));
                }
                drop = faultRandom.chance(faults.dropFraction);
                wrongCode = faultRandom.chance(faults.wrongCodeFraction);
                duplicate = faultRandom.chance(faults.duplicateFraction);
                delayMs = faults.delayMs;
                cycle = powerCycle;
            }
        }
        if (silent) {
            transmit(Reply{reply.bytes, reply.to, nullptr}, "not sent: silent");
            continue;
        }
        if (junk) {
            transmit(Reply{junkBytes, reply.to, reply.socket}, "junk");
        }
        if (drop) {
            transmit(Reply{reply.bytes, reply.to, nullptr}, "not sent: dropped");
            continue;
        }
        std::string note = "reply";
        if (wrongCode) {
            reply.bytes.replace(2, 4, otherCode(reply.bytes.substr(2, 4)));
            note += ", wrong code";
        }
        const int copies = duplicate ? 2 : 1;
        if (duplicate) {
            note += ", duplicated";
        }
        if (delayMs == 0) {
            for (int i = 0; i < copies; ++i) {
                transmit(reply, note);
            }
            continue;
        }
        note += ", delayed " + std::to_string(delayMs) + " ms";
        auto timer = std::make_shared<boost::asio::steady_timer>(
            engine->io(), std::chrono::milliseconds(delayMs));
        timer->async_wait(
            [this, timer, reply, note, copies, cycle](const boost::system::error_code& error) {
                if (error) {
                    return;
                }
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (cycle != powerCycle || faults.silent) {
                        return; // a restart or silence came in between: the reply is lost
                    }
                }
                for (int i = 0; i < copies; ++i) {
                    transmit(reply, note);
                }
            });
    }
}

void SimulatedDevicePrivate::transmit(const Reply& reply, const std::string& note)
{
    std::string outcome = note;
    if (reply.socket) {
        boost::system::error_code error;
        reply.socket->send_to(boost::asio::buffer(reply.bytes), reply.to, 0, error);
        if (error) {
            outcome += ", send failed: " + error.message();
        }
    }
    if (options.log) {
        const bool framed = reply.bytes.size() >= headerLength;
        log(wire::timeOfDay(std::chrono::system_clock::now()) + " " + deviceName() + " -> " +
            endpointText(reply.to) + " " +
            (framed ? wire::printableHeader(reply.bytes) : std::string("-")) + " " +
            wire::hex(framed ? reply.bytes.substr(headerLength) : reply.bytes) + " " + outcome);
    }
}

void SimulatedDevicePrivate::log(const std::string& line) const
{
    options.log(line);
}

std::string SimulatedDevicePrivate::deviceName() const
{
    // Written only on this (the engine) thread, so reading it here needs no lock.
    return currentAddress + ":" + std::to_string(boundPort);
}

std::string SimulatedDevicePrivate::address() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return currentAddress;
}

Angles SimulatedDevicePrivate::currentAngles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = Clock::now();
    return {azimuthAxis.position(now), elevationAxis.position(now)};
}

Angles SimulatedDevicePrivate::targetAngles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return {azimuthAxis.target(), elevationAxis.target()};
}

bool SimulatedDevicePrivate::moving() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return Clock::now() < std::max(azimuthAxis.endTime(), elevationAxis.endTime());
}

bool SimulatedDevicePrivate::homed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return isHomed;
}

double SimulatedDevicePrivate::acceleration() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return currentAcceleration;
}

std::vector<ReceivedRequest> SimulatedDevicePrivate::requests(const std::string& code) const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<ReceivedRequest> out;
    for (const ReceivedRequest& r : received) {
        if (code.empty() || r.code() == code) {
            out.push_back(r);
        }
    }
    return out;
}

bool SimulatedDevicePrivate::waitForRequests(const std::string& code, std::size_t count,
                                             std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return requestArrived.wait_for(lock, timeout, [&] {
        return static_cast<std::size_t>(
                   std::count_if(received.begin(), received.end(), [&](const ReceivedRequest& r) {
                       return code.empty() || r.code() == code;
                   })) >= count;
    });
}

void SimulatedDevicePrivate::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
}

void SimulatedDevicePrivate::setFaults(const FaultOptions& f)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults = f;
    faultRandom = SeededRandom(f.seed);
}

void SimulatedDevicePrivate::goSilent()
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.silent = true;
}

void SimulatedDevicePrivate::restart()
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = Clock::now();
    ++powerCycle;
    ++motionGeneration;
    waiters.clear();
    azimuthAxis.halt(now);
    elevationAxis.halt(now);
    currentAcceleration = defaultAcceleration;
    isHomed = !options.requireHome;
    homing = false;
    faults.silent = false;
}

} // namespace halvik::sim
