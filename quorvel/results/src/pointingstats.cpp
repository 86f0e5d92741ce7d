#include <halvik/quorvel/pointingstats.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <utility>

namespace halvik::quorvel {

namespace {

constexpr double pi = 3.14159265358979323846;

double radians(double degrees)
{
    return degrees * pi / 180.0;
}

/// Collects signed errors of one axis.
struct Accumulator
{
    std::vector<double> values;

    AxisStats stats() const
    {
        AxisStats s;
        if (values.empty()) {
            return s;
        }
        double sum = 0.0;
        double squares = 0.0;
        for (const double v : values) {
            sum += v;
            squares += v * v;
            s.maxAbsolute = std::max(s.maxAbsolute, std::fabs(v));
        }
        const double n = static_cast<double>(values.size());
        s.bias = sum / n;
        s.rms = std::sqrt(squares / n);
        s.standardDeviation = standardDeviation(s.bias);
        return s;
    }

    double mean() const
    {
        double sum = 0.0;
        for (const double v : values) {
            sum += v;
        }
        return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
    }

    double standardDeviation(double mean) const
    {
        if (values.size() < 2) {
            return 0.0;
        }
        double deviations = 0.0;
        for (const double v : values) {
            deviations += (v - mean) * (v - mean);
        }
        return std::sqrt(deviations / static_cast<double>(values.size() - 1));
    }
};

/// Great-circle angle between two directions given as azimuth and elevation, degrees.
double skyAngle(double az1, double el1, double az2, double el2)
{
    const double a1 = radians(az1);
    const double e1 = radians(el1);
    const double a2 = radians(az2);
    const double e2 = radians(el2);
    const double x1 = std::cos(e1) * std::cos(a1);
    const double y1 = std::cos(e1) * std::sin(a1);
    const double z1 = std::sin(e1);
    const double x2 = std::cos(e2) * std::cos(a2);
    const double y2 = std::cos(e2) * std::sin(a2);
    const double z2 = std::sin(e2);
    // atan2 of the cross and dot products stays exact for small angles, where acos does not.
    const double cx = y1 * z2 - z1 * y2;
    const double cy = z1 * x2 - x1 * z2;
    const double cz = x1 * y2 - y1 * x2;
    const double cross = std::sqrt(cx * cx + cy * cy + cz * cz);
    const double dot = x1 * x2 + y1 * y2 + z1 * z2;
    return std::atan2(cross, dot) * 180.0 / pi;
}

struct TargetAccumulator
{
    double azimuth;
    double elevation;
    Accumulator az;
    Accumulator el;
    Accumulator azFromAbove;
    Accumulator azFromBelow;
    Accumulator elFromAbove;
    Accumulator elFromBelow;
};

long long key(double degrees)
{
    return std::llround(degrees * 1e6);
}

std::string number(double value, int decimals)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string jsonNumber(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

std::string axisJson(const AxisStats& s)
{
    return "{\"bias\": " + jsonNumber(s.bias) +
           ", \"standardDeviation\": " + jsonNumber(s.standardDeviation) +
           ", \"rms\": " + jsonNumber(s.rms) + ", \"maxAbsolute\": " + jsonNumber(s.maxAbsolute);
}

std::string optionalJson(const std::optional<double>& value)
{
    return value ? jsonNumber(*value) : std::string("null");
}

} // namespace

PointingStats pointingStats(const std::vector<PathRow>& rows)
{
    PointingStats stats;
    stats.sums = errorTotals(rows);
    Accumulator az;
    Accumulator el;
    Accumulator cross;
    std::vector<double> sky;
    std::vector<TargetAccumulator> targets;
    std::map<std::pair<long long, long long>, std::size_t> targetIndex;
    std::optional<std::pair<double, double>> previousTarget;

    for (const PathRow& row : rows) {
        const bool hasTarget = row.has(SetPointAz) && row.has(SetPointEl);
        const double targetAz = row.number(SetPointAz);
        const double targetEl = row.number(SetPointEl);
        const double actualAz = row.number(ActualAz);
        const double actualEl = row.number(ActualEl);
        const bool usable = hasTarget && row.has(ActualAz) && row.has(ActualEl) &&
                            std::isfinite(targetAz) && std::isfinite(targetEl) &&
                            std::isfinite(actualAz) && std::isfinite(actualEl);
        const auto previous = previousTarget;
        if (hasTarget) {
            previousTarget = std::make_pair(targetAz, targetEl);
        }
        if (!usable) {
            ++stats.rowsWithoutActuals;
            continue;
        }
        ++stats.rowsReadBack;
        const double dAz = std::remainder(actualAz - targetAz, 360.0);
        const double dEl = actualEl - targetEl;
        az.values.push_back(dAz);
        el.values.push_back(dEl);
        cross.values.push_back(dAz * std::cos(radians(targetEl)));
        sky.push_back(skyAngle(targetAz, targetEl, actualAz, actualEl));

        const auto k = std::make_pair(key(targetAz), key(targetEl));
        auto found = targetIndex.find(k);
        if (found == targetIndex.end()) {
            found = targetIndex.emplace(k, targets.size()).first;
            targets.push_back(TargetAccumulator{targetAz, targetEl, {}, {}, {}, {}, {}, {}});
        }
        TargetAccumulator& t = targets[found->second];
        t.az.values.push_back(dAz);
        t.el.values.push_back(dEl);
        if (previous) {
            if (previous->first > targetAz) {
                t.azFromAbove.values.push_back(dAz);
            } else if (previous->first < targetAz) {
                t.azFromBelow.values.push_back(dAz);
            }
            if (previous->second > targetEl) {
                t.elFromAbove.values.push_back(dEl);
            } else if (previous->second < targetEl) {
                t.elFromBelow.values.push_back(dEl);
            }
        }
    }

    stats.azimuth = az.stats();
    stats.elevation = el.stats();
    stats.crossElevation = cross.stats();
    if (!sky.empty()) {
        Accumulator angles{sky};
        const AxisStats s = angles.stats();
        stats.skyMean = s.bias;
        stats.skyRms = s.rms;
        stats.skyMax = s.maxAbsolute;
        std::sort(sky.begin(), sky.end());
        const auto rank =
            static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(sky.size())));
        stats.skyP95 = sky[std::max<std::size_t>(rank, 1) - 1];
    }
    for (const TargetAccumulator& t : targets) {
        if (t.az.values.size() < 2) {
            continue;
        }
        TargetStats s;
        s.azimuth = t.azimuth;
        s.elevation = t.elevation;
        s.count = static_cast<int>(t.az.values.size());
        s.repeatabilityAzimuth = 2.0 * t.az.standardDeviation(t.az.mean());
        s.repeatabilityElevation = 2.0 * t.el.standardDeviation(t.el.mean());
        if (!t.azFromAbove.values.empty() && !t.azFromBelow.values.empty()) {
            s.reversalAzimuth = t.azFromAbove.mean() - t.azFromBelow.mean();
        }
        if (!t.elFromAbove.values.empty() && !t.elFromBelow.values.empty()) {
            s.reversalElevation = t.elFromAbove.mean() - t.elFromBelow.mean();
        }
        stats.targets.push_back(s);
    }
    return stats;
}

