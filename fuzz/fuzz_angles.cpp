// Angle decoding of a GEAA result payload of any length.
#include "commandcodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string payload(reinterpret_cast<const char*>(data), size);
    double azimuth = -1;
    double elevation = -1;
    halvik::decodeApertureAngles(payload, azimuth, elevation);
    const std::size_t consumed = size < 4 ? size : 4;
    if (payload.size() != size - consumed || azimuth < 0 || azimuth > 655.35 ||
        elevation < -327.68 || elevation > 327.67) {
        std::abort();
    }
    return 0;
}
