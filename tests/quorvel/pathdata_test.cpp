#include <halvik/quorvel/pathdata.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace halvik::quorvel;

namespace {

/// Expected cells of one row; std::nullopt for a cell without an item.
using Cells = std::array<std::optional<QString>, PathColumnCount>;

Cells cellsOf(const PathRow& row)
{
    Cells cells;
    for (int c = 0; c < PathColumnCount; ++c) {
        if (row.has(c)) {
            cells[c] = row.cells[c].text;
        }
    }
    return cells;
}

const std::nullopt_t none = std::nullopt;

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

// --- One line of a path file -----------------------------------------------------------------

struct LineCase
{
    const char* name;
    QString line;
    std::optional<Cells> expected;
};

class PathLine : public ::testing::TestWithParam<LineCase>
{};

TEST_P(PathLine, GivesTheRowOfTheLoadRules)
{
    const LineCase& c = GetParam();
    const std::optional<PathRow> row = parsePathLine(c.line);
    ASSERT_EQ(row.has_value(), c.expected.has_value());
    if (row) {
        EXPECT_EQ(cellsOf(*row), *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathLine,
    ::testing::Values(
        LineCase{"FourFields", "120.5,-10,25,500", Cells{"120.5", "-10", "25", "500", none, none}},
        LineCase{"HeaderWordsReadAsZero", "SetPointAz,SetPointEl,SetPointSpeed,SetDwellTime(ms)",
                 Cells{"0", "0", "0", "0", none, none}},
        LineCase{"QuotedFieldsReadAsZero", "\"10\",\"20\",\"5\",\"100\",\"9\",\"8\"",
                 Cells{"0", "0", "0", "0", none, none}},
        LineCase{"EmptyLineIsSkipped", "", std::nullopt},
        LineCase{"LineWithoutCommaIsSkipped", "120.5", std::nullopt},
        LineCase{"FieldsAfterTheFourthAreIgnored", "1,2,3,4,5,6,7",
                 Cells{"1", "2", "3", "4", none, none}},
        LineCase{"DecimalDwellReadsAsZero", "1,2,3,1.5", Cells{"1", "2", "3", "0", none, none}},
        LineCase{"LargeDwellIsWrittenInExponentForm", "1,2,3,1500000",
                 Cells{"1", "2", "3", "1.5e+06", none, none}},
        LineCase{"NumbersAreRewrittenWithSixDigits", "123.456789,1234567,0.10,0100",
                 Cells{"123.457", "1.23457e+06", "0.1", "100", none, none}},
        LineCase{"SpacesAroundNumbersAreAccepted", " 12 , -3 ,4,5",
                 Cells{"12", "-3", "4", "5", none, none}},
        LineCase{"TwoFieldsLeaveSpeedAndDwellWithoutItems", "10,20",
                 Cells{"10", "20", none, none, none, none}},
        LineCase{"ThreeFieldsLeaveDwellWithoutItem", "10,20,30",
                 Cells{"10", "20", "30", none, none, none}},
        LineCase{"EmptyFieldsReadAsZero", ",,,", Cells{"0", "0", "0", "0", none, none}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A whole path file -----------------------------------------------------------------------

TEST(PathFile, ReadsEveryLineInOrderWhateverTheLineEnds)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "path.csv",
                                   "SetPointAz,SetPointEl,SetPointSpeed,SetDwellTime(ms)\r\n"
                                   "10,20,5,100\r\n"
                                   "\n"
                                   "no comma here\n"
                                   "30,-5,7,250,extra\n"
                                   "45.5,1.25"); // no final line end
    std::vector<PathRow> rows;
    ASSERT_TRUE(readPathFile(path, rows));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(cellsOf(rows[0]), (Cells{"0", "0", "0", "0", none, none}));
    EXPECT_EQ(cellsOf(rows[1]), (Cells{"10", "20", "5", "100", none, none}));
    EXPECT_EQ(cellsOf(rows[2]), (Cells{"30", "-5", "7", "250", none, none}));
    EXPECT_EQ(cellsOf(rows[3]), (Cells{"45.5", "1.25", none, none, none, none}));
}

TEST(PathFile, ResultsFileLoadsAsRowsOfZeros)
{
    QTemporaryDir dir;
    const QString results = dir.filePath("results.csv");
    PathRow row;
    for (int c = 0; c < PathColumnCount; ++c) {
        row.set(c, QString::number(c + 1));
    }
    ASSERT_TRUE(writeResultsFile(results, {row, row}));

    std::vector<PathRow> rows;
    ASSERT_TRUE(readPathFile(results, rows));
    ASSERT_EQ(rows.size(), 3u); // the header line is data too
    for (const PathRow& loaded : rows) {
        EXPECT_EQ(cellsOf(loaded), (Cells{"0", "0", "0", "0", none, none}));
    }
}

TEST(PathFile, MissingFileIsReportedAndAddsNothing)
{
    QTemporaryDir dir;
    std::vector<PathRow> rows(1);
    QString error;
    EXPECT_FALSE(readPathFile(dir.filePath("absent.csv"), rows, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(rows.size(), 1u);
}

// --- Results file ----------------------------------------------------------------------------

TEST(ResultsFileName, UsesSixSignificantDigits)
{
    EXPECT_EQ(resultsFileName(10000, 10, 100), "a10000_s10_d100ms.csv");
    EXPECT_EQ(resultsFileName(5000000, 10, 100), "a5e+06_s10_d100ms.csv");
    EXPECT_EQ(resultsFileName(0.01, 12.34, 150.7), "a0.01_s12.34_d150.7ms.csv");
}

TEST(ResultsFile, QuotesEveryFieldAndDoublesInnerQuotes)
{
    PathRow row;
    row.set(SetPointAz, "12.5");
    row.set(SetPointEl, "say \"hi\"");
    row.set(SetDwellTime, ""); // an item with empty text looks like a missing one
    row.set(ActualAz, "a,b");
    EXPECT_EQ(resultsLine(row), R"("12.5","say ""hi""","","","a,b","")");
    EXPECT_EQ(resultsHeaderLine(), R"x("SetPointAz","SetPointEl","SetPointSpeed",)x"
                                   R"x("SetDwellTime(ms)","ActualAz","ActualEl")x");
}

TEST(ResultsFile, HoldsTheHeaderAndOneLinePerRow)
{
    QTemporaryDir dir;
    PathRow first;
    first.set(SetPointAz, "10");
    first.set(SetPointEl, "-5");
    first.set(ActualAz, "10.01");
    first.set(ActualEl, "-4.99");
    PathRow second;
    second.set(SetPointAz, "20");
    second.set(SetPointEl, "5");
    second.set(SetPointSpeed, "3");
    second.set(SetDwellTime, "250");

    const QString path = dir.filePath("out.csv");
    ASSERT_TRUE(writeResultsFile(path, {first, second}));
    const QByteArray eol = QDir::separator() == '\\' ? "\r\n" : "\n";
    EXPECT_EQ(readAll(path), "\"SetPointAz\",\"SetPointEl\",\"SetPointSpeed\",\"SetDwellTime(ms)\","
                             "\"ActualAz\",\"ActualEl\"" +
                                 eol + "\"10\",\"-5\",\"\",\"\",\"10.01\",\"-4.99\"" + eol +
                                 "\"20\",\"5\",\"3\",\"250\",\"\",\"\"" + eol);

    // A second run with the same name replaces the file.
    ASSERT_TRUE(writeResultsFile(path, {}));
    EXPECT_EQ(readAll(path), "\"SetPointAz\",\"SetPointEl\",\"SetPointSpeed\",\"SetDwellTime(ms)\","
                             "\"ActualAz\",\"ActualEl\"" +
                                 eol);
}

TEST(ResultsFile, UnwritablePathIsReported)
{
    QTemporaryDir dir;
    QString error;
    // A directory in the way fails for every user, root included.
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.csv"));
    EXPECT_FALSE(writeResultsFile(dir.filePath("taken.csv"), {}, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ResultsFile, FullDiskIsReported)
{
    if (!QFile::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    PathRow row;
    row.set(SetPointAz, QString(100000, 'x'));
    QString error;
    EXPECT_FALSE(writeResultsFile("/dev/full", {row}, &error));
    EXPECT_FALSE(error.isEmpty());
}

// --- Error totals ----------------------------------------------------------------------------

struct TotalsCase
{
    const char* name;
    QString target;
    QString actual;
    double expected;
};

class ErrorTerm : public ::testing::TestWithParam<TotalsCase>
{};

TEST_P(ErrorTerm, ComparesAbsoluteValuesOnBothAxes)
{
    const TotalsCase& c = GetParam();
    PathRow row;
    row.set(SetPointAz, c.target);
    row.set(ActualAz, c.actual);
    row.set(SetPointEl, c.target);
    row.set(ActualEl, c.actual);
    const ErrorTotals totals = errorTotals({row});
    EXPECT_DOUBLE_EQ(totals.azimuth, c.expected);
    EXPECT_DOUBLE_EQ(totals.elevation, c.expected);
    EXPECT_DOUBLE_EQ(totals.sum(), 2 * c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ErrorTerm,
                         ::testing::Values(TotalsCase{"MirroredSignIsNoError", "20", "-20", 0.0},
                                           TotalsCase{"ShortOfTarget", "12.5", "10", 2.5},
                                           TotalsCase{"BeyondTarget", "10", "12.5", 2.5},
                                           TotalsCase{"NegativeBoth", "-12.5", "-10", 2.5},
                                           TotalsCase{"NegativeTargetPositiveActual", "-3", "5",
                                                      2.0},
                                           TotalsCase{"TextReadsAsZero", "abc", "4", 4.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorTotals, SumOverRowsAndSkipRowsWithoutReading)
{
    PathRow measured;
    measured.set(SetPointAz, "10");
    measured.set(SetPointEl, "5");
    measured.set(ActualAz, "11");
    measured.set(ActualEl, "4.5");
    PathRow neverRun; // a target without actual items adds nothing
    neverRun.set(SetPointAz, "100");
    neverRun.set(SetPointEl, "30");
    PathRow noTarget; // an actual without a target adds nothing either
    noTarget.set(ActualAz, "50");
    noTarget.set(ActualEl, "20");

    const ErrorTotals totals = errorTotals({measured, neverRun, noTarget, measured});
    EXPECT_DOUBLE_EQ(totals.azimuth, 2.0);
    EXPECT_DOUBLE_EQ(totals.elevation, 1.0);
    EXPECT_DOUBLE_EQ(errorTotals({}).sum(), 0.0);
}
