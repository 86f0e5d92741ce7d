#pragma once

#include <cstddef>
#include <string>

namespace halvik {

/// One received datagram of at least 6 bytes, decoded by the link.
struct LinkMessage
{
    /// Bytes 0-5: two-letter kind and four-letter command code.
    std::string header;
    /// Bytes 6 to the end, zero bytes included; empty for a 6-byte datagram.
    std::string payload;
    /// Dotted-decimal IPv4 address of the sender, without a port.
    std::string senderAddress;
};

/// Decodes one received datagram; false (and message untouched) when it is shorter than 6 bytes.
bool decodeLinkMessage(const char* data, std::size_t length, const std::string& senderAddress,
                       LinkMessage& message);

} // namespace halvik
