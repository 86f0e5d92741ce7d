#include <halvik/linkmessage.h>

namespace halvik {

namespace {
constexpr std::size_t headerLength = 6;
}

bool decodeLinkMessage(const char* data, std::size_t length, const std::string& senderAddress,
                       LinkMessage& message)
{
    if (length < headerLength) {
        return false;
    }
    message.header.assign(data, headerLength);
    message.payload.assign(data + headerLength, length - headerLength);
    message.senderAddress = senderAddress;
    return true;
}

} // namespace halvik
