#pragma once

#include <halvik/quorvel/pathdata.h>

#include <QtWidgets/QWidget>

#include <vector>

class QLabel;
class QTableWidget;

namespace halvik::quorvel {

class ResultsPlotWidget;

/// The results of the path in Quorvel's table: the picture of the run and its pointing
/// statistics, redrawn whenever rows are read back. A window of its own.
class ResultsView : public QWidget
{
    Q_OBJECT

public:
    explicit ResultsView(QWidget* parent = nullptr);

    /// Shows these rows (targets and the actual positions read so far).
    void setRows(std::vector<PathRow> rows, const QString& title);

    /// Writes the picture at the view's plot size, PNG or SVG by the file's suffix; false, with
    /// the reason in errorText, when it cannot be written.
    bool savePicture(const QString& fileName, QString* errorText = nullptr) const;

    /// Per-axis figures: one row per figure, columns azimuth, elevation, cross-elevation.
    QTableWidget* axisTable() const { return axes; }
    /// Targets visited more than once.
    QTableWidget* targetTable() const { return targets; }
    /// Rows read back and the angle on the sky.
    QLabel* summaryLabel() const { return summary; }

private slots:
    void on_savePictureButton_clicked();

private:
    ResultsPlotWidget* plot = nullptr;
    QLabel* summary = nullptr;
    QTableWidget* axes = nullptr;
    QTableWidget* targets = nullptr;
};

} // namespace halvik::quorvel
