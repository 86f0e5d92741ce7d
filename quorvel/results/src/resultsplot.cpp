#include <halvik/quorvel/resultsplot.h>

#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtCore/QRectF>
#include <QtGui/QFont>
#include <QtGui/QFontMetricsF>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#ifdef HALVIK_HAS_SVG
#include <QtSvg/QSvgGenerator>
#endif

#include <algorithm>
#include <cmath>
#include <optional>

namespace halvik::quorvel {

using quorvel::PathRow;

namespace {

const QColor targetColor(31, 119, 180);
const QColor actualColor(255, 127, 14);
const QColor errorColor(214, 39, 40);
const QColor pathColor(150, 150, 150);
const QColor azimuthBarColor(31, 119, 180);
const QColor elevationBarColor(44, 160, 44);
const QColor gridColor(228, 228, 228);
const QColor inkColor(40, 40, 40);

/// An axis from lo to hi with ticks every step, all round numbers.
struct Axis
{
    double lo;
    double hi;
    double step;

    std::vector<double> ticks() const
    {
        std::vector<double> values;
        for (int k = 0;; ++k) {
            const double v = lo + k * step;
            if (v > hi + step * 1e-9) {
                break;
            }
            values.push_back(v);
        }
        return values;
    }
};

/// Round bounds around [lo, hi] with about `ticks` steps of 1, 2 or 5 times a power of ten.
Axis niceAxis(double lo, double hi, int ticks, double minimumStep = 0.0)
{
    if (!(hi > lo)) {
        const double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
        lo -= pad;
        hi += pad;
    }
    const double raw = (hi - lo) / ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / magnitude;
    const double nice = f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0;
    const double step = std::max(nice * magnitude, minimumStep);
    return {std::floor(lo / step + 1e-9) * step, std::ceil(hi / step - 1e-9) * step, step};
}

QString tickLabel(double value, double step)
{
    // Sums of steps leave dust such as 1e-17 where zero is meant.
    return QString::number(std::fabs(value) < step * 1e-6 ? 0.0 : value, 'g', 6);
}

/// A plot area and its two axes.
struct Frame
{
    QRectF area;
    Axis x;
    Axis y;

