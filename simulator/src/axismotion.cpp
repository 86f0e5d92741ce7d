#include "axismotion.h"

#include <algorithm>
#include <cmath>

namespace halvik::sim {

namespace {
constexpr double epsilon = 1e-9;

double seconds(AxisMotion::Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}
} // namespace

AxisMotion::AxisMotion(double position)
    : start(Clock::now())
    , restPosition(position)
{}

void AxisMotion::moveTo(double target, double maxSpeed, double acceleration, Clock::time_point now)
{
    State s = stateAt(now);
    start = now;
    segments.clear();
    restPosition = target;
    const double a = acceleration;

    auto push = [&](double duration, double signedAcceleration, double cruise) {
        if (duration <= 0.0) {
            return;
        }
        segments.push_back({duration, s.position, cruise, signedAcceleration});
        s.position += cruise * duration + 0.5 * signedAcceleration * duration * duration;
        s.velocity = cruise + signedAcceleration * duration;
    };

    // At most: brake a motion away from the target (or past it), then one trapezoid.
    for (int step = 0; step < 3; ++step) {
        const double d = target - s.position;
        if (std::fabs(d) < epsilon && std::fabs(s.velocity) < epsilon) {
            return;
        }
        const double dir = d > 0.0 || (d == 0.0 && s.velocity < 0.0) ? 1.0 : -1.0;
        const double distance = std::fabs(d);
        const double u = s.velocity * dir; // speed toward the target
        if (u < -epsilon || u * u / (2.0 * a) > distance + epsilon) {
            // Moving away, or too fast to stop in time: brake to rest first, then plan again.
            push(std::fabs(u) / a, u > 0.0 ? -a * dir : a * dir, s.velocity);
            s.velocity = 0.0;
            continue;
        }
        const double u0 = std::max(u, 0.0);
        const double peak =
            u0 > maxSpeed ? maxSpeed : std::min(maxSpeed, std::sqrt(a * distance + u0 * u0 / 2.0));
        const double a1 = peak >= u0 ? a : -a;
        const double t1 = std::fabs(peak - u0) / a;
        const double d1 = (peak * peak - u0 * u0) / (2.0 * a1);
        const double d3 = peak * peak / (2.0 * a);
        const double cruiseDistance = std::max(0.0, distance - d1 - d3);
        push(t1, a1 * dir, u0 * dir);
        push(peak > 0.0 ? cruiseDistance / peak : 0.0, 0.0, peak * dir);
        push(peak / a, -a * dir, peak * dir);
        return;
    }
}

void AxisMotion::halt(Clock::time_point now)
{
    const double p = position(now);
    start = now;
    segments.clear();
    restPosition = p;
}

AxisMotion::State AxisMotion::stateAt(Clock::time_point now) const
{
    double t = seconds(now - start);
    if (t < 0.0) {
        t = 0.0;
    }
    for (const Segment& seg : segments) {
        if (t < seg.duration) {
            return {seg.position + seg.velocity * t + 0.5 * seg.acceleration * t * t,
                    seg.velocity + seg.acceleration * t};
        }
        t -= seg.duration;
    }
    return {restPosition, 0.0};
}

double AxisMotion::position(Clock::time_point now) const
{
    return stateAt(now).position;
}

double AxisMotion::velocity(Clock::time_point now) const
{
    return stateAt(now).velocity;
}

AxisMotion::Clock::time_point AxisMotion::endTime() const
{
    double total = 0.0;
    for (const Segment& seg : segments) {
        total += seg.duration;
    }
    return start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(total));
}

} // namespace halvik::sim
