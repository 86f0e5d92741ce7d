#pragma once

#include <optional>
#include <string>

namespace halvik::vantorctl {

/// A test pattern of `vantorctl make-path`, as its options give it.
struct PatternOptions
{
    /// "grid", "repeat" or "steps".
    std::string pattern;
    /// grid: FROM:TO:STEP of each axis, visited in serpentine order (azimuth runs back and
    /// forth, elevation steps once per line).
    std::string azimuthRange;
    std::string elevationRange;
    /// repeat: AZ,EL;AZ,EL;... visited in this order on every pass.
    std::string targets;
    int passes = 3;
    /// repeat: approach each target from both sides, through points `overshoot` degrees beyond
    /// it on each axis (first on the side away from the previous target, then the other).
    bool bidirectional = false;
    double overshoot = 1.0;
    /// steps: AZ,EL of the point, and the step sizes S1,S2,... taken away from it and back on
    /// each axis in both directions.
    std::string center;
    std::string sizes;
    /// Optional columns: the speed column, and after it the dwell time in ms.
    std::optional<double> speed;
    std::optional<double> dwellMs;
};

/// The pattern as a path file that Quorvel's Load Path reads: "az,el[,speed[,dwell]]" lines.
/// The last point is written twice: a run reads the last row at once after commanding it.
/// False, with the reason in error, when the options do not make a pattern.
bool makePathText(const PatternOptions& options, std::string& text, std::string& error);

} // namespace halvik::vantorctl
