#include "commandcodec.h"

#include <cmath>
#include <limits>

namespace halvik {

namespace {

// Products beyond the integer range (far outside what the window allows) saturate instead of
// being undefined; NaN reads as 0.
template <typename Int> Int truncateSaturating(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    const double t = std::trunc(value);
    if (t <= static_cast<double>(std::numeric_limits<Int>::min())) {
        return std::numeric_limits<Int>::min();
    }
    if (t >= static_cast<double>(std::numeric_limits<Int>::max())) {
        return std::numeric_limits<Int>::max();
    }
    return static_cast<Int>(t);
}

std::string makePointingCommand(const char* prefix, double azimuth, double elevation, double speed)
{
    std::string text(prefix);
    appendUInt16(text, scaledField16(azimuth, 100.0));
    appendUInt16(text, scaledField16(elevation, 100.0));
    appendUInt16(text, scaledField16(speed, 360.0));
    return text;
}

} // namespace

void appendUInt16(std::string& text, std::uint16_t value)
{
    text.push_back(static_cast<char>((value >> 8) & 0xff));
    text.push_back(static_cast<char>(value & 0xff));
}

void appendUInt32(std::string& text, std::uint32_t value)
{
    text.push_back(static_cast<char>((value >> 24) & 0xff));
    text.push_back(static_cast<char>((value >> 16) & 0xff));
    text.push_back(static_cast<char>((value >> 8) & 0xff));
    text.push_back(static_cast<char>(value & 0xff));
}

std::uint16_t takeUInt16(std::string& text)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 2; ++i) {
        const std::uint32_t byte = text.empty() ? 0u : static_cast<unsigned char>(text[0]);
        value = (value << 8) | byte;
        if (!text.empty()) {
            text.erase(0, 1);
        }
    }
    return static_cast<std::uint16_t>(value & 0xffff);
}

std::uint16_t scaledField16(double value, double scale)
{
    const auto n = truncateSaturating<std::int32_t>(value * scale);
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(n) & 0xffffu);
}

std::uint32_t truncatedField32(double value)
{
    const auto n = truncateSaturating<std::int64_t>(value);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(n) & 0xffffffffu);
}

std::string makeHomeCommand()
{
    return "VNHOME";
}

std::string makeGetApertureAnglesCommand()
{
    return "VNGEAA";
}

std::string makeSetApertureAnglesCommand(double azimuth, double elevation, double speed)
{
    return makePointingCommand("VNSEAA", azimuth, elevation, speed);
}

std::string makeTrackApertureAnglesCommand(double azimuth, double elevation, double speed)
{
    return makePointingCommand("VNTRAA", azimuth, elevation, speed);
}

std::string makeSetAccelerationCommand(double acceleration)
{
    std::string text("VNSEAC");
    appendUInt32(text, truncatedField32(acceleration));
    return text;
}

void decodeApertureAngles(std::string& payload, double& azimuth, double& elevation)
{
    const std::uint16_t rawAzimuth = takeUInt16(payload);
    azimuth = rawAzimuth / 100.0;
    const auto rawElevation = static_cast<std::int16_t>(takeUInt16(payload));
    elevation = rawElevation / 100.0;
}

} // namespace halvik
