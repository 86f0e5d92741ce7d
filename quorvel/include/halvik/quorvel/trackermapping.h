#pragma once

namespace halvik::quorvel {

/// Pointing target of the mouse tracker, degrees.
struct TrackerAngles
{
    double azimuth = 0.0;
    double elevation = 0.0;
};

/// Maps a position in the tracker area, as fractions of its width and height in [0, 1), to a
/// target: the left edge is azimuth 180, the centre 360, the right half wraps to 0..180; the top
/// edge is elevation -35, the bottom approaches +35. Inversion mirrors azimuth (360 - az) and
/// negates elevation.
TrackerAngles trackerAngles(double xFraction, double yFraction, bool invertX, bool invertY);

} // namespace halvik::quorvel