    QPointF map(double vx, double vy) const
    {
        return {area.left() + (vx - x.lo) / (x.hi - x.lo) * area.width(),
                area.bottom() - (vy - y.lo) / (y.hi - y.lo) * area.height()};
    }
};

enum class Marker
{
    Circle,
    Dot,
    Line,
    Dashes,
    Bar
};

struct LegendItem
{
    Marker marker;
    QColor color;
    QString text;
};

void drawMarker(QPainter& p, Marker marker, const QColor& color, QPointF at, double size)
{
    p.save();
    switch (marker) {
    case Marker::Circle:
        p.setPen(QPen(color, size * 0.18));
        p.setBrush(Qt::white);
        p.drawEllipse(at, size * 0.4, size * 0.4);
        break;
    case Marker::Dot:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(at, size * 0.3, size * 0.3);
        break;
    case Marker::Line:
    case Marker::Dashes:
        p.setPen(QPen(color, size * 0.15, marker == Marker::Line ? Qt::SolidLine : Qt::DashLine));
        p.drawLine(at - QPointF(size * 0.6, 0), at + QPointF(size * 0.6, 0));
        break;
    case Marker::Bar:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRect(QRectF(at - QPointF(size * 0.4, size * 0.4), QSizeF(size * 0.8, size * 0.8)));
        break;
    }
    p.restore();
}

/// Draws the items right-aligned so that they end at right, on the text line centred at y.
void drawLegend(QPainter& p, const std::vector<LegendItem>& items, double right, double y)
{
    const QFontMetricsF metrics(p.font(), p.device());
    const double size = metrics.height();
    const double gap = size * 1.2;
    double width = 0.0;
    for (const LegendItem& item : items) {
        width += size * 1.6 + metrics.horizontalAdvance(item.text) + gap;
    }
    double x = right - width + gap;
    for (const LegendItem& item : items) {
        drawMarker(p, item.marker, item.color, QPointF(x + size * 0.7, y), size);
        x += size * 1.6;
        const double w = metrics.horizontalAdvance(item.text);
        p.drawText(QRectF(x, y - size, w + size, 2 * size), Qt::AlignLeft | Qt::AlignVCenter,
                   item.text);
        x += w + gap;
    }
}

void drawAxes(QPainter& p, const Frame& f, const std::vector<double>& xTicks, const QString& xTitle,
              const QString& yTitle)
{
    const QFontMetricsF metrics(p.font(), p.device());
    const double line = metrics.height();
    p.save();
    p.setPen(QPen(gridColor, 1.0));
    for (const double v : xTicks) {
        const double x = f.map(v, f.y.lo).x();
        p.drawLine(QPointF(x, f.area.top()), QPointF(x, f.area.bottom()));
    }
    for (const double v : f.y.ticks()) {
        const double y = f.map(f.x.lo, v).y();
        p.drawLine(QPointF(f.area.left(), y), QPointF(f.area.right(), y));
    }
    p.setPen(QPen(inkColor, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(f.area);
    for (const double v : xTicks) {
        const double x = f.map(v, f.y.lo).x();
        p.drawLine(QPointF(x, f.area.bottom()), QPointF(x, f.area.bottom() + line * 0.3));
        p.drawText(QRectF(x - 4 * line, f.area.bottom() + line * 0.35, 8 * line, line),
                   Qt::AlignHCenter | Qt::AlignTop, tickLabel(v, f.x.step));
    }
    for (const double v : f.y.ticks()) {
        const double y = f.map(f.x.lo, v).y();
        p.drawLine(QPointF(f.area.left() - line * 0.3, y), QPointF(f.area.left(), y));
        p.drawText(QRectF(f.area.left() - 8.4 * line, y - line, 8 * line, 2 * line),
                   Qt::AlignRight | Qt::AlignVCenter, tickLabel(v, f.y.step));
    }
    p.drawText(QRectF(f.area.left(), f.area.bottom() + line * 1.4, f.area.width(), line * 1.2),
               Qt::AlignHCenter | Qt::AlignTop, xTitle);
    p.translate(f.area.left() - line * 4.6, f.area.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-f.area.height() / 2, -line * 1.2, f.area.height(), line * 1.2),
               Qt::AlignHCenter | Qt::AlignBottom, yTitle);
    p.restore();
}

struct Point
{
    double az;
    double el;
};

std::optional<Point> target(const PathRow& row)
{
    if (!row.has(quorvel::SetPointAz) || !row.has(quorvel::SetPointEl)) {
        return std::nullopt;
    }
    return Point{row.number(quorvel::SetPointAz), row.number(quorvel::SetPointEl)};
}

std::optional<Point> actual(const PathRow& row)
{
    if (!row.has(quorvel::ActualAz) || !row.has(quorvel::ActualEl)) {
        return std::nullopt;
    }
    return Point{row.number(quorvel::ActualAz), row.number(quorvel::ActualEl)};
}

/// A row's error on one axis as the error totals count it, when the row has both cells.
std::optional<double> axisError(const PathRow& row, int targetColumn, int actualColumn)
{
    if (!row.has(targetColumn) || !row.has(actualColumn)) {
        return std::nullopt;
    }
    return std::fabs(std::fabs(row.number(actualColumn)) - std::fabs(row.number(targetColumn)));
}

QString degrees(double value)
{
    return QString::number(value, 'g', 6) + QChar(0x00B0);
}

} // namespace

ResultsPlot::ResultsPlot(std::vector<PathRow> rowsIn, QString titleIn)
    : rows(std::move(rowsIn))
    , title(std::move(titleIn))
{}

void ResultsPlot::paint(QPainter& p, QSize size) const
{
    const double w = size.width();
    const double h = size.height();
    const double fontPx = std::max(11.0, std::min(w / 75.0, h / 56.0));
    QFont font = p.font();
    // The generic family, so that SVG viewers pick a sans-serif font too.
    font.setFamily(QStringLiteral("sans-serif"));
    font.setPixelSize(static_cast<int>(std::lround(fontPx)));
    QFont titleFont = font;
    titleFont.setPixelSize(static_cast<int>(std::lround(fontPx * 1.35)));
    titleFont.setBold(true);
    QFont panelFont = font;
    panelFont.setBold(true);
    const double line = QFontMetricsF(font, p.device()).height();

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(0, 0, w, h), Qt::white);
    p.setPen(inkColor);

