// The path file reader over any bytes: written to a file and read back as Load Path reads it.
// A file with a zero byte is refused whole; otherwise every row it gives has its target cells,
// numbers the table can read back, and no readings.
#include <halvik/quorvel/pathdata.h>

#include <QtCore/QBuffer>
#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTextStream>

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace halvik::quorvel;

namespace {

const QString& pathFile()
{
    // In memory where there is such a file system: rewriting a file on disk for every input
    // costs more than the reading under test.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/halvik-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/halvik-fuzz-XXXXXX"));
    static const QString name = dir.filePath(QStringLiteral("path.csv"));
    return name;
}

bool readsAsNumber(const PathCell& cell)
{
    bool ok = false;
    cell.text.toDouble(&ok);
    return ok && !cell.text.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        // A new file each time: truncating one in place makes some file systems flush it.
        QFile::remove(pathFile());
        QFile file(pathFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            return 0;
        }
    }

    // The same text, line by line, through the reader's own line splitting.
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    QTextStream stream(&buffer);
    QString line;
    std::vector<PathRow> expected;
    bool text = true;
    qsizetype lines = 0;
    while (stream.readLineInto(&line)) {
        ++lines;
        if (line.contains(QChar(u'\0'))) {
            text = false;
        }
        if (auto row = parsePathLine(line)) {
            expected.push_back(*row);
        }
    }

    std::vector<PathRow> rows(1); // a row already in the table
    rows[0].set(SetPointAz, QStringLiteral("kept"));
    QString error;
    const bool read = readPathFile(pathFile(), rows, &error);
    if (read != text || (!read && (error.isEmpty() || rows.size() != 1))) {
        std::abort();
    }
    if (!read) {
        return 0;
    }
    if (rows.size() != expected.size() + 1 || static_cast<qsizetype>(expected.size()) > lines ||
        rows[0].cells[SetPointAz].text != QStringLiteral("kept")) {
        std::abort();
    }
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const PathRow& row = rows[i];
        if (!row.has(SetPointAz) || !row.has(SetPointEl) || row.has(ActualAz) ||
            row.has(ActualEl) || (row.has(SetDwellTime) && !row.has(SetPointSpeed))) {
            std::abort();
        }
        for (int column = SetPointAz; column <= SetDwellTime; ++column) {
            if (row.has(column) && (!readsAsNumber(row.cells[column]) ||
                                    row.cells[column].text != expected[i - 1].cells[column].text)) {
                std::abort();
            }
        }
    }
    return 0;
}
