#include "broadcastlistener.h"

namespace halvik::sim {

BroadcastListener::BroadcastListener(std::shared_ptr<UdpSocket> socket, Handler handler)
    : receiver(std::make_shared<Receiver>())
    , handler(std::move(handler))
{
    receiver->socket = std::move(socket);
}

BroadcastListener::~BroadcastListener()
{
    // Closing fails only for a socket that is already unusable; nothing is left to do then.
    boost::system::error_code ignored;
    receiver->socket->close(ignored);
}

void BroadcastListener::start()
{
    receive(receiver, &handler);
}

void BroadcastListener::receive(std::shared_ptr<Receiver> r, Handler* handler)
{
    Receiver& ref = *r;
    ref.socket->async_receive_from(
        boost::asio::buffer(ref.buffer), ref.from,
        [r = std::move(r), handler](const boost::system::error_code& error, std::size_t n) {
            if (error == boost::asio::error::operation_aborted || !r->socket->is_open()) {
                return;
            }
            // Other errors (an ICMP report of an earlier reply, say) only skip one datagram.
            if (!error) {
                (*handler)(std::string(r->buffer.data(), n), r->from);
            }
            receive(r, handler);
        });
}

} // namespace halvik::sim
