#include <halvik/vantorbase.h>

#include <boost/asio/post.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>

#include <iostream>
#include <stdexcept>

#ifdef _WIN32
#include <mswsock.h>
#endif

namespace halvik {

namespace {

#ifdef _WIN32
// Winsock reports an ICMP port-unreachable for an earlier datagram (a switched-off device, a
// closed port) as a failed receive on a UDP socket, WSAECONNRESET. This command switches that
// report off, so that the link's receive never fails for what a send left behind.
class ReportConnectionReset
{
public:
    explicit ReportConnectionReset(bool on)
        : value(on ? 1 : 0)
    {}
    int name() const { return static_cast<int>(SIO_UDP_CONNRESET); }
    void* data() { return &value; }

private:
    unsigned long value;
};
#endif

constexpr std::size_t maxDatagram = 1023;
constexpr std::size_t headerLength = 6;
// A burst of discovery answers overflows the default buffer (about 256 small datagrams).
constexpr int wantedReceiveBufferBytes = 1 << 20;
} // namespace

VantorBase::VantorBase(const std::string& address, std::uint16_t remotePort,
                       std::uint16_t localPort)
    : shared(std::make_shared<Shared>())
{
    using boost::asio::ip::udp;

    // Throws system_error (invalid argument) before any socket or thread exists.
    const auto remoteAddress = boost::asio::ip::make_address_v4(address);
    remoteEndpoint = udp::endpoint(remoteAddress, remotePort);

    ioService = boost::make_shared<boost::asio::io_context>();
    socket = boost::make_shared<udp::socket>(*ioService);
    socket->open(remoteEndpoint.protocol());
    socket->set_option(boost::asio::socket_base::broadcast(true));
#ifdef _WIN32
    {
        // Without it the re-armed receive still keeps the link alive, one report at a time.
        boost::system::error_code ignored;
        ReportConnectionReset off(false);
        socket->io_control(off, ignored);
    }
#endif
    {
        // A refused size is not an error: the link works with the system's default.
        boost::system::error_code ignored;
        socket->set_option(boost::asio::socket_base::receive_buffer_size(wantedReceiveBufferBytes),
                           ignored);
    }
    if (localPort != 0) {
        socket->bind(udp::endpoint(boost::asio::ip::address_v4::any(), localPort));
    }
    // The greeting goes out before the first receive is armed, and the receive is armed before
    // the thread starts (in start(), once the derived client is complete).
    static const char greeting[] = "VNPPPP";
    socket->send_to(boost::asio::buffer(greeting, headerLength), remoteEndpoint);
    startReceive();
}

void VantorBase::start()
{
    if (ioThread || shutDown) {
        return;
    }
    const std::lock_guard<std::mutex> lock(startMutex);
    ioThread =
        boost::make_shared<boost::thread>(&VantorBase::runIoService, this, ioService, shared);
}

VantorBase::~VantorBase()
{
    shutdown();
    ioThread.reset();
    socket.reset();
    ioService.reset();
}

std::uint16_t VantorBase::localPort() const
{
    boost::system::error_code ec;
    const auto endpoint = socket->local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void VantorBase::sendMessage(const std::string& text)
{
    socket->send_to(boost::asio::buffer(text), remoteEndpoint);
}

void VantorBase::shutdown()
{
    if (shutDown) {
        return;
    }
    shutDown = true;
    shared->closing = true;
    if (ioService) {
        ioService->stop();
    }
    if (ioThread) {
        if (ioThread->get_id() == boost::this_thread::get_id()) {
            // Destroyed from its own handleMessage: the thread cannot join itself. It touches
            // nothing of this object once it sees `closing`, and keeps the io context alive.
            ioThread->detach();
        } else {
            ioThread->join();
        }
    }
    if (socket) {
        // Closing can only fail for a socket that is already unusable; teardown goes on.
        boost::system::error_code ignored;
        socket->close(ignored);
    }
}

void VantorBase::failPendingReceive()
{
    boost::asio::post(*ioService, [this] {
        boost::system::error_code ignored;
        socket->cancel(ignored);
    });
}

void VantorBase::startReceive()
{
    receiveArmed = true;
    socket->async_receive_from(boost::asio::buffer(receiveBuffer.data(), maxDatagram),
                               senderEndpoint, 0,
                               [this](const boost::system::error_code& error,
                                      std::size_t byteCount) { handleReceive(error, byteCount); });
}

void VantorBase::handleReceive(const boost::system::error_code& error, std::size_t byteCount)
{
    receiveArmed = false;
    if (shared->closing) {
        return;
    }
    if (error) {
        throw std::runtime_error("VantorBase: Socket recieve error. Socket error code " +
                                 std::to_string(error.value()));
    }
    receivedCount.fetch_add(1, std::memory_order_relaxed);
    receiveBuffer[byteCount] = 0;
    LinkMessage message;
    if (decodeLinkMessage(receiveBuffer.data(), byteCount, senderEndpoint.address().to_string(),
                          message)) {
        const std::shared_ptr<Shared> keep = shared;
        handleMessage(std::move(message));
        if (keep->closing) {
            return; // the client may have been destroyed inside handleMessage
        }
    }
    startReceive();
}

void VantorBase::runIoService(VantorBase* link, boost::shared_ptr<boost::asio::io_context> io,
                              std::shared_ptr<Shared> shared)
{
    {
        // Wait until start() has stored ioThread: shutdown() on this thread reads it.
        const std::lock_guard<std::mutex> lock(link->startMutex);
    }
    while (!shared->closing) {
        try {
            // Returns when stopped, or when nothing is left to do (no receive, no timer):
            // then the thread ends instead of running an empty loop again and again.
            io->run();
            return;
        } catch (const std::exception& e) {
            std::cerr << e.what() << std::endl;
        } catch (...) {
            std::cerr << "VantorBase: unknown exception on the receive thread" << std::endl;
        }
        // A failed receive or a throwing handler must not end the process or deafen the link.
        if (shared->closing) {
            return;
        }
        if (!link->receiveArmed) {
            try {
                link->startReceive();
            } catch (const std::exception& e) {
                std::cerr << "VantorBase: cannot receive any more: " << e.what() << std::endl;
                return;
            }
        }
        // The io context stops itself when the throwing handler was its last work. Restart it,
        // then look at `closing` again: a shutdown that stopped it before the restart has set
        // `closing` first, so it is seen here and the thread ends instead of blocking forever.
        io->restart();
        if (shared->closing) {
            return;
        }
    }
}

} // namespace halvik
