#include <halvik/quorvel/trackermapping.h>

namespace halvik::quorvel {

TrackerAngles trackerAngles(double xFraction, double yFraction, bool invertX, bool invertY)
{
    TrackerAngles angles;
    angles.azimuth = xFraction * 360.0 + 180.0;
    if (angles.azimuth > 360.0) {
        angles.azimuth -= 360.0;
    }
    angles.elevation = yFraction * 70.0 - 35.0;
    if (invertX) {
        angles.azimuth = 360.0 - angles.azimuth;
    }
    if (invertY) {
        angles.elevation = -angles.elevation;
    }
    return angles;
}

} // namespace halvik::quorvel
