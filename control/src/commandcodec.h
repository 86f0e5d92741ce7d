#pragma once

#include <cstdint>
#include <string>

namespace halvik {

/// Appends bits 15-8, then 7-0.
void appendUInt16(std::string& text, std::uint16_t value);
/// Appends bits 31-24, 23-16, 15-8, then 7-0.
void appendUInt32(std::string& text, std::uint32_t value);
/// Takes up to two bytes from the front of text, big-endian; missing bytes read as zero.
std::uint16_t takeUInt16(std::string& text);

/// Low 16 bits of value * scale truncated toward zero to a signed 32-bit integer.
std::uint16_t scaledField16(double value, double scale);
/// Low 32 bits of value truncated toward zero to a signed 64-bit integer.
std::uint32_t truncatedField32(double value);

std::string makeHomeCommand();
std::string makeGetApertureAnglesCommand();
std::string makeSetApertureAnglesCommand(double azimuth, double elevation, double speed);
std::string makeTrackApertureAnglesCommand(double azimuth, double elevation, double speed);
std::string makeSetAccelerationCommand(double acceleration);

/// Decodes an angles payload (unsigned azimuth, signed elevation, hundredths of a degree),
/// consuming its first four bytes.
void decodeApertureAngles(std::string& payload, double& azimuth, double& elevation);

} // namespace halvik
