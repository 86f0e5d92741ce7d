#include <halvik/quorvel/trackermapping.h>

#include <gtest/gtest.h>

using halvik::quorvel::trackerAngles;

struct TrackerCase
{
    int x;
    int y;
    bool invertX;
    bool invertY;
    double azimuth;
    double elevation;
};

class TrackerMapping : public ::testing::TestWithParam<TrackerCase>
{};

// Positions in pixels of the 100 x 100 tracker area.
TEST_P(TrackerMapping, MapsAPixelToAzimuthAndElevation)
{
    const TrackerCase& c = GetParam();
    const auto angles = trackerAngles(c.x / 100.0, c.y / 100.0, c.invertX, c.invertY);
    EXPECT_NEAR(angles.azimuth, c.azimuth, 1e-9);
    EXPECT_NEAR(angles.elevation, c.elevation, 1e-9);
    EXPECT_GE(angles.azimuth, 0.0);
    EXPECT_LE(angles.azimuth, 360.0);
    EXPECT_GE(angles.elevation, -35.0);
    EXPECT_LE(angles.elevation, 35.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrackerMapping,
                         ::testing::Values(TrackerCase{0, 0, false, false, 180.0, -35.0},
                                           TrackerCase{25, 25, false, false, 270.0, -17.5},
                                           TrackerCase{50, 50, false, false, 360.0, 0.0},
                                           TrackerCase{51, 50, false, false, 3.6, 0.0},
                                           TrackerCase{75, 75, false, false, 90.0, 17.5},
                                           TrackerCase{99, 99, false, false, 176.4, 34.3},
                                           TrackerCase{50, 0, true, false, 0.0, -35.0},
                                           TrackerCase{0, 0, true, false, 180.0, -35.0},
                                           TrackerCase{51, 50, true, false, 356.4, 0.0},
                                           TrackerCase{0, 0, false, true, 180.0, 35.0},
                                           TrackerCase{0, 99, false, true, 180.0, -34.3},
                                           TrackerCase{25, 25, true, true, 90.0, 17.5}),
                         [](const auto& info) {
                             const TrackerCase& c = info.param;
                             return "X" + std::to_string(c.x) + "Y" + std::to_string(c.y) +
                                    (c.invertX ? "InvertX" : "") + (c.invertY ? "InvertY" : "");
                         });
