#pragma once

#include <halvik/quorvel/pathdata.h>

#include <optional>
#include <string>
#include <vector>

namespace halvik::quorvel {

/// Bias, spread and extremes of one axis's signed errors (actual - target), in degrees.
struct AxisStats
{
    /// Mean signed error.
    double bias = 0.0;
    /// Sample standard deviation (n - 1); 0 for fewer than two rows.
    double standardDeviation = 0.0;
    double rms = 0.0;
    double maxAbsolute = 0.0;
};

/// The statistics of one target that the rows visit more than once.
struct TargetStats
{
    double azimuth = 0.0;
    double elevation = 0.0;
    int count = 0;
    /// Twice the sample standard deviation of the errors at this target, per axis.
    double repeatabilityAzimuth = 0.0;
    double repeatabilityElevation = 0.0;
    /// Mean error approached from above minus mean error approached from below, per axis; only
    /// when the target was approached from both directions on that axis.
    std::optional<double> reversalAzimuth;
    std::optional<double> reversalElevation;
};

/// What a pointing test practice reports of a path run, beside the results file's two sums.
struct PointingStats
{
    /// Rows with a target and an actual position on both axes.
    int rowsReadBack = 0;
    /// Rows left out for want of a target or an actual position.
    int rowsWithoutActuals = 0;
    /// Azimuth errors are the shortest signed difference on the circle (359.9 for 0.1 is -0.2).
    AxisStats azimuth;
    AxisStats elevation;
    /// Azimuth error times the cosine of the target elevation: the error across the sky.
    AxisStats crossElevation;
    /// The results file's sums, exactly as the "Current error: " line adds them.
    ErrorTotals sums;
    /// Great-circle angle between target and actual direction, degrees.
    double skyMean = 0.0;
    double skyRms = 0.0;
    double skyP95 = 0.0;
    double skyMax = 0.0;
    /// Targets visited more than once, in order of their first visit. The direction of approach
    /// on an axis is that of the move from the previous row's target; the first row and moves
    /// that keep an axis still give no direction on that axis.
    std::vector<TargetStats> targets;
};

/// The statistics of a run's rows (as a results file or the path table holds them).
PointingStats pointingStats(const std::vector<PathRow>& rows);

/// A table for people: rows read back, per-axis figures, the sky angle and the repeated targets.
std::string formatPointingStats(const PointingStats& stats);
/// One JSON object with every figure; numbers without the user's locale.
std::string pointingStatsJson(const PointingStats& stats);

} // namespace halvik::quorvel
