#include "ctlfixture.h"

#include <halvik/quorvel/pathdata.h>
#include <halvik/quorvel/resultsfile.h>
#include <halvik/vantorctl/exitstatus.h>

#include <QtCore/QXmlStreamReader>
#include <QtGui/QImage>
#ifdef HALVIK_HAS_SVG
#include <QtSvg/QSvgRenderer>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

using halvik::quorvel::PathRow;
using halvik::quorvel::readResultsFile;
using halvik::quorvel::splitResultsLine;
using halvik::vantorctl::test::CtlTest;
using halvik::vantorctl::test::readFile;
using halvik::vantorctl::test::vantorctl;
using ::testing::HasSubstr;
namespace exitstatus = halvik::vantorctl::exitstatus;

namespace {

PathRow row(std::vector<std::optional<QString>> cells)
{
    PathRow r;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (cells[c]) {
            r.set(static_cast<int>(c), *cells[c]);
        }
    }
    return r;
}

/// A run of three rows, one of them never read back.
std::vector<PathRow> sampleRun()
{
    return {row({"10", "5", "10", "200", "10.4", "4.8"}),
            row({"60", "-20", std::nullopt, std::nullopt, "57.5", "-18"}),
            row({"120.5", "30", "2", "0"})};
}

} // namespace

struct LineCase
{
    const char* name;
    QString line;
    std::optional<QStringList> fields;
};

class ResultsLine : public ::testing::TestWithParam<LineCase>
{};

TEST_P(ResultsLine, SplitsIntoQuotedFields)
{
    EXPECT_EQ(splitResultsLine(GetParam().line), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResultsLine,
                         ::testing::Values(LineCase{"Plain", "\"a\",\"b\"", QStringList{"a", "b"}},
                                           LineCase{"Empty", "\"\",\"\"", QStringList{"", ""}},
                                           LineCase{"DoubledQuote", "\"say \"\"hi\"\"\",\"x\"",
                                                    QStringList{"say \"hi\"", "x"}},
                                           LineCase{"CommaInside", "\"1,5\"", QStringList{"1,5"}},
                                           LineCase{"Unquoted", "a,b", std::nullopt},
                                           LineCase{"Unterminated", "\"a", std::nullopt},
                                           LineCase{"TextAfterQuote", "\"a\"x", std::nullopt},
                                           LineCase{"TrailingComma", "\"a\",", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

class Plot : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        ASSERT_TRUE(halvik::quorvel::writeResultsFile(workDir.filePath("run.csv"), sampleRun()));
    }
};

TEST_F(Plot, ResultsFileReadsBackAsWritten)
{
    auto rows = sampleRun();
    rows.push_back(row({"1", "2", "say \"hi\""}));
    ASSERT_TRUE(halvik::quorvel::writeResultsFile(workDir.filePath("quoted.csv"), rows));
    std::vector<PathRow> read;
    ASSERT_TRUE(readResultsFile(workDir.filePath("quoted.csv"), read));
    ASSERT_EQ(read.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < halvik::quorvel::PathColumnCount; ++c) {
            EXPECT_EQ(read[r].cells[c].present, rows[r].cells[c].present) << r << ',' << c;
            EXPECT_EQ(read[r].cells[c].text, rows[r].cells[c].text) << r << ',' << c;
        }
    }
}

#ifdef HALVIK_HAS_SVG
TEST_F(Plot, WritesAValidSvgOfTheRequestedSize)
{
    const auto r = vantorctl({"plot", inWorkDir("run.csv"), "-o", inWorkDir("run.svg")});
    EXPECT_EQ(r.exit, 0) << r.err;

    const QByteArray svg = readFile(workDir.filePath("run.svg"));
    QXmlStreamReader xml(svg);
    ASSERT_TRUE(xml.readNextStartElement()) << xml.errorString().toStdString();
    EXPECT_EQ(xml.name(), QStringLiteral("svg"));
    EXPECT_EQ(xml.attributes().value("viewBox"), QStringLiteral("0 0 1200 900"));
    QStringList texts;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::Characters && !xml.isWhitespace()) {
            texts << xml.text().toString().trimmed();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    // Axes with units, both legends, and the summary of the run.
    for (const char* text :
         {"Azimuth (\u00b0)", "Elevation (\u00b0)", "Error (\u00b0)", "Row", "Target", "Actual",
          "Error", "Path order", "Azimuth error", "Elevation error"}) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
    }
    EXPECT_THAT(texts.join('|').toStdString(), HasSubstr("3 rows, 2 read back"));
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
}
#endif

TEST_F(Plot, WritesAPngOfTheRequestedSizeWithTheMarkers)
{
    auto r = vantorctl({"plot", inWorkDir("run.csv"), "-o", inWorkDir("run.png")});
    EXPECT_EQ(r.exit, 0) << r.err;
    QImage image(workDir.filePath("run.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1200, 900));
    // The target circles and actual dots are drawn in their own colours.
    bool target = false;
    bool actual = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            target = target || p == qRgb(31, 119, 180);
            actual = actual || p == qRgb(255, 127, 14);
        }
    }
    EXPECT_TRUE(target);
    EXPECT_TRUE(actual);

    r = vantorctl({"plot", inWorkDir("run.csv"), "--size", "640x480", "-o", inWorkDir("s.PNG")});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(QImage(workDir.filePath("s.PNG")).size(), QSize(640, 480));
}

TEST_F(Plot, FileErrorsHaveTheirExitStatuses)
{
    auto r = vantorctl({"plot", inWorkDir("nosuch.csv"), "-o", inWorkDir("a.png")});
    EXPECT_EQ(r.exit, exitstatus::InputFile);

    // A path file is not a results file.
    QFile path(workDir.filePath("path.csv"));
    ASSERT_TRUE(path.open(QIODevice::WriteOnly));
    path.write("10,5,10,200\n");
    path.close();
    r = vantorctl({"plot", inWorkDir("path.csv"), "-o", inWorkDir("a.png")});
    EXPECT_EQ(r.exit, exitstatus::InputFile);
    EXPECT_THAT(r.err, HasSubstr("not a results file"));

    r = vantorctl({"plot", inWorkDir("run.csv"), "-o", inWorkDir("missing/dir/b.png")});
    EXPECT_EQ(r.exit, exitstatus::OutputFile);
    EXPECT_FALSE(QFile::exists(workDir.filePath("a.png")));
}
