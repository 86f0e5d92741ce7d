#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace halvik::bench {

/// The least a device can be: one thread with a blocking UDP socket that answers every GEAA
/// request at once with "ERGEAA" and four angle bytes, and ignores everything else.
class GeaaResponder
{
public:
    /// Binds address:0 and starts answering; throws std::runtime_error when it cannot bind.
    explicit GeaaResponder(const std::string& address);
    /// Stops the thread and closes the socket.
    ~GeaaResponder();

    GeaaResponder(const GeaaResponder&) = delete;
    GeaaResponder& operator=(const GeaaResponder&) = delete;

    /// The bound port.
    std::uint16_t port() const { return boundPort; }
    /// The bound address.
    const std::string& address() const { return boundAddress; }
    /// Requests answered so far.
    std::uint64_t answered() const { return answeredCount; }
    /// CPU seconds its thread has used, so that a client's share of the process can be told.
    double cpuSeconds();

    /// The reply's four payload bytes decode to these angles (degrees).
    static constexpr double azimuth = 12.34;
    static constexpr double elevation = -5.0;

private:
    void serve();

    int fd = -1;
    std::string boundAddress;
    std::uint16_t boundPort = 0;
    std::atomic<bool> stopping{false};
    std::atomic<std::uint64_t> answeredCount{0};
    std::thread thread;
};

} // namespace halvik::bench
