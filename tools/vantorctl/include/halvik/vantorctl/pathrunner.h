#pragma once

#include <halvik/quorvel/pathdata.h>
#include <halvik/quorvel/pathrunhost.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace halvik {
class Vantor;
}

namespace halvik::vantorctl {

class TransactionStats;

/// Inputs of a run besides its rows: Quorvel's spin boxes and radio buttons.
struct RunSettings
{
    /// Speed of rows without a speed cell.
    double speed = 10.0;
    /// First wait of rows without a dwell cell, ms (truncated as Quorvel does).
    double delayMs = 100.0;
    /// Second wait of rows without a dwell cell, ms.
    double delay2Ms = 100.0;
    /// SetApertureAngles instead of TrackApertureAngles.
    bool set = false;
};

/// Runs a path against one device with the rules of Quorvel's Execute Path, from the command
/// line: ticks back to back, waits that sleep on the monotonic clock, the timing log on a
/// stream. Transaction failures do not stop the run, as in Quorvel; they are counted.
class PathRunner final : public quorvel::PathRunHost
{
public:
    /// The device, stats and log stream must outlive the runner.
    PathRunner(Vantor& device, std::vector<quorvel::PathRow> rows, RunSettings settings,
               TransactionStats& stats, std::ostream& log);

    PathRunner(const PathRunner&) = delete;
    PathRunner& operator=(const PathRunner&) = delete;

    /// Runs every row, then reads the last row's position.
    void run();

    /// The rows, with the actual positions recorded so far.
    const std::vector<quorvel::PathRow>& rows() const { return pathRows; }
    /// Transactions that did not end with status 0.
    int failures() const { return failureCount; }
    /// Status of the first failed transaction; 0 when none failed.
    int firstFailure() const { return firstFailureStatus; }
    /// "Operation: status text" of the first failure, or the link's message.
    const std::string& firstFailureText() const { return failureText; }
    /// The link threw (socket or send failure) at least once.
    bool linkFailed() const { return linkFailure; }

    int rowCount() const override;
    quorvel::PathRow row(int i) const override;
    void setActual(int i, double azimuth, double elevation) override;
    double fallbackSpeed() const override;
    int fallbackFirstWaitMs() const override;
    int fallbackSecondWaitMs() const override;
    bool wait(int ms) override;
    int readAngles(double& azimuth, double& elevation) override;
    int point(double azimuth, double elevation, double speed) override;
    QTime timeOfDay() const override;
    std::chrono::steady_clock::time_point monotonicNow() const override;
    void log(const std::string& line) override;

private:
    /// One measured transaction; an exception of the link counts as a failure with status 255.
    template <typename Call> int transaction(const char* operation, Call call);

    Vantor& device;
    std::vector<quorvel::PathRow> pathRows;
    RunSettings settings;
    TransactionStats& stats;
    std::ostream& logStream;
    int failureCount = 0;
    int firstFailureStatus = 0;
    std::string failureText;
    bool linkFailure = false;
};

} // namespace halvik::vantorctl
