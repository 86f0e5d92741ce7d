#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace halvik::sim::wire {

/// Big-endian 16-bit field at offset (the caller checks the length).
std::uint16_t readUInt16(const std::string& bytes, std::size_t offset);
/// Big-endian 32-bit field at offset (the caller checks the length).
std::uint32_t readUInt32(const std::string& bytes, std::size_t offset);
void appendUInt16(std::string& bytes, std::uint16_t value);

/// Lower-case hex, two digits per byte, no separators; "-" for no bytes.
std::string hex(const std::string& bytes);
/// The header when it is six printable characters, else its bytes in hex.
std::string printableHeader(const std::string& bytes);
/// value with a fixed number of decimals and '.' as the point, whatever the locale.
std::string fixed(double value, int decimals);
/// UTC time of day "HH:MM:SS.mmm".
std::string timeOfDay(std::chrono::system_clock::time_point when);

} // namespace halvik::sim::wire
