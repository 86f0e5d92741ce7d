#include "wire.h"

#include <charconv>
#include <cmath>

namespace halvik::sim::wire {

std::uint16_t readUInt16(const std::string& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[offset]) << 8) |
                                      static_cast<unsigned char>(bytes[offset + 1]));
}

std::uint32_t readUInt32(const std::string& bytes, std::size_t offset)
{
    return (std::uint32_t{readUInt16(bytes, offset)} << 16) | readUInt16(bytes, offset + 2);
}

void appendUInt16(std::string& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<char>(value >> 8));
    bytes.push_back(static_cast<char>(value & 0xff));
}

std::string hex(const std::string& bytes)
{
    if (bytes.empty()) {
        return "-";
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

std::string printableHeader(const std::string& bytes)
{
    const std::string header = bytes.substr(0, 6);
    for (char c : header) {
        if (c < 0x21 || c > 0x7e) {
            return "0x" + hex(header);
        }
    }
    return header;
}

std::string fixed(double value, int decimals)
{
    if (!std::isfinite(value)) {
        return "nan";
    }
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string timeOfDay(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count() % 86400000;
    auto two = [](long long v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); };
    std::string millis = std::to_string(ms % 1000);
    millis.insert(0, 3 - millis.size(), '0');
    return two(ms / 3600000) + ":" + two(ms / 60000 % 60) + ":" + two(ms / 1000 % 60) + "." +
           millis;
}

} // namespace halvik::sim::wire
