#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <array>
#include <optional>
#include <vector>

namespace halvik::quorvel {

/// Columns of the path table, in order.
enum PathColumn : int
{
    SetPointAz = 0,
    SetPointEl = 1,
    SetPointSpeed = 2,
    SetDwellTime = 3,
    ActualAz = 4,
    ActualEl = 5,
    PathColumnCount = 6
};

/// One cell of the path table. A cell without an item differs from an item with empty text:
/// execution falls back to the spin boxes only for a missing item.
struct PathCell
{
    /// The table has an item in this cell.
    bool present = false;
    /// The item's text; empty when there is no item.
    QString text;
};

/// One row of the path table, independent of any widget.
struct PathRow
{
    std::array<PathCell, PathColumnCount> cells;

    /// True when the cell has an item.
    bool has(int column) const { return cells[column].present; }
    /// The cell's text as a double; 0 when there is no item or the text does not convert.
    double number(int column) const;
    /// The cell's text as a base-10 int; 0 when there is no item or the text does not convert.
    int integer(int column) const;
    /// Gives the cell an item with this text.
    void set(int column, const QString& text);
};

/// "SetPointAz", "SetPointEl", "SetPointSpeed", "SetDwellTime(ms)", "ActualAz", "ActualEl".
QStringList pathHeaderLabels();

/// A number as the table and the results file write it: 'g' format, 6 significant digits.
QString formatNumber(double value);

/// One line of a path file, line end removed: azimuth, elevation, speed, dwell time separated by
/// commas. Returns nothing for a line of fewer than two fields; a line of two or three fields
/// leaves the missing speed and dwell cells without items; fields after the fourth are ignored.
std::optional<PathRow> parsePathLine(const QString& line);

/// Reads every row of a path file (text, line by line). False, with the reason in errorText,
/// when the file cannot be opened or is not text (holds a zero character); rows is then
/// unchanged.
bool readPathFile(const QString& fileName, std::vector<PathRow>& rows,
                  QString* errorText = nullptr);

/// "a<acceleration>_s<speed>_d<delay>ms.csv", each number in 'g' format with 6 digits.
QString resultsFileName(double acceleration, double speed, double delay);

/// One field of the results file: the text in double quotes, inner double quotes doubled.
QString resultsField(const QString& text);
/// The results file's first line, without line end.
QString resultsHeaderLine();
/// The results file's line for one row, without line end; cells without items give "".
QString resultsLine(const PathRow& row);

/// Summed pointing errors of a path.
struct ErrorTotals
{
    /// Sum of | |ActualAz| - |SetPointAz| | over the rows that have both items.
    double azimuth = 0.0;
    /// Sum of | |ActualEl| - |SetPointEl| | over the rows that have both items.
    double elevation = 0.0;

    /// azimuth + elevation.
    double sum() const { return azimuth + elevation; }
};

/// Error totals of the rows; a row adds a term only when it has both the target and the actual
/// item of that axis, so rows that were never executed do not count.
ErrorTotals errorTotals(const std::vector<PathRow>& rows);

/// Writes the results file (text mode, header line, one line per row), replacing any file of
/// that name. False, with the reason in errorText, when it cannot be created or written.
bool writeResultsFile(const QString& fileName, const std::vector<PathRow>& rows,
                      QString* errorText = nullptr);

} // namespace halvik::quorvel