std::string formatPointingStats(const PointingStats& s)
{
    std::string text = "Rows read back: " + std::to_string(s.rowsReadBack);
    if (s.rowsWithoutActuals > 0) {
        text += " (" + std::to_string(s.rowsWithoutActuals) +
                " without a target or an actual position, left out)";
    }
    text += "\nErrors are actual - target in degrees; azimuth the short way round the circle.\n\n";
    const auto row = [&](const std::string& label, const std::string& a, const std::string& b,
                         const std::string& c) {
        text += padded(label, 22) + padded(a, 12) + padded(b, 12) + c + "\n";
    };
    row("", "Azimuth", "Elevation", "Cross-el.");
    const auto axes = [&](const std::string& label, double AxisStats::*field) {
        row(label, number(s.azimuth.*field, 4), number(s.elevation.*field, 4),
            number(s.crossElevation.*field, 4));
    };
    axes("Bias", &AxisStats::bias);
    axes("Standard deviation", &AxisStats::standardDeviation);
    axes("RMS", &AxisStats::rms);
    axes("Max |error|", &AxisStats::maxAbsolute);
    row("Current error sums", number(s.sums.azimuth, 4), number(s.sums.elevation, 4),
        "(|abs(actual) - abs(target)|, as the results line adds them)");
    text += "\nAngle on the sky: mean " + number(s.skyMean, 4) + ", RMS " + number(s.skyRms, 4) +
            ", 95th percentile " + number(s.skyP95, 4) + ", max " + number(s.skyMax, 4) + "\n";
    if (s.targets.empty()) {
        text += "\nNo target was visited twice: no repeatability or reversal error.\n";
        return text;
    }
    text += "\nRepeated targets (repeatability: 2 x standard deviation; reversal: mean from "
            "above - mean from below):\n";
    const auto targetRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line += i + 1 < cells.size() ? padded(cells[i], 12) : cells[i];
        }
        text += line + "\n";
    };
    targetRow({"Azimuth", "Elevation", "Visits", "Repeat. az", "Repeat. el", "Reversal az",
               "Reversal el"});
    const auto optional = [](const std::optional<double>& v) {
        return v ? number(*v, 4) : std::string("-");
    };
    for (const TargetStats& t : s.targets) {
        targetRow({number(t.azimuth, 4), number(t.elevation, 4), std::to_string(t.count),
                   number(t.repeatabilityAzimuth, 4), number(t.repeatabilityElevation, 4),
                   optional(t.reversalAzimuth), optional(t.reversalElevation)});
    }
    return text;
}

std::string pointingStatsJson(const PointingStats& s)
{
    std::string json = "{\n  \"rowsReadBack\": " + std::to_string(s.rowsReadBack) +
                       ",\n  \"rowsWithoutActuals\": " + std::to_string(s.rowsWithoutActuals) +
                       ",\n  \"azimuth\": " + axisJson(s.azimuth) +
                       ", \"sum\": " + jsonNumber(s.sums.azimuth) +
                       "},\n  \"elevation\": " + axisJson(s.elevation) +
                       ", \"sum\": " + jsonNumber(s.sums.elevation) +
                       "},\n  \"crossElevation\": " + axisJson(s.crossElevation) +
                       "},\n  \"sky\": {\"mean\": " + jsonNumber(s.skyMean) +
                       ", \"rms\": " + jsonNumber(s.skyRms) + ", \"p95\": " + jsonNumber(s.skyP95) +
                       ", \"max\": " + jsonNumber(s.skyMax) + "},\n  \"targets\": [";
    const char* separator = "\n    ";
    for (const TargetStats& t : s.targets) {
        json += separator;
        json += "{\"azimuth\": " + jsonNumber(t.azimuth) +
                ", \"elevation\": " + jsonNumber(t.elevation) +
                ", \"count\": " + std::to_string(t.count) +
                ", \"repeatabilityAzimuth\": " + jsonNumber(t.repeatabilityAzimuth) +
                ", \"repeatabilityElevation\": " + jsonNumber(t.repeatabilityElevation) +
                ", \"reversalAzimuth\": " + optionalJson(t.reversalAzimuth) +
                ", \"reversalElevation\": " + optionalJson(t.reversalElevation) + "}";
        separator = ",\n    ";
    }
    json += s.targets.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

} // namespace halvik::quorvel
