// Datagram decoding: any bytes, any length.
#include <halvik/linkmessage.h>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    halvik::LinkMessage message;
    const bool decoded =
        halvik::decodeLinkMessage(reinterpret_cast<const char*>(data), size, "127.0.0.1", message);
    if (decoded != (size >= 6)) {
        std::abort();
    }
    if (decoded && (message.header.size() != 6 || message.payload.size() != size - 6)) {
        std::abort();
    }
    return 0;
}
