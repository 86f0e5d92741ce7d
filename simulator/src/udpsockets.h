#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <cstdint>
#include <memory>

namespace halvik::sim {

using UdpSocket = boost::asio::ip::udp::socket;

/// A socket bound to address:port with SO_REUSEADDR, which lets it share the port with the
/// 0.0.0.0 broadcast listeners of other simulators. Throws system_error.
std::shared_ptr<UdpSocket> bindShared(boost::asio::io_context& io,
                                      const boost::asio::ip::address_v4& address,
                                      std::uint16_t port);

/// A socket on 0.0.0.0 with a port that no socket on any address holds: bound without
/// SO_REUSEADDR (so the kernel picks a port nobody shares), then marked reusable so that the
/// devices can join it on their own addresses. Throws system_error.
std::shared_ptr<UdpSocket> reserveFreePort(boost::asio::io_context& io);

} // namespace halvik::sim
