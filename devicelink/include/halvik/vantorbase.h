#pragma once

#include <halvik/linkmessage.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/shared_ptr.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace boost {
class thread;
}

namespace halvik {

/// UDP link to one remote endpoint; base of every device client.
///
/// Sends from the caller's thread and hands every received datagram of 6 bytes or more to
/// handleMessage on its own receive thread, one at a time. The constructor sends the greeting and
/// arms the first receive; start() then starts the receive thread.
class VantorBase
{
public:
    /// Opens the link: may throw boost::system::system_error ("open", "set_option", "bind",
    /// "send_to") or an invalid-argument error for an address that is not dotted IPv4.
    VantorBase(const std::string& address, std::uint16_t remotePort, std::uint16_t localPort);
    virtual ~VantorBase();

    VantorBase(const VantorBase&) = delete;
    VantorBase& operator=(const VantorBase&) = delete;

    /// Local UDP port of the link's socket (for tests and diagnostics).
    std::uint16_t localPort() const;

protected:
    /// Starts the receive thread; the most-derived client calls it at the end of its
    /// constructor, so that no datagram reaches handleMessage of a half-built object.
    /// Calls after the first do nothing.
    void start();

    /// Sends text as one datagram to the remote endpoint; throws system_error "send_to".
    void sendMessage(const std::string& text);

    /// Called on the receive thread, once per datagram of 6 bytes or more.
    virtual void handleMessage(LinkMessage message) = 0;

    /// Stops the receive thread and closes the socket. Safe to call more than once; every
    /// derived client calls it in its destructor before its own members go.
    void shutdown();

    /// Test seam: makes the armed receive complete with an error (operation aborted).
    void failPendingReceive();

    /// Datagrams received so far, of any length or content; any thread may read it.
    std::uint64_t datagramsReceived() const
    {
        return receivedCount.load(std::memory_order_relaxed);
    }

    /// The event loop of the receive thread; clients may run their own timers on it.
    boost::shared_ptr<boost::asio::io_context> ioService;

private:
    // State that the receive thread may still read after the link object is gone (when a
    // client is destroyed from its own handleMessage).
    struct Shared
    {
        std::atomic<bool> closing{false};
    };

    void startReceive();
    void handleReceive(const boost::system::error_code& error, std::size_t byteCount);
    static void runIoService(VantorBase* link, boost::shared_ptr<boost::asio::io_context> io,
                             std::shared_ptr<Shared> shared);

    boost::shared_ptr<boost::asio::ip::udp::socket> socket;
    boost::shared_ptr<boost::thread> ioThread;
    boost::asio::ip::udp::endpoint remoteEndpoint;
    boost::asio::ip::udp::endpoint senderEndpoint;
    std::array<char, 1024> receiveBuffer{};
    std::shared_ptr<Shared> shared;
    std::atomic<std::uint64_t> receivedCount{0};
    /// Touched only on the receive thread (and in the constructor before it starts).
    bool receiveArmed = false;
    bool shutDown = false;
    /// Held by start() until ioThread is set, so the thread never sees it half-written.
    std::mutex startMutex;
};

} // namespace halvik
