#include "setiprequest.h"

namespace halvik {

std::string makeSetIpRequest(const std::string& serial, const boost::asio::ip::address_v4& address)
{
    // to_bytes() is in network order, which is the order the parts are written in.
    const auto bytes = address.to_bytes();
    std::string request = "VNSIPC";
    request.reserve(request.size() + serial.size() + bytes.size());
    request += serial;
    for (const unsigned char byte : bytes) {
        request.push_back(static_cast<char>(byte));
    }
    return request;
}

} // namespace halvik
