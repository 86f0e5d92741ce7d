// Address check and IP change request: the first byte is the serial's length, then the serial,
// then the address text. A valid address has to be plain dotted decimal, and the request has to
// carry exactly its four parts after the serial.
#include "setiprequest.h"
#include "vantormanagerprivate.h"

#include <boost/asio/ip/address_v4.hpp>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Four decimal parts of 1 to 3 digits, each at most 255, and nothing else.
std::optional<std::array<unsigned char, 4>> plainDottedDecimal(const std::string& text)
{
    std::array<unsigned char, 4> parts{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        parts[i] = static_cast<unsigned char>(value);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return parts;
}

bool hasLeadingZero(const std::string& text)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const bool partStart = i == 0 || text[i - 1] == '.';
        if (partStart && text[i] == '0' && text[i + 1] != '.') {
            return true;
        }
    }
    return false;
}

} // namespace

// Addresses are only checked and turned into request bytes here; nothing is sent anywhere.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t serialLength = data[0] < size - 1 ? data[0] : size - 1;
    const std::string serial(reinterpret_cast<const char*>(data + 1), serialLength);
    const std::string text(reinterpret_cast<const char*>(data + 1 + serialLength),
                           size - 1 - serialLength);

    const bool valid = halvik::VantorManagerPrivate::isValidAddress(text);
    const auto plain = plainDottedDecimal(text);
    // Leading zeros ("010.1.1.1") are left to the platform's conversion: either answer is fine,
    // as long as a valid text still gives the parts as written.
    if (plain && !hasLeadingZero(text) && !valid) {
        std::abort();
    }
    if (!valid) {
        return 0;
    }
    if (!plain) {
        std::abort(); // something other than four dotted decimal parts was accepted
    }
    const std::string request =
        halvik::makeSetIpRequest(serial, boost::asio::ip::make_address_v4(text));
    if (request.size() != serial.size() + 10 || request.compare(0, 6, "VNSIPC") != 0 ||
        request.compare(6, serial.size(), serial) != 0) {
        std::abort();
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (static_cast<unsigned char>(request[6 + serial.size() + i]) != (*plain)[i]) {
            std::abort();
        }
    }
    return 0;
}
