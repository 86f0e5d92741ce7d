#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace halvik::test {

/// One datagram as the peer received it.
struct Datagram
{
    std::string bytes;
    boost::asio::ip::udp::endpoint sender;
    std::chrono::steady_clock::time_point when;
};

/// A UDP peer on loopback that records every datagram and answers with the bytes a test chose.
class ScriptedPeer
{
public:
    /// Replies to one request; each returned string goes back to the sender as one datagram.
    using Responder = std::function<std::vector<std::string>(const std::string& request)>;

    /// Binds to address:port (port 0: an ephemeral one). reuseAddress lets several peers share a
    /// broadcast port.
    explicit ScriptedPeer(const std::string& address = "127.0.0.1", std::uint16_t port = 0,
                          bool reuseAddress = false);
    ~ScriptedPeer();

    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t port() const { return boundPort; }
    boost::asio::ip::udp::endpoint endpoint() const;

    void setResponder(Responder responder);
    /// Answers every request whose bytes 2-5 equal code with replies.
    void answer(const std::string& code, std::vector<std::string> replies);

    void sendTo(const std::string& bytes, const boost::asio::ip::udp::endpoint& to);
    /// Sends to the sender of the most recent datagram.
    void sendToLastSender(const std::string& bytes);

    std::vector<Datagram> received() const;
    std::size_t receivedCount() const;
    /// Datagrams received whose bytes 2-5 equal code.
    std::vector<Datagram> receivedWithCode(const std::string& code) const;
    /// Waits until at least count datagrams arrived; false on time-out.
    bool waitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const;
    void clear();

private:
    void startReceive();

    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket;
    boost::asio::ip::udp::endpoint from;
    std::array<char, 65536> buffer{};
    std::uint16_t boundPort = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    std::vector<Datagram> log;
    Responder responder;
    std::vector<std::pair<std::string, std::vector<std::string>>> answers;
    boost::asio::ip::udp::endpoint lastSender;
    std::thread thread;
};

} // namespace halvik::test
