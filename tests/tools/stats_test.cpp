#include "ctlfixture.h"

#include <halvik/quorvel/pathdata.h>
#include <halvik/vantorctl/exitstatus.h>

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

using halvik::vantorctl::test::addressOf;
using halvik::vantorctl::test::CtlTest;
using halvik::vantorctl::test::vantorctl;
using ::testing::HasSubstr;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// A JSON value by a dotted path such as "azimuth.bias" or "targets.0.count".
QJsonValue at(const QJsonObject& root, const std::string& path)
{
    QJsonValue value = root;
    for (const QString& part : QString::fromStdString(path).split('.')) {
        bool index = false;
        const int i = part.toInt(&index);
        value = index ? value.toArray().at(i) : value.toObject().value(part);
    }
    return value;
}

QJsonObject statsJson(const std::string& results)
{
    const auto r = vantorctl({"stats", results, "--json"});
    EXPECT_EQ(r.exit, 0) << r.err;
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
    return document.object();
}

} // namespace

class Statistics : public CtlTest
{};

// Targets and actual positions chosen so that every figure can be worked out by hand: a row
// across 0/360, a row never read back, and the target 10,0 approached from below once and
// from above twice.
TEST_F(Statistics, OfAHandWorkedResultsFile)
{
    const std::string file = inWorkDir("run.csv");
    writeText(file, "\"SetPointAz\",\"SetPointEl\",\"SetPointSpeed\",\"SetDwellTime(ms)\","
                    "\"ActualAz\",\"ActualEl\"\n"
                    "\"5\",\"-1\",\"\",\"\",\"5\",\"-1\"\n"
                    "\"10\",\"0\",\"\",\"\",\"10.2\",\"0.1\"\n"
                    "\"20\",\"0\",\"\",\"\",\"20.1\",\"-0.1\"\n"
                    "\"10\",\"0\",\"\",\"\",\"9.9\",\"0.1\"\n"
                    "\"0.1\",\"5\",\"\",\"\",\"359.9\",\"5.2\"\n"
                    "\"20\",\"0\",\"\",\"\",\"\",\"\"\n"
                    "\"10\",\"0\",\"\",\"\",\"10.1\",\"0\"\n");
    const QJsonObject json = statsJson(file);
    const std::vector<std::pair<const char*, double>> expected = {
        {"rowsReadBack", 6},
        {"rowsWithoutActuals", 1},
        // Azimuth errors 0, 0.2, 0.1, -0.1, -0.2 (359.9 for 0.1), 0.1.
        {"azimuth.bias", 0.016666667},
        {"azimuth.standardDeviation", 0.147196014},
        {"azimuth.rms", 0.135400640},
        {"azimuth.maxAbsolute", 0.2},
        {"azimuth.sum", 360.3}, // the results line's | |actual| - |target| | keeps 359.8
        {"elevation.bias", 0.05},
        {"elevation.standardDeviation", 0.104880885},
        {"elevation.rms", 0.108012345},
        {"elevation.maxAbsolute", 0.2},
        {"elevation.sum", 0.5},
        {"crossElevation.bias", 0.016793510},
        {"crossElevation.standardDeviation", 0.146972122},
        {"sky.mean", 0.148122111},
        {"sky.rms", 0.173052887},
        {"sky.p95", 0.282283316},
        {"sky.max", 0.282283316},
        // Only 10,0 was read back more than once.
        {"targets.0.azimuth", 10},
        {"targets.0.elevation", 0},
        {"targets.0.count", 3},
        {"targets.0.repeatabilityAzimuth", 0.305505046},
        {"targets.0.repeatabilityElevation", 0.115470054},
        {"targets.0.reversalAzimuth", -0.2}, // mean(-0.1, 0.1) - 0.2
    };
    for (const auto& [path, value] : expected) {
        EXPECT_NEAR(at(json, path).toDouble(-1e9), value, 1e-6) << path;
    }
    EXPECT_EQ(json.value("targets").toArray().size(), 1);
    // Elevation never moved into 10,0 from above.
    EXPECT_TRUE(at(json, "targets.0.reversalElevation").isNull());

    const auto table = vantorctl({"stats", file});
    EXPECT_EQ(table.exit, 0);
    EXPECT_THAT(table.out, HasSubstr("Rows read back: 6 (1 without a target or an actual "
                                     "position, left out)"));
    EXPECT_THAT(table.out, HasSubstr("Bias                  0.0167      0.0500      0.0168"));
    EXPECT_THAT(table.out, HasSubstr("Current error sums    360.3000    0.5000"));
    EXPECT_THAT(table.out, HasSubstr("10.0000     0.0000      3           0.3055      0.1155      "
                                     "-0.2000     -\n"));

    const auto missing = vantorctl({"stats", inWorkDir("none.csv")});
    EXPECT_EQ(missing.exit, halvik::vantorctl::exitstatus::InputFile);
}

struct PatternCase
{
    const char* name;
    std::vector<std::string> args;
    std::string path;
};

void PrintTo(const PatternCase& c, std::ostream* os)
{
    *os << c.name;
}

class Patterns : public CtlTest, public ::testing::WithParamInterface<PatternCase>
{};

