#pragma once

#include <boost/asio/ip/address_v4.hpp>

#include <string>

namespace halvik {

/// The IP change request: "VNSIPC", the serial byte for byte, then the four bytes of the new
/// address, first dotted part first.
std::string makeSetIpRequest(const std::string& serial, const boost::asio::ip::address_v4& address);

} // namespace halvik
