#include <halvik/simulateddevice.h>
#include <halvik/vantor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;
using halvik::Vantor;
using halvik::sim::DeviceOptions;
using halvik::sim::SimulatedDevice;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Distance covered t seconds after a rest-to-rest move of `distance` started, with the speed
// limit v and acceleration a: the physics the read-back must follow.
double travelled(double distance, double v, double a, double t)
{
    double rampTime = v / a;
    if (a * rampTime * rampTime > distance) {
        rampTime = std::sqrt(distance / a);
        v = a * rampTime;
    }
    const double ramp = 0.5 * a * rampTime * rampTime;
    const double cruiseTime = (distance - 2.0 * ramp) / v;
    if (t <= 0.0) {
        return 0.0;
    }
    if (t < rampTime) {
        return 0.5 * a * t * t;
    }
    if (t < rampTime + cruiseTime) {
        return ramp + v * (t - rampTime);
    }
    const double braking = t - rampTime - cruiseTime;
    if (braking < rampTime) {
        return ramp + v * cruiseTime + v * braking - 0.5 * a * braking * braking;
    }
    return distance;
}

double moveTime(double distance, double v, double a)
{
    const double rampTime = std::min(v / a, std::sqrt(distance / a));
    const double peak = a * rampTime;
    return 2.0 * rampTime + (distance - peak * rampTime) / peak;
}

DeviceOptions deviceOn(double noise, bool requireHome = false)
{
    DeviceOptions o;
    o.address = "127.0.0.2";
    o.port = 0; // a port of its own: tests run in parallel
    o.readbackNoise = noise;
    o.requireHome = requireHome;
    return o;
}

constexpr double noise = 0.02;
// Noise plus the hundredths of the wire plus rounding.
constexpr double readTolerance = noise + 0.011;

} // namespace

TEST(SimulatedPointing, HomeMoveAndReadBackTheTargetWithSmallNonZeroErrors)
{
    SimulatedDevice device(deviceOn(noise));
    Vantor vantor(device.address(), device.port());

    ASSERT_EQ(vantor.Home(), 0);
    ASSERT_EQ(vantor.SetApertureAngles(123.45, -20.5, 10), 0);
    EXPECT_FALSE(device.moving());
    EXPECT_NEAR(device.currentAngles().azimuth, 123.45, 1e-9);
    EXPECT_NEAR(device.currentAngles().elevation, -20.5, 1e-9);

    bool someError = false;
    for (int i = 0; i < 10; ++i) {
        double az = -1;
        double el = -1;
        ASSERT_EQ(vantor.GetApertureAngles(az, el), 0);
        EXPECT_NEAR(az, 123.45, readTolerance);
        EXPECT_NEAR(el, -20.5, readTolerance);
        someError = someError || std::fabs(az - 123.45) > 0.005 || std::fabs(el + 20.5) > 0.005;
    }
    EXPECT_TRUE(someError) << "a path run needs small, non-zero pointing errors";

    // The client's greeting arrived and was recorded, unanswered.
    EXPECT_TRUE(device.waitForRequests("PPPP", 1, 2s));
    EXPECT_EQ(device.requests("PPPP").front().bytes, "VNPPPP");
}

TEST(SimulatedPointing, SetApertureAnglesAnswersWhenTheMoveIsDone)
{
    SimulatedDevice device(deviceOn(0.0));
    Vantor vantor(device.address(), device.port());

    // Full azimuth and elevation range at the programs' defaults.
    ASSERT_EQ(vantor.SetAcceleration(10000), 0);
    const auto start = Clock::now();
    ASSERT_EQ(vantor.SetApertureAngles(360, 35, 10), 0);
    const double elapsed = seconds(Clock::now() - start);

    EXPECT_GE(elapsed, moveTime(360, 1000, 10000) - 0.002);
    EXPECT_LT(elapsed, 2.5) << "must finish well within the client's motion time-out";
    EXPECT_FALSE(device.moving());
    double az = 0;
    double el = 0;
    ASSERT_EQ(vantor.GetApertureAngles(az, el), 0);
    EXPECT_DOUBLE_EQ(az, 360.0);
    EXPECT_DOUBLE_EQ(el, 35.0);
}

TEST(SimulatedPointing, HomeMovesToZeroAndAnswersWhenThere)
{
    DeviceOptions o = deviceOn(0.0, true);
    o.initialAzimuth = 200;
    o.initialElevation = 30;
    SimulatedDevice device(o);
    Vantor vantor(device.address(), device.port());
    EXPECT_FALSE(device.homed());

    const auto start = Clock::now();
    ASSERT_EQ(vantor.Home(), 0);
    EXPECT_GE(seconds(Clock::now() - start), moveTime(200, 1000, 10000) - 0.002);
    EXPECT_TRUE(device.homed());
    EXPECT_DOUBLE_EQ(device.currentAngles().azimuth, 0.0);
    EXPECT_DOUBLE_EQ(device.currentAngles().elevation, 0.0);
}

