#include <halvik/quorvel/pathdata.h>

#include <QtCore/QFile>
#include <QtCore/QTextStream>

#include <cmath>

namespace halvik::quorvel {

double PathRow::number(int column) const
{
    return cells[column].present ? cells[column].text.toDouble() : 0.0;
}

int PathRow::integer(int column) const
{
    return cells[column].present ? cells[column].text.toInt(nullptr, 10) : 0;
}

void PathRow::set(int column, const QString& text)
{
    cells[column].present = true;
    cells[column].text = text;
}

QStringList pathHeaderLabels()
{
    return {QStringLiteral("SetPointAz"),    QStringLiteral("SetPointEl"),
            QStringLiteral("SetPointSpeed"), QStringLiteral("SetDwellTime(ms)"),
            QStringLiteral("ActualAz"),      QStringLiteral("ActualEl")};
}

QString formatNumber(double value)
{
    return QString::number(value, 'g', 6);
}

std::optional<PathRow> parsePathLine(const QString& line)
{
    // No quoting and no trimming: a quoted field keeps its quotes and so reads as 0.
    const QStringList parts = line.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() < 2) {
        return std::nullopt;
    }
    PathRow row;
    row.set(SetPointAz, formatNumber(parts[0].toDouble()));
    row.set(SetPointEl, formatNumber(parts[1].toDouble()));
    if (parts.size() > 2) {
        row.set(SetPointSpeed, formatNumber(parts[2].toDouble()));
    }
    if (parts.size() > 3) {
        // Written in 'g' form like every number cell, so a dwell of 1500000 becomes 1.5e+06 and
        // then reads as 0 when the row runs.
        row.set(SetDwellTime, formatNumber(static_cast<double>(parts[3].toInt(nullptr, 10))));
    }
    return row;
}

bool readPathFile(const QString& fileName, std::vector<PathRow>& rows, QString* errorText)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (errorText) {
            *errorText = file.errorString();
        }
        return false;
    }
    QTextStream stream(&file);
    QString line;
    const std::size_t before = rows.size();
    while (stream.readLineInto(&line)) {
        // No text file holds a zero character: this is a binary file chosen by mistake, and its
        // lines would only add rows of zeros to the path.
        if (line.contains(QChar(u'\0'))) {
            rows.resize(before);
            if (errorText) {
                *errorText = QStringLiteral("not a text file");
            }
            return false;
        }
        if (auto row = parsePathLine(line)) {
            rows.push_back(*row);
        }
    }
    return true;
}

QString resultsFileName(double acceleration, double speed, double delay)
{
    return QStringLiteral("a") + formatNumber(acceleration) + QStringLiteral("_s") +
           formatNumber(speed) + QStringLiteral("_d") + formatNumber(delay) +
           QStringLiteral("ms.csv");
}

QString resultsField(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString resultsHeaderLine()
{
    QStringList fields;
    for (const QString& label : pathHeaderLabels()) {
        fields << resultsField(label);
    }
    return fields.join(QLatin1Char(','));
}

QString resultsLine(const PathRow& row)
{
    QStringList fields;
    for (const PathCell& cell : row.cells) {
        fields << resultsField(cell.present ? cell.text : QString());
    }
    return fields.join(QLatin1Char(','));
}

ErrorTotals errorTotals(const std::vector<PathRow>& rows)
{
    ErrorTotals totals;
    for (const PathRow& row : rows) {
        if (row.has(SetPointAz) && row.has(ActualAz)) {
            totals.azimuth +=
                std::fabs(std::fabs(row.number(ActualAz)) - std::fabs(row.number(SetPointAz)));
        }
        if (row.has(SetPointEl) && row.has(ActualEl)) {
            totals.elevation +=
                std::fabs(std::fabs(row.number(ActualEl)) - std::fabs(row.number(SetPointEl)));
        }
    }
    return totals;
}

bool writeResultsFile(const QString& fileName, const std::vector<PathRow>& rows, QString* errorText)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (errorText) {
            *errorText = file.errorString();
        }
        return false;
    }
    QTextStream stream(&file);
    stream << resultsHeaderLine() << '\n';
    for (const PathRow& row : rows) {
        stream << resultsLine(row) << '\n';
    }
    stream.flush();
    // A full disk shows up only when the buffered data goes out.
    const bool written =
        stream.status() == QTextStream::Ok && file.flush() && file.error() == QFileDevice::NoError;
    if (!written && errorText) {
        *errorText = file.errorString();
    }
    file.close();
    return written;
}

} // namespace halvik::quorvel
