#pragma once

#include "rotctlprotocol.h"

#include <halvik/vantor.h>
#include <halvik/vantorctl/rotctldbridge.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

namespace halvik::vantorctl {

class RotctldSession;

class RotctldBridgePrivate
{
public:
    using Reply = std::function<void(std::string)>;

    RotctldBridgePrivate(const RotctldSettings& settings, std::ostream& log);
    ~RotctldBridgePrivate();

    /// Answers a request of `peer`: at once when it needs no device, otherwise after the
    /// device commands queued before it. `reply` runs on the network thread.
    void handle(const rotctl::Request& request, const std::string& peer, Reply reply);
    void log(const std::string& line);

    void run();
    void stop();
    void stopOnSignals();

    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    std::uint16_t listeningPort = 0;

private:
    struct Target
    {
        double azimuth;
        double elevation;
    };

    void runReportingErrors(boost::asio::io_context& context, const char* where);
    void stopDeviceThread();
    void accept();
    void shutdownOnNetworkThread();
    /// Runs on the device thread.
    std::string deviceCommand(const rotctl::Request& request, double azimuth,
                              const std::string& peer);
    void logFailure(const std::string& peer, const rotctl::Request& request,
                    const std::string& what);

    const RotctldSettings settings;
    std::ostream& logStream;
    std::mutex logMutex;

    boost::asio::steady_timer acceptRetry;
    std::optional<boost::asio::signal_set> signals;
    std::vector<std::weak_ptr<RotctldSession>> sessions;
    bool stopped = false;

    // The device side: one thread, one command at a time, in arrival order.
    Vantor device;
    std::optional<Target> lastTarget; // device thread only
    boost::asio::io_context deviceIo;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> deviceWork;
    std::thread deviceThread;
};

} // namespace halvik::vantorctl