// Each pattern as Load Path reads it: the rows, the optional columns, the held last point.
TEST_P(Patterns, LoadThroughQuorvelsReader)
{
    const auto r = vantorctl(GetParam().args);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, GetParam().path);

    const QString file = workDir.filePath("path.csv");
    writeText(file.toStdString(), r.out);
    std::vector<halvik::quorvel::PathRow> rows;
    ASSERT_TRUE(halvik::quorvel::readPathFile(file, rows));
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line = row.cells[0].text.toStdString() + "," + row.cells[1].text.toStdString();
        for (int c = halvik::quorvel::SetPointSpeed; c <= halvik::quorvel::SetDwellTime; ++c) {
            if (row.has(c)) {
                line += "," + row.cells[c].text.toStdString();
            }
        }
        lines.push_back(line + "\n");
    }
    std::string reread;
    for (const auto& line : lines) {
        reread += line;
    }
    EXPECT_EQ(reread, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Patterns,
    ::testing::Values(
        PatternCase{"GridSerpentine",
                    {"make-path", "grid", "--az", "10:10.2:0.1", "--el", "-1:0:1"},
                    "10,-1\n10.1,-1\n10.2,-1\n10.2,0\n10.1,0\n10,0\n10,0\n"},
        PatternCase{"GridWithSpeedAndDwell",
                    {"make-path", "grid", "--az", "0:1:1", "--el", "5:5:1", "--speed", "2.5",
                     "--dwell", "40"},
                    "0,5,2.5,40\n1,5,2.5,40\n1,5,2.5,40\n"},
        // The first overshoot lies away from where the previous target was, on each axis.
        PatternCase{"RepeatBidirectional",
                    {"make-path", "repeat", "--targets", "10,5;8,6", "--passes", "1",
                     "--bidirectional", "--overshoot", "0.5"},
                    "10.5,5.5\n10,5\n9.5,4.5\n10,5\n7.5,6.5\n8,6\n8.5,5.5\n8,6\n8,6\n"},
        PatternCase{
            "RepeatPasses",
            {"make-path", "repeat", "--targets", "1,2;3,4", "--passes", "2", "--speed", "1"},
            "1,2,1\n3,4,1\n1,2,1\n3,4,1\n3,4,1\n"},
        PatternCase{"Steps",
                    {"make-path", "steps", "--center", "100,0", "--sizes", "0.5"},
                    "100,0\n100.5,0\n100,0\n99.5,0\n100,0\n100,0.5\n100,0\n100,-0.5\n100,0\n"
                    "100,0\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PatternErrors, AreUsageErrors)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"make-path", "spiral"},
             {"make-path", "grid", "--az", "10:0:1", "--el", "0:1:1"},
             {"make-path", "grid", "--az", "0:10:0", "--el", "0:1:1"},
             {"make-path", "repeat", "--targets", "1,2;3"},
             {"make-path", "repeat", "--targets", "0,0", "--bidirectional"},
             {"make-path", "steps", "--center", "1,1", "--sizes", "0.1,-1"},
             {"make-path", "grid", "--az", "0:1:1", "--el", "0:1:1", "--dwell", "40"},
             {"make-path", "grid", "--az", "0:1:1", "--el", "0:1:1", "--speed", "1", "--dwell",
              "2.5"},
             {"make-path", "grid", "--az", "0:1000:0.001", "--el", "0:10:1"}}) {
        const auto r = vantorctl(args);
        EXPECT_EQ(r.exit, halvik::vantorctl::exitstatus::Usage) << args[1] << " " << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_THAT(r.err, HasSubstr("make-path: "));
    }
}

// A simulated device with a known offset and backlash, a bidirectional pattern through
// run-path, and the statistics find both again within the read-back noise (0.02 deg).
TEST_F(Statistics, RecoverTheSimulatorsOffsetAndBacklash)
{
    QProcess simulator;
    simulator.start(QStringLiteral(VANTOR_SIM_BINARY),
                    {"--first-address", QString::fromStdString(addressOf(67)), "--port", "4365",
                     "--no-broadcast", "--backlash", "0.3", "--offset", "0.5,-0.2"});
    ASSERT_TRUE(simulator.waitForStarted(10000));
    QByteArray banner;
    while (!banner.contains("ready") && simulator.waitForReadyRead(10000)) {
        banner += simulator.readAllStandardOutput();
    }
    ASSERT_TRUE(banner.contains("ready")) << banner.toStdString();

    auto r = vantorctl({"make-path", "repeat", "--targets", "100,10;120,-10;140,20", "--passes",
                        "3", "--bidirectional", "--overshoot", "2"});
    ASSERT_EQ(r.exit, 0) << r.err;
    writeText(inWorkDir("pattern.csv"), r.out);
    r = vantorctl({"run-path", addressOf(67), inWorkDir("pattern.csv"), "--accel", "100000",
                   "--speed", "30", "--delay", "120", "--delay2", "5"});
    simulator.kill();
    simulator.waitForFinished(10000);
    ASSERT_EQ(r.exit, 0) << r.err;

    const QJsonObject json = statsJson(inWorkDir("a100000_s30_d120ms.csv"));
    EXPECT_EQ(at(json, "rowsReadBack").toInt(), 37);
    EXPECT_NEAR(at(json, "azimuth.bias").toDouble(), 0.5, 0.02);
    EXPECT_NEAR(at(json, "elevation.bias").toDouble(), -0.2, 0.02);
    int bidirectional = 0;
    for (const QJsonValue target : json.value("targets").toArray()) {
        const QJsonObject t = target.toObject();
        if (t.value("reversalAzimuth").isNull()) {
            continue; // an overshoot point: approached from one side only
        }
        ++bidirectional;
        EXPECT_NEAR(t.value("reversalAzimuth").toDouble(), 0.3, 0.03)
            << t.value("azimuth").toDouble();
        EXPECT_NEAR(t.value("reversalElevation").toDouble(), 0.3, 0.03);
    }
    EXPECT_EQ(bidirectional, 3);
}
