#include "rotctldbridgeprivate.h"
#include "rotctldsession.h"

#include <halvik/vantorctl/rotctldbridge.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>

namespace halvik::vantorctl {

namespace {

constexpr int noError = 0;

} // namespace

RotctldBridgePrivate::RotctldBridgePrivate(const RotctldSettings& settings_, std::ostream& logTo)
    : acceptor(io)
    , settings(settings_)
    , logStream(logTo)
    , acceptRetry(io)
    , device(settings_.deviceAddress, settings_.devicePort)
    , deviceWork(deviceIo.get_executor())
{
    using boost::asio::ip::tcp;
    const tcp::endpoint endpoint(boost::asio::ip::make_address_v4(settings.listenHost),
                                 settings.listenPort);
    acceptor.open(endpoint.protocol());
    // A restarted bridge must not wait for the last one's connections to time out; on Windows
    // the same option would let two bridges share the port, and there a closed port is free at
    // once anyway.
#ifndef _WIN32
    acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
    acceptor.bind(endpoint);
    acceptor.listen();
    listeningPort = acceptor.local_endpoint().port();
    deviceThread = std::thread([this] { runReportingErrors(deviceIo, "on the device thread"); });
}

RotctldBridgePrivate::~RotctldBridgePrivate()
{
    stopDeviceThread();
}

void RotctldBridgePrivate::runReportingErrors(boost::asio::io_context& context, const char* where)
{
    // A handler that throws is reported; the thread goes on serving the others.
    for (;;) {
        try {
            context.run();
            return;
        } catch (const std::exception& e) {
            log(std::string("internal error ") + where + ": " + e.what());
        }
    }
}

void RotctldBridgePrivate::stopDeviceThread()
{
    // The command in progress ends first: a transaction is never cut short.
    deviceWork.reset();
    deviceIo.stop();
    if (deviceThread.joinable()) {
        deviceThread.join();
    }
}

void RotctldBridgePrivate::log(const std::string& line)
{
    const std::lock_guard<std::mutex> lock(logMutex);
    logStream << "vantorctl: rotctld: " << line << std::endl;
}

void RotctldBridgePrivate::run()
{
    log("listening on " + settings.listenHost + ':' + std::to_string(listeningPort) +
        " for the Vantor at " + settings.deviceAddress + ':' + std::to_string(settings.devicePort));
    accept();
    runReportingErrors(io, "on the network thread");
    stopDeviceThread();
}

void RotctldBridgePrivate::stop()
{
    boost::asio::post(io, [this] { shutdownOnNetworkThread(); });
}

void RotctldBridgePrivate::stopOnSignals()
{
    signals.emplace(io, SIGINT, SIGTERM);
    signals->async_wait([this](const boost::system::error_code& error, int) {
        if (!error) {
            log("stopping");
            shutdownOnNetworkThread();
        }
    });
}

void RotctldBridgePrivate::shutdownOnNetworkThread()
{
    if (stopped) {
        return;
    }
    stopped = true;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    if (signals) {
        signals->cancel(ignored);
    }
    for (const auto& weak : sessions) {
        if (const auto session = weak.lock()) {
            session->close();
        }
    }
    sessions.clear();
    io.stop();
}

void RotctldBridgePrivate::accept()
{
    acceptor.async_accept(
        [this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
            if (stopped || error == boost::asio::error::operation_aborted) {
                return;
            }
            if (error) {
                // Out of descriptors, or a connection reset before it was taken: try again shortly
                // rather than spin.
                log("accepting a connection failed: " + error.message());
                acceptRetry.expires_after(std::chrono::milliseconds(100));
                acceptRetry.async_wait([this](const boost::system::error_code& e) {
                    if (!e && !stopped) {
                        accept();
                    }
                });
                return;
            }
            sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                          [](const auto& weak) { return weak.expired(); }),
                           sessions.end());
            auto session = std::make_shared<RotctldSession>(std::move(socket), *this);
            sessions.push_back(session);
            session->start();
            accept();
        });
}

