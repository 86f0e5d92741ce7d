#include "rotctldsession.h"

#include "rotctldbridgeprivate.h"
#include "rotctlprotocol.h"

#include <boost/asio/error.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

namespace halvik::vantorctl {

RotctldSession::RotctldSession(boost::asio::ip::tcp::socket socket_, RotctldBridgePrivate& bridge_)
    : socket(std::move(socket_))
    , bridge(bridge_)
{
    boost::system::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    peerText = ec ? std::string("a client")
                  : remote.address().to_string() + ':' + std::to_string(remote.port());
    // Each reply is one small write that a client waits for.
    socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
}

void RotctldSession::start()
{
    bridge.log("connection from " + peerText);
    readLine();
}

void RotctldSession::close()
{
    boost::system::error_code ignored;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

void RotctldSession::readLine()
{
    boost::asio::async_read_until(
        socket, input, '\n',
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t length) {
            self->handleLine(error, length);
        });
}

void RotctldSession::handleLine(const boost::system::error_code& error, std::size_t length)
{
    if (error == boost::asio::error::not_found) {
        bridge.log(peerText + ": a line longer than " + std::to_string(maxLine) +
                   " bytes; connection closed");
        send("RPRT -" + std::to_string(rotctl::hamlib::InvalidArgument) + "\n", true);
        return;
    }
    if (error) {
        // End of stream, reset, or closed by the bridge: nothing is owed to anyone.
        close();
        return;
    }
    const char* data = static_cast<const char*>(input.data().data());
    const std::string line(data, length - 1);
    input.consume(length);

    const rotctl::Request request = rotctl::parseRequest(line);
    if (request.verb == rotctl::Verb::Quit) {
        close();
        return;
    }
    if (request.verb == rotctl::Verb::None) {
        readLine();
        return;
    }
    bridge.handle(request, peerText,
                  [self = shared_from_this()](std::string reply) { self->send(reply, false); });
}

void RotctldSession::send(std::string text, bool thenClose)
{
    output = std::move(text);
    boost::asio::async_write(socket, boost::asio::buffer(output),
                             [self = shared_from_this(),
                              thenClose](const boost::system::error_code& error, std::size_t) {
                                 if (error || thenClose) {
                                     self->close();
                                 } else {
                                     self->readLine();
                                 }
                             });
}

} // namespace halvik::vantorctl
