#pragma once

#include <halvik/quorvel/pathdata.h>

#include <QtCore/QSize>
#include <QtCore/QString>

#include <vector>

class QPainter;

namespace halvik::quorvel {

/// The picture of a path run: targets and actual positions on an azimuth/elevation chart with
/// each row's error drawn between them, and the per-row errors below, with axes, units and
/// legends. Painting needs a QGuiApplication (the offscreen platform will do), no display.
class ResultsPlot
{
public:
    /// rows as a results file holds them; title heads the picture.
    ResultsPlot(std::vector<quorvel::PathRow> rows, QString title);

    /// Paints the whole picture into (0, 0, size) of the painter.
    void paint(QPainter& painter, QSize size) const;

    /// Writes the picture as PNG; false, with the reason in errorText, when it cannot be
    /// written.
    bool savePng(const QString& fileName, QSize size, QString* errorText = nullptr) const;
    /// Writes the picture as SVG; false, with the reason in errorText, when it cannot be
    /// written.
    bool saveSvg(const QString& fileName, QSize size, QString* errorText = nullptr) const;

private:
    std::vector<quorvel::PathRow> rows;
    QString title;
};

} // namespace halvik::quorvel