TEST(SimulatedPointing, StatusesThroughTheClientBeforeAndAfterHoming)
{
    SimulatedDevice device(deviceOn(noise, true));
    Vantor vantor(device.address(), device.port());

    EXPECT_EQ(vantor.SetApertureAngles(10, 10, 10), 4);
    EXPECT_EQ(vantor.TrackApertureAngles(10, 10, 10), 4);
    double az = -1;
    double el = -1;
    EXPECT_EQ(vantor.GetApertureAngles(az, el), 0) << "reading needs no homing";
    ASSERT_EQ(vantor.Home(), 0);
    EXPECT_EQ(vantor.SetApertureAngles(10, 10, 10), 0);
    EXPECT_EQ(vantor.SetApertureAngles(400, 0, 10), 2);
    EXPECT_EQ(vantor.TrackApertureAngles(10, -36, 10), 2);
    EXPECT_EQ(vantor.SetAcceleration(0), 2);
    EXPECT_DOUBLE_EQ(device.acceleration(), 10000.0);
}

struct Profile
{
    const char* name;
    double acceleration; // deg/s^2
    double speed;        // as the client takes it; the device moves at speed * 100 deg/s
    double distance;     // deg of azimuth
};

void PrintTo(const Profile& p, std::ostream* os)
{
    *os << p.name;
}

class ReadBackOverTime : public ::testing::TestWithParam<Profile>
{};

TEST_P(ReadBackOverTime, FollowsSpeedAndAcceleration)
{
    const Profile p = GetParam();
    SimulatedDevice device(deviceOn(noise));
    Vantor vantor(device.address(), device.port());
    ASSERT_EQ(vantor.SetAcceleration(p.acceleration), 0);

    const double v = p.speed * 100.0;
    const double total = moveTime(p.distance, v, p.acceleration);
    const auto sent = Clock::now();
    ASSERT_EQ(vantor.TrackApertureAngles(p.distance, 0, p.speed), 0);
    const auto answered = Clock::now();
    EXPECT_LT(seconds(answered - sent), total) << "TRAA answers at once, not at the end";

    // The move began between sending and the answer, and each reading was taken between the
    // call and its return: the reading must lie between the profile at those bounds.
    int midway = 0;
    for (;;) {
        const auto before = Clock::now();
        double az = -1;
        double el = -1;
        ASSERT_EQ(vantor.GetApertureAngles(az, el), 0);
        const auto after = Clock::now();
        const double lo = travelled(p.distance, v, p.acceleration, seconds(before - answered));
        const double hi = travelled(p.distance, v, p.acceleration, seconds(after - sent));
        EXPECT_GE(az, lo - readTolerance) << "at " << seconds(before - sent) << " s";
        EXPECT_LE(az, hi + readTolerance) << "at " << seconds(before - sent) << " s";
        EXPECT_NEAR(el, 0.0, readTolerance);
        if (az > 0.1 * p.distance && az < 0.9 * p.distance) {
            ++midway;
        }
        if (seconds(before - sent) > total + 0.2) {
            EXPECT_NEAR(az, p.distance, readTolerance);
            break;
        }
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_GE(midway, 2) << "the read-back must show the move in progress";
    EXPECT_FALSE(device.moving());
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadBackOverTime,
                         ::testing::Values(Profile{"Trapezoid", 1000, 1, 100},
                                           Profile{"Triangle", 200, 2, 100},
                                           Profile{"SlowCruise", 10000, 0.5, 40}),
                         [](const ::testing::TestParamInfo<Profile>& info) {
                             return std::string(info.param.name);
                         });

TEST(SimulatedPointing, SilenceAndRestart)
{
    SimulatedDevice device(deviceOn(noise, true));
    Vantor vantor(device.address(), device.port());
    ASSERT_EQ(vantor.Home(), 0);
    ASSERT_EQ(vantor.SetAcceleration(500), 0);

    device.goSilent();
    double az = 0;
    double el = 0;
    EXPECT_EQ(vantor.GetApertureAngles(az, el), 254);
    EXPECT_TRUE(device.waitForRequests("GEAA", 1, 2s)) << "a silent device still listens";

    device.restart();
    EXPECT_EQ(vantor.GetApertureAngles(az, el), 0);
    EXPECT_FALSE(device.homed()) << "a power cycle forgets the homing";
    EXPECT_DOUBLE_EQ(device.acceleration(), 10000.0);
    EXPECT_EQ(vantor.SetApertureAngles(5, 5, 10), 4);
}
