#pragma once

#include <chrono>
#include <vector>

namespace halvik::sim {

/// One axis moving with a bounded speed and acceleration, computed in closed form: a move is a
/// short list of constant-acceleration segments (turn back or brake if needed, accelerate,
/// cruise, decelerate), so reading the position costs nothing and no thread ticks.
class AxisMotion
{
public:
    using Clock = std::chrono::steady_clock;

    explicit AxisMotion(double position = 0.0);

    /// Starts a move to target from wherever the axis is at `now`, keeping its velocity.
    /// maxSpeed and acceleration are positive (units per second, per second squared).
    void moveTo(double target, double maxSpeed, double acceleration, Clock::time_point now);
    /// Stops dead at the position of `now` (power loss).
    void halt(Clock::time_point now);

    double position(Clock::time_point now) const;
    double velocity(Clock::time_point now) const;
    /// Where the axis comes to rest.
    double target() const { return restPosition; }
    /// When it comes to rest (in the past when at rest).
    Clock::time_point endTime() const;

private:
    struct Segment
    {
        double duration; // seconds
        double position; // at the segment's start
        double velocity; // at the segment's start
        double acceleration;
    };
    struct State
    {
        double position;
        double velocity;
    };

    State stateAt(Clock::time_point now) const;

    Clock::time_point start;
    std::vector<Segment> segments;
    double restPosition;
};

} // namespace halvik::sim