void RotctldBridgePrivate::handle(const rotctl::Request& request, const std::string& peer,
                                  Reply reply)
{
    using rotctl::Verb;
    namespace hamlib = rotctl::hamlib;
    if (request.verb == Verb::Unknown) {
        reply(rotctl::formatReply(request, hamlib::NotImplemented));
        return;
    }
    if (request.badArguments) {
        reply(rotctl::formatReply(request, hamlib::InvalidArgument));
        return;
    }
    if (request.verb == Verb::DumpState) {
        // Hamlib's client checks positions against these before it sends them; the mapping of
        // -180..0 lets through what the device frame takes.
        reply(rotctl::dumpStateReply(
            request, {settings.maxAzimuth > 180.0 ? -180.0 : settings.minAzimuth,
                      settings.maxAzimuth, settings.minElevation, settings.maxElevation}));
        return;
    }
    if (request.verb == Verb::GetInfo) {
        reply(rotctl::formatReply(request, noError,
                                  {{"Info", "Vantor " + settings.deviceAddress + ':' +
                                                std::to_string(settings.devicePort)}}));
        return;
    }
    double azimuth = request.azimuth;
    if (request.verb == Verb::SetPosition) {
        // Clients count azimuth from -180 to 180 or from 0 to 360; the device from 0 to 360.
        if (azimuth >= -180.0 && azimuth < 0.0) {
            azimuth += 360.0;
        }
        if (!(azimuth >= settings.minAzimuth && azimuth <= settings.maxAzimuth &&
              request.elevation >= settings.minElevation &&
              request.elevation <= settings.maxElevation)) {
            reply(rotctl::formatReply(request, hamlib::InvalidArgument));
            return;
        }
    }
    boost::asio::post(deviceIo, [this, request, azimuth, peer, reply = std::move(reply)] {
        std::string text;
        try {
            text = deviceCommand(request, azimuth, peer);
        } catch (const std::exception& e) {
            // The link itself failed (a send refused); the next request tries again.
            lastTarget.reset();
            logFailure(peer, request, std::string("link failure: ") + e.what());
            text = rotctl::formatReply(request, hamlib::Io);
        }
        boost::asio::post(io, [reply, text] { reply(text); });
    });
}

std::string RotctldBridgePrivate::deviceCommand(const rotctl::Request& request, double azimuth,
                                                const std::string& peer)
{
    using rotctl::Verb;
    const auto answer = [&](int status, const char* operation,
                            const std::vector<std::pair<std::string, std::string>>& values = {}) {
        if (status != noError) {
            logFailure(peer, request, std::string(operation) + ": " + Vantor::StatusText(status));
        }
        return rotctl::formatReply(request, rotctl::hamlibError(status), values);
    };
    switch (request.verb) {
    case Verb::GetPosition: {
        double az = 0.0;
        double el = 0.0;
        const int status = device.GetApertureAngles(az, el);
        return answer(status, "GetApertureAngles",
                      {{"Azimuth", rotctl::fixed(az, 2)}, {"Elevation", rotctl::fixed(el, 2)}});
    }
    case Verb::SetPosition: {
        // Trackers repeat their target every cycle; within the deadband the device keeps going.
        if (settings.deadband > 0.0 && lastTarget &&
            std::fabs(azimuth - lastTarget->azimuth) < settings.deadband &&
            std::fabs(request.elevation - lastTarget->elevation) < settings.deadband) {
            return rotctl::formatReply(request, noError);
        }
        const int status =
            settings.set ? device.SetApertureAngles(azimuth, request.elevation, settings.speed)
                         : device.TrackApertureAngles(azimuth, request.elevation, settings.speed);
        if (status == noError) {
            lastTarget = Target{azimuth, request.elevation};
        } else {
            lastTarget.reset();
        }
        return answer(status, settings.set ? "SetApertureAngles" : "TrackApertureAngles");
    }
    case Verb::Stop: {
        lastTarget.reset();
        double az = 0.0;
        double el = 0.0;
        int status = device.GetApertureAngles(az, el);
        if (status != noError) {
            return answer(status, "GetApertureAngles");
        }
        status = device.TrackApertureAngles(az, el, settings.speed);
        return answer(status, "TrackApertureAngles");
    }
    case Verb::Park:
        lastTarget.reset();
        return answer(device.Home(), "Home");
    default:
        return rotctl::formatReply(request, rotctl::hamlib::NotImplemented);
    }
}

void RotctldBridgePrivate::logFailure(const std::string& peer, const rotctl::Request& request,
                                      const std::string& what)
{
    std::string command = request.name;
    for (const std::string& argument : request.arguments) {
        command += ' ' + argument;
    }
    log(peer + ": " + command + ": " + what);
}

RotctldBridge::RotctldBridge(const RotctldSettings& settings, std::ostream& log)
    : d(std::make_unique<RotctldBridgePrivate>(settings, log))
{}

RotctldBridge::~RotctldBridge() = default;

std::uint16_t RotctldBridge::port() const
{
    return d->listeningPort;
}

void RotctldBridge::run()
{
    d->run();
}

void RotctldBridge::stop()
{
    d->stop();
}

void RotctldBridge::stopOnSignals()
{
    d->stopOnSignals();
}

} // namespace halvik::vantorctl
