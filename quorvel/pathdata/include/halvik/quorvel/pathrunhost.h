#pragma once

#include <halvik/quorvel/pathdata.h>

#include <QtCore/QTime>

#include <chrono>
#include <string>

namespace halvik::quorvel {

/// What a path run works on: its rows, the device, the waits, the clocks and the timing log.
/// Quorvel's window and vantorctl each provide one, so that runPathTick's rules are shared.
class PathRunHost
{
public:
    virtual ~PathRunHost() = default;

    /// Number of rows now; rows appended during a run are run too.
    virtual int rowCount() const = 0;
    /// Row i as it is now, for 0 <= i < rowCount().
    virtual PathRow row(int i) const = 0;
    /// Records where the device pointed after row i's target was commanded.
    virtual void setActual(int i, double azimuth, double elevation) = 0;

    /// Speed of a row without a speed cell.
    virtual double fallbackSpeed() const = 0;
    /// First wait in ms of a row without a dwell cell.
    virtual int fallbackFirstWaitMs() const = 0;
    /// Second wait in ms of a row without a dwell cell.
    virtual int fallbackSecondWaitMs() const = 0;

    /// Waits ms milliseconds (no wait for ms <= 0); false when the run must stop now.
    virtual bool wait(int ms) = 0;
    /// GetApertureAngles: the outputs are written only on status 0.
    virtual int readAngles(double& azimuth, double& elevation) = 0;
    /// TrackApertureAngles or SetApertureAngles, as the run is set up; returns the status.
    virtual int point(double azimuth, double elevation, double speed) = 0;

    /// Local time of day; the log's stamps are its millisecond field.
    virtual QTime timeOfDay() const = 0;
    /// Monotonic time; iteration durations are measured on it.
    virtual std::chrono::steady_clock::time_point monotonicNow() const = 0;
    /// Writes one line of the timing log, given without line end, and flushes it.
    virtual void log(const std::string& line) = 0;
};

} // namespace halvik::quorvel
