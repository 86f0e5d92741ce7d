#pragma once

#include <string>

namespace halvik::quorvel {

class PathRunHost;

/// Outcome of one tick of a path run.
enum class PathTick
{
    /// One row was run; the next tick runs the next row.
    Iterated,
    /// Every row has run and the last one's position is recorded: write the results.
    Complete,
    /// A wait told the run to stop; the row was left unfinished.
    Stopped
};

/// One tick of a path run at row index: either runs that row (first wait, read the position
/// into the previous row, second wait, command the row's target, then index + 1) or, past the
/// last row, reads the final position into the last row. Logs the timing lines to the host.
PathTick runPathTick(PathRunHost& host, int& index);

/// "<stamp> ms: <event>", the stamp being a millisecond field of the time of day.
std::string timingLine(int stamp, const char* event);
/// "<stamp> ms: Iteration finished (<durationMs>ms)".
std::string iterationFinishedLine(int stamp, long long durationMs);
/// "Current error: <error>", with the stream's default formatting of the classic locale.
std::string currentErrorLine(double error);

} // namespace halvik::quorvel
