#include "udpsockets.h"

namespace halvik::sim {

using boost::asio::ip::udp;

std::shared_ptr<UdpSocket> bindShared(boost::asio::io_context& io,
                                      const boost::asio::ip::address_v4& address,
                                      std::uint16_t port)
{
    auto socket = std::make_shared<UdpSocket>(io);
    socket->open(udp::v4());
    socket->set_option(boost::asio::socket_base::reuse_address(true));
    socket->bind(udp::endpoint(address, port));
    return socket;
}

std::shared_ptr<UdpSocket> reserveFreePort(boost::asio::io_context& io)
{
    auto socket = std::make_shared<UdpSocket>(io);
    socket->open(udp::v4());
    socket->bind(udp::endpoint(boost::asio::ip::address_v4::any(), 0));
    socket->set_option(boost::asio::socket_base::reuse_address(true));
    return socket;
}

} // namespace halvik::sim
