#include <halvik/quorvel/pathrun.h>
#include <halvik/quorvel/pathrunhost.h>

#include <locale>
#include <sstream>

namespace halvik::quorvel {

namespace {

/// The device's success status.
constexpr int noError = 0;

long long elapsedMs(std::chrono::steady_clock::time_point from,
                    std::chrono::steady_clock::time_point to)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
    return ms < 0 ? 0 : ms;
}

/// A stream that formats numbers without the user's locale.
class ClassicStream : public std::ostringstream
{
public:
    ClassicStream() { imbue(std::locale::classic()); }
};

} // namespace

PathTick runPathTick(PathRunHost& host, int& index)
{
    const int i = index;
    const int t0 = host.timeOfDay().msec();
    const auto started = host.monotonicNow();
    const int n = host.rowCount();
    double azimuth = 0.0;
    double elevation = 0.0;

    if (i >= n) {
        // The last row's position is read on the tick after its command, without a wait.
        if (host.readAngles(azimuth, elevation) == noError && n > 0) {
            host.setActual(n - 1, azimuth, elevation);
        }
        return PathTick::Complete;
    }

    host.log(timingLine(t0, "Iteration started"));
    PathRow row = host.row(i);
    const int firstWait =
        row.has(SetDwellTime) ? row.integer(SetDwellTime) : host.fallbackFirstWaitMs();
    if (!host.wait(firstWait) || i >= host.rowCount()) {
        return PathTick::Stopped;
    }

    // The cells may have been edited during the wait.
    row = host.row(i);
    const double targetAzimuth = row.number(SetPointAz);
    const double targetElevation = row.number(SetPointEl);
    const double speed = row.has(SetPointSpeed) ? row.number(SetPointSpeed) : host.fallbackSpeed();
    const int secondWait =
        row.has(SetDwellTime) ? row.integer(SetDwellTime) : host.fallbackSecondWaitMs();

    host.log(timingLine(host.timeOfDay().msec(), "Before getting position"));
    const int readStatus = host.readAngles(azimuth, elevation);
    host.log(timingLine(host.timeOfDay().msec(), "After getting position using GetApertureAngles"));
    // The dwell of row i settles row i - 1's target; a failed reading delivers no angles, so
    // that row keeps what it had.
    if (i > 0 && readStatus == noError) {
        host.setActual(i - 1, azimuth, elevation);
    }

    if (!host.wait(secondWait)) {
        return PathTick::Stopped;
    }

    host.log(timingLine(host.timeOfDay().msec(), "Before moving to next target"));
    // A row without a target (Add current position without a reading) is passed over.
    if (row.has(SetPointAz) && row.has(SetPointEl)) {
        host.point(targetAzimuth, targetElevation, speed);
    }
    index = i + 1;
    host.log(timingLine(host.timeOfDay().msec(), "After moving to next target"));

    // A monotonic duration: the difference of two millisecond fields goes negative whenever
    // the iteration crosses a second boundary.
    const int t1 = host.timeOfDay().msec();
    host.log(iterationFinishedLine(t1, elapsedMs(started, host.monotonicNow())));
    return PathTick::Iterated;
}

std::string timingLine(int stamp, const char* event)
{
    ClassicStream line;
    line << stamp << " ms: " << event;
    return line.str();
}

std::string iterationFinishedLine(int stamp, long long durationMs)
{
    ClassicStream line;
    line << stamp << " ms: Iteration finished (" << durationMs << "ms)";
    return line.str();
}

std::string currentErrorLine(double error)
{
    ClassicStream line;
    line << "Current error: " << error;
    return line.str();
}

} // namespace halvik::quorvel
