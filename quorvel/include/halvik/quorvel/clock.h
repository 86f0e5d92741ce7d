#pragma once

#include <QtCore/QTime>

#include <chrono>
#include <functional>

namespace halvik::quorvel {

/// The window's two clocks, replaceable in tests.
struct Clock
{
    /// Local time of day: log stamps and generator seeds are its millisecond field.
    std::function<QTime()> timeOfDay;
    /// Monotonic time: waits and iteration durations, unaffected by midnight or clock changes.
    std::function<std::chrono::steady_clock::time_point()> monotonicNow;

    /// QTime::currentTime and std::chrono::steady_clock.
    static Clock system();
};

} // namespace halvik::quorvel
