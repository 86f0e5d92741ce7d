#include <halvik/quorvel/pathdata.h>
#include <halvik/vantorctl/pathpatterns.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace halvik::vantorctl {

namespace {

// What the wire carries (see the command line's limits) and a size no path needs to pass.
constexpr double minAzimuth = 0.0;
constexpr double maxAzimuth = 655.35;
constexpr double minElevation = -327.68;
constexpr double maxElevation = 327.67;
constexpr std::size_t maxRows = 100000;

struct Point
{
    double azimuth;
    double elevation;
};

bool parseDouble(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto found = text.find(separator, start);
        parts.push_back(text.substr(start, found - start));
        if (found == std::string::npos) {
            return parts;
        }
        start = found + 1;
    }
}

bool parsePoint(const std::string& text, Point& point)
{
    const auto parts = split(text, ',');
    return parts.size() == 2 && parseDouble(parts[0], point.azimuth) &&
           parseDouble(parts[1], point.elevation);
}

/// FROM:TO:STEP as the list of values, FROM + i * STEP up to TO.
bool parseRange(const std::string& text, std::vector<double>& values)
{
    const auto parts = split(text, ':');
    double from = 0.0;
    double to = 0.0;
    double step = 0.0;
    if (parts.size() != 3 || !parseDouble(parts[0], from) || !parseDouble(parts[1], to) ||
        !parseDouble(parts[2], step) || step <= 0.0 || to < from) {
        return false;
    }
    const double count = std::floor((to - from) / step + 1e-9) + 1.0;
    if (count > static_cast<double>(maxRows)) {
        return false;
    }
    for (int i = 0; i < static_cast<int>(count); ++i) {
        values.push_back(from + i * step);
    }
    return true;
}

std::string number(double value)
{
    // Rounded to the wire's hundredths, so that FROM + i * STEP prints as the user meant it.
    return quorvel::formatNumber(std::round(value * 100.0) / 100.0).toStdString();
}

} // namespace

bool makePathText(const PatternOptions& o, std::string& text, std::string& error)
{
    std::vector<Point> points;
    if (o.pattern == "grid") {
        std::vector<double> azimuths;
        std::vector<double> elevations;
        if (!parseRange(o.azimuthRange, azimuths) || !parseRange(o.elevationRange, elevations)) {
            error = "grid needs --az FROM:TO:STEP and --el FROM:TO:STEP with FROM <= TO, a step "
                    "above 0 and at most " +
                    std::to_string(maxRows) + " rows";
            return false;
        }
        if (azimuths.size() * elevations.size() > maxRows) {
            error = "grid: more than " + std::to_string(maxRows) + " rows";
            return false;
        }
        for (std::size_t line = 0; line < elevations.size(); ++line) {
            for (std::size_t i = 0; i < azimuths.size(); ++i) {
                const std::size_t column = line % 2 == 0 ? i : azimuths.size() - 1 - i;
                points.push_back({azimuths[column], elevations[line]});
            }
        }
    } else if (o.pattern == "repeat") {
        std::vector<Point> targets;
        for (const std::string& part : split(o.targets, ';')) {
            Point p{};
            if (!parsePoint(part, p)) {
                error = "repeat needs --targets AZ,EL;AZ,EL;... with a decimal point, not \"" +
                        o.targets + "\"";
                return false;
            }
            targets.push_back(p);
        }
        if (static_cast<std::size_t>(o.passes) * targets.size() * 4 > maxRows) {
            error = "repeat: more than " + std::to_string(maxRows) + " rows";
            return false;
        }
        // Each axis first overshoots on the side away from the previous point, so that its four
        // moves (out, back, through, back) go twice each way whatever came before: backlash
        // then weighs equally on both sides of the bias.
        std::optional<Point> previous;
        for (int pass = 0; pass < o.passes; ++pass) {
            for (const Point& t : targets) {
                if (o.bidirectional) {
                    const double az = previous && previous->azimuth > t.azimuth ? -1.0 : 1.0;
                    const double el = previous && previous->elevation > t.elevation ? -1.0 : 1.0;
                    points.push_back(
                        {t.azimuth + az * o.overshoot, t.elevation + el * o.overshoot});
                    points.push_back(t);
                    points.push_back(
                        {t.azimuth - az * o.overshoot, t.elevation - el * o.overshoot});
                }
                points.push_back(t);
                previous = t;
            }
        }
    } else if (o.pattern == "steps") {
        Point c{};
        std::vector<double> sizes;
        for (const std::string& part : split(o.sizes, ',')) {
            double s = 0.0;
            if (!parseDouble(part, s) || s <= 0.0) {
                sizes.clear();
                break;
            }
            sizes.push_back(s);
        }
        if (!parsePoint(o.center, c) || sizes.empty()) {
            error = "steps needs --center AZ,EL and --sizes S1,S2,... (each above 0)";
            return false;
        }
        for (const double s : sizes) {
            for (const Point& away :
                 {Point{c.azimuth + s, c.elevation}, Point{c.azimuth - s, c.elevation},
                  Point{c.azimuth, c.elevation + s}, Point{c.azimuth, c.elevation - s}}) {
                points.push_back(c);
                points.push_back(away);
            }
        }
        points.push_back(c);
    } else {
        error = "PATTERN must be grid, repeat or steps, not \"" + o.pattern + "\"";
        return false;
    }
    // A run reads the last row's position at once after its command; holding the last point
    // one row longer makes that reading a settled one like the others.
    points.push_back(points.back());
    if (o.dwellMs && !o.speed) {
        error = "--dwell needs --speed: the dwell time is the column after the speed";
        return false;
    }

    std::string columns;
    if (o.speed) {
        columns += "," + number(*o.speed);
    }
    if (o.dwellMs) {
        columns += "," + number(*o.dwellMs);
    }
    text.clear();
    for (const Point& p : points) {
        if (p.azimuth < minAzimuth - 1e-9 || p.azimuth > maxAzimuth + 1e-9 ||
            p.elevation < minElevation - 1e-9 || p.elevation > maxElevation + 1e-9) {
            error = "the pattern reaches az " + number(p.azimuth) + ", el " + number(p.elevation) +
                    ", beyond what a device takes (az 0 to 655.35, el -327.68 to 327.67)";
            return false;
        }
        text += number(p.azimuth) + "," + number(p.elevation) + columns + "\n";
    }
    return true;
}

} // namespace halvik::vantorctl