    // Title and summary.
    const double margin = line;
    std::size_t readBack = 0;
    for (const PathRow& row : rows) {
        readBack += actual(row) ? 1 : 0;
    }
    const quorvel::ErrorTotals totals = quorvel::errorTotals(rows);
    p.setFont(titleFont);
    const double titleHeight = QFontMetricsF(titleFont, p.device()).height();
    p.drawText(QRectF(margin, margin * 0.6, w - 2 * margin, titleHeight),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(font);
    const QString summary =
        QStringLiteral("%1 rows, %2 read back.  Error totals: azimuth %3, "
                       "elevation %4, sum %5")
            .arg(rows.size())
            .arg(readBack)
            .arg(degrees(totals.azimuth), degrees(totals.elevation), degrees(totals.sum()));
    p.drawText(QRectF(margin, margin * 0.6 + titleHeight, w - 2 * margin, line),
               Qt::AlignLeft | Qt::AlignVCenter, summary);

    const double left = margin + line * 5.6;
    const double right = w - margin;
    const double top = margin * 0.6 + titleHeight + line * 1.6;
    const double bottomSpace = line * 2.8;
    const double available = h - top - margin;
    const double upperHeight = available * 0.6;

    // Upper panel: the positions.
    std::vector<double> azimuths;
    std::vector<double> elevations;
    for (const PathRow& row : rows) {
        for (const auto& point : {target(row), actual(row)}) {
            if (point) {
                azimuths.push_back(point->az);
                elevations.push_back(point->el);
            }
        }
    }
    double azLo = 0.0;
    double azHi = 360.0;
    double elLo = -35.0;
    double elHi = 35.0;
    if (!azimuths.empty()) {
        const auto [aMin, aMax] = std::minmax_element(azimuths.begin(), azimuths.end());
        const auto [eMin, eMax] = std::minmax_element(elevations.begin(), elevations.end());
        const double azPad = std::max((*aMax - *aMin) * 0.05, 0.5);
        const double elPad = std::max((*eMax - *eMin) * 0.05, 0.5);
        azLo = *aMin - azPad;
        azHi = *aMax + azPad;
        elLo = *eMin - elPad;
        elHi = *eMax + elPad;
    }
    const double panelTitle = line * 1.4;
    Frame positions{
        QRectF(left, top + panelTitle, right - left, upperHeight - panelTitle - bottomSpace),
        niceAxis(azLo, azHi, 10), niceAxis(elLo, elHi, 6)};

    p.setFont(panelFont);
    p.drawText(QRectF(left, top, right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Targets and actual positions"));
    p.setFont(font);
    drawLegend(p,
               {{Marker::Circle, targetColor, QStringLiteral("Target")},
                {Marker::Dot, actualColor, QStringLiteral("Actual")},
                {Marker::Line, errorColor, QStringLiteral("Error")},
                {Marker::Dashes, pathColor, QStringLiteral("Path order")}},
               right, top + line / 2);
    drawAxes(p, positions, positions.x.ticks(), QStringLiteral("Azimuth (%1)").arg(QChar(0x00B0)),
             QStringLiteral("Elevation (%1)").arg(QChar(0x00B0)));

    p.save();
    p.setClipRect(positions.area);
    QPainterPath order;
    bool first = true;
    for (const PathRow& row : rows) {
        if (const auto t = target(row)) {
            const QPointF at = positions.map(t->az, t->el);
            if (first) {
                order.moveTo(at);
                first = false;
            } else {
                order.lineTo(at);
            }
        }
    }
    p.setPen(QPen(pathColor, 1.0, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawPath(order);
    p.setPen(QPen(errorColor, std::max(1.5, line * 0.12)));
    for (const PathRow& row : rows) {
        const auto t = target(row);
        const auto a = actual(row);
        if (t && a) {
            p.drawLine(positions.map(t->az, t->el), positions.map(a->az, a->el));
        }
    }
    const bool numbered = rows.size() <= 40;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (const auto t = target(rows[i])) {
            const QPointF at = positions.map(t->az, t->el);
            drawMarker(p, Marker::Circle, targetColor, at, line * 0.8);
            if (numbered) {
                p.setPen(pathColor);
                p.drawText(QRectF(at.x() + line * 0.4, at.y() - line * 1.1, line * 3, line),
                           Qt::AlignLeft | Qt::AlignBottom, QString::number(i + 1));
            }
        }
    }
    for (const PathRow& row : rows) {
        if (const auto a = actual(row)) {
            drawMarker(p, Marker::Dot, actualColor, positions.map(a->az, a->el), line * 0.8);
        }
    }
    p.restore();

    // Lower panel: the error of each row on each axis.
    const double lowerTop = top + upperHeight + line * 0.6;
    double maxError = 0.0;
    for (const PathRow& row : rows) {
        for (const auto& e : {axisError(row, quorvel::SetPointAz, quorvel::ActualAz),
                              axisError(row, quorvel::SetPointEl, quorvel::ActualEl)}) {
            maxError = std::max(maxError, e.value_or(0.0));
        }
    }
    const double rowCount = static_cast<double>(std::max<std::size_t>(rows.size(), 1));
    // Rows sit on whole numbers, with half a row free on each side.
    Frame errors{QRectF(left, lowerTop + panelTitle, right - left,
                        h - margin - bottomSpace - lowerTop - panelTitle),
                 Axis{0.5, rowCount + 0.5, 1.0},
                 niceAxis(0.0, maxError > 0.0 ? maxError * 1.05 : 0.01, 4)};
    errors.y.lo = 0.0;
    const double rowStep = niceAxis(1.0, rowCount, 10, 1.0).step;
    // Every row while they fit, otherwise round row numbers.
    std::vector<double> rowTicks;
    for (double v = rowStep; v <= rowCount + 1e-9; v += rowStep) {
        rowTicks.push_back(v);
    }

    p.setFont(panelFont);
    p.drawText(QRectF(left, lowerTop, right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Error per row: | |actual| %1 |target| |").arg(QChar(0x2212)));
    p.setFont(font);
    drawLegend(p,
               {{Marker::Bar, azimuthBarColor, QStringLiteral("Azimuth error")},
                {Marker::Bar, elevationBarColor, QStringLiteral("Elevation error")}},
               right, lowerTop + line / 2);
    drawAxes(p, errors, rowTicks, QStringLiteral("Row"),
             QStringLiteral("Error (%1)").arg(QChar(0x00B0)));

    const double slot = errors.area.width() / (errors.x.hi - errors.x.lo);
    const double barWidth = slot * 0.38;
    p.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double x = errors.map(static_cast<double>(i + 1), 0.0).x();
        const auto bar = [&](std::optional<double> e, double offset, const QColor& color) {
            if (!e) {
                return;
            }
            const QPointF peak = errors.map(static_cast<double>(i + 1), *e);
            p.setBrush(color);
            p.drawRect(QRectF(QPointF(x + offset, peak.y()),
                              QPointF(x + offset + barWidth, errors.area.bottom())));
        };
        bar(axisError(rows[i], quorvel::SetPointAz, quorvel::ActualAz), -barWidth, azimuthBarColor);
        bar(axisError(rows[i], quorvel::SetPointEl, quorvel::ActualEl), 0.0, elevationBarColor);
    }
    if (rows.empty()) {
        p.setPen(inkColor);
        p.drawText(positions.area, Qt::AlignCenter, QStringLiteral("No rows in this file"));
    }
    p.restore();
}

namespace {

bool writeBytes(const QString& fileName, const QByteArray& bytes, QString* errorText)
{
    QFile file(fileName);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(bytes) == bytes.size() && file.flush();
    if (!written && errorText) {
        *errorText = file.errorString();
    }
    return written;
}

} // namespace

bool ResultsPlot::savePng(const QString& fileName, QSize size, QString* errorText) const
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        paint(painter, size);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (errorText) {
            *errorText = QStringLiteral("PNG encoding failed");
        }
        return false;
    }
    return writeBytes(fileName, bytes, errorText);
}

bool ResultsPlot::saveSvg(const QString& fileName, QSize size, QString* errorText) const
{
#ifndef HALVIK_HAS_SVG
    Q_UNUSED(fileName)
    Q_UNUSED(size)
    if (errorText) {
        *errorText = QStringLiteral("this build draws PNG only (no Qt SVG): use -o FILE.png");
    }
    return false;
#else
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    // At 96 dpi a user unit is one CSS pixel, so viewers show it at the PNG's size.
    generator.setResolution(96);
    generator.setTitle(title);
    generator.setDescription(QStringLiteral("Targets, actual positions and errors of a path run"));
    {
        QPainter painter(&generator);
        paint(painter, size);
    }
    return writeBytes(fileName, bytes, errorText);
#endif
}

} // namespace halvik::quorvel
