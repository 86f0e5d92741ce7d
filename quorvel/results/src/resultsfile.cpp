#include <halvik/quorvel/resultsfile.h>

#include <QtCore/QFile>
#include <QtCore/QTextStream>

namespace halvik::quorvel {

std::optional<QStringList> splitResultsLine(const QString& line)
{
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        if (i >= n || line[i] != QLatin1Char('"')) {
            return std::nullopt;
        }
        ++i;
        QString field;
        while (true) {
            if (i >= n) {
                return std::nullopt;
            }
            if (line[i] == QLatin1Char('"')) {
                if (i + 1 < n && line[i + 1] == QLatin1Char('"')) {
                    field += QLatin1Char('"');
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            field += line[i++];
        }
        fields << field;
        if (i == n) {
            return fields;
        }
        if (line[i] != QLatin1Char(',')) {
            return std::nullopt;
        }
        ++i;
    }
}

bool readResultsFile(const QString& fileName, std::vector<quorvel::PathRow>& rows,
                     QString* errorText)
{
    const auto fail = [&](const QString& text) {
        if (errorText) {
            *errorText = text;
        }
        return false;
    };
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return fail(file.errorString());
    }
    QTextStream stream(&file);
    QString line;
    if (!stream.readLineInto(&line) || splitResultsLine(line) != quorvel::pathHeaderLabels()) {
        return fail(QStringLiteral("not a results file: the first line is not the header"));
    }
    std::vector<quorvel::PathRow> read;
    for (int number = 2; stream.readLineInto(&line); ++number) {
        if (line.isEmpty()) {
            continue;
        }
        const auto fields = splitResultsLine(line);
        if (!fields || fields->size() != quorvel::PathColumnCount) {
            return fail(
                QStringLiteral("not a results file: line %1 is not six quoted fields").arg(number));
        }
        quorvel::PathRow row;
        for (int c = 0; c < quorvel::PathColumnCount; ++c) {
            // The writer gives a cell without an item and one with empty text the same "".
            if (!fields->at(c).isEmpty()) {
                row.set(c, fields->at(c));
            }
        }
        read.push_back(row);
    }
    rows.insert(rows.end(), read.begin(), read.end());
    return true;
}

} // namespace halvik::quorvel
