#include "ctlfixture.h"

#include <halvik/quorvel/mainwindow.h>
#include <halvik/quorvel/resultsfile.h>
#include <halvik/vantorctl/exitstatus.h>

#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QDoubleSpinBox>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <regex>

using namespace std::chrono_literals;
using halvik::sim::SimulatedDevice;
using halvik::vantorctl::test::addressOf;
using halvik::vantorctl::test::CtlTest;
using halvik::vantorctl::test::deviceOn;
using halvik::vantorctl::test::readFile;
using halvik::vantorctl::test::vantorctl;
using ::testing::HasSubstr;
namespace exitstatus = halvik::vantorctl::exitstatus;

namespace {

const std::string fixturePath = VANTORCTL_FIXTURES "/path.csv";

const char* const iterationLines[] = {
    "N ms: Iteration started",
    "N ms: Before getting position",
    "N ms: After getting position using GetApertureAngles",
    "N ms: Before moving to next target",
    "N ms: After moving to next target",
    "N ms: Iteration finished (Nms)",
};

/// The log with every number replaced by N, so that two runs can be compared line by line.
std::vector<std::string> logShape(const std::vector<std::string>& lines)
{
    static const std::regex number(R"(-?[0-9]+(\.[0-9]+)?(e[-+][0-9]+)?)");
    std::vector<std::string> shape;
    for (const std::string& line : lines) {
        shape.push_back(std::regex_replace(line, number, "N"));
    }
    return shape;
}

std::vector<std::string> expectedShape(std::size_t rows)
{
    std::vector<std::string> shape;
    for (std::size_t i = 0; i < rows; ++i) {
        shape.insert(shape.end(), std::begin(iterationLines), std::end(iterationLines));
    }
    shape.emplace_back("Current error: N");
    return shape;
}

/// Replaces a standard stream's buffer for the lifetime of the object.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream& stream)
        : stream(stream)
        , previous(stream.rdbuf(buffer.rdbuf()))
    {}
    ~StreamCapture() { stream.rdbuf(previous); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(buffer.str());
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

private:
    std::ostream& stream;
    std::ostringstream buffer;
    std::streambuf* previous;
};

std::vector<halvik::quorvel::PathRow> readResults(const QString& path)
{
    std::vector<halvik::quorvel::PathRow> rows;
    QString error;
    EXPECT_TRUE(halvik::quorvel::readResultsFile(path, rows, &error)) << error.toStdString();
    return rows;
}

} // namespace

class RunPath : public CtlTest
{};

TEST_F(RunPath, WritesTheResultsFileAndLogOfQuorvelForTheSamePath)
{
    // The same path, once from the command line and once from Quorvel's window, each against
    // its own device. SetApertureAngles is answered once the device is there, so both record
    // the same positions whatever the waits.
    SimulatedDevice cliDevice(deviceOn(20));
    SimulatedDevice windowDevice(deviceOn(21));
    const QString resultsName = "a20000_s20_d20ms.csv";

    QDir::setCurrent(workDir.filePath("."));
    ASSERT_TRUE(QDir().mkpath("cli") && QDir().mkpath("window"));
    QDir::setCurrent(workDir.filePath("cli"));
    const auto cli = vantorctl({"run-path", addressOf(20), fixturePath, "--set", "--speed", "20",
                                "--accel", "20000", "--delay", "20", "--delay2", "10"});
    EXPECT_EQ(cli.exit, 0) << cli.err;
    EXPECT_EQ(cli.err, "");

    QDir::setCurrent(workDir.filePath("window"));
    std::vector<std::string> windowLog;
    {
        halvik::quorvel::MainWindow window({"quorvel", QString::fromStdString(addressOf(21))});
        window.show();
        ASSERT_TRUE(window.loadPathFile(QString::fromStdString(fixturePath)));
        const auto spin = [&](const char* name, double value) {
            auto* box = window.findChild<QDoubleSpinBox*>(name);
            ASSERT_NE(box, nullptr) << name;
            box->setValue(value);
        };
        spin("speedDoubleSpinBox", 20);
        spin("accelerationDoubleSpinBox", 20000);
        spin("delayDoubleSpinBox", 20);
        spin("delay2DoubleSpinBox", 10);
        window.findChild<QAbstractButton*>("setApertureAnglesRadioButton")->click();
        StreamCapture out(std::cout);
        window.findChild<QAbstractButton*>("executePathPushButton")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.pathRunning(); }, 30000));
        windowLog = out.lines();
    }

    const QString cliFile = workDir.filePath("cli/" + resultsName);
    const QString windowFile = workDir.filePath("window/" + resultsName);
    ASSERT_TRUE(QFile::exists(cliFile));
    ASSERT_TRUE(QFile::exists(windowFile));
    const QList<QByteArray> cliLines = readFile(cliFile).split('\n');
    const QList<QByteArray> windowLines = readFile(windowFile).split('\n');
    ASSERT_EQ(cliLines.size(), 7) << "header, five rows, empty after the last line end";
    ASSERT_EQ(cliLines.size(), windowLines.size());
    EXPECT_EQ(cliLines[0], windowLines[0]);

    const auto cliRows = readResults(cliFile);
    const auto windowRows = readResults(windowFile);
    ASSERT_EQ(cliRows.size(), 5u);
    ASSERT_EQ(cliRows.size(), windowRows.size());
    for (std::size_t r = 0; r < cliRows.size(); ++r) {
        for (int c = 0; c < halvik::quorvel::PathColumnCount; ++c) {
            const auto& a = cliRows[r].cells[c];
            const auto& b = windowRows[r].cells[c];
            ASSERT_EQ(a.present, b.present) << "row " << r << " column " << c;
            if (c < halvik::quorvel::ActualAz) {
                EXPECT_EQ(a.text, b.text) << "row " << r << " column " << c;
            } else {
                EXPECT_NEAR(a.text.toDouble(), b.text.toDouble(), 0.02)
                    << "row " << r << " column " << c;
            }
        }
    }
    // The path file's rules: the missing cells of the two-field line, the dwell of 1.5 read
    // as 0, the fields after the fourth dropped.
    EXPECT_EQ(cliLines[2], "\"60\",\"-5\",\"\",\"\",\"60\",\"-5\"");
    EXPECT_EQ(cliLines[4], "\"120.5\",\"-10\",\"20\",\"0\",\"120.5\",\"-10\"");

    const auto cliLog = cli.outLines();
    EXPECT_EQ(logShape(cliLog), expectedShape(5));
    EXPECT_EQ(logShape(cliLog), logShape(windowLog));
    ASSERT_FALSE(cliLog.empty());
    ASSERT_FALSE(windowLog.empty());
    EXPECT_EQ(cliLog.back(), "Current error: 0");
    EXPECT_EQ(windowLog.back(), "Current error: 0");
    EXPECT_EQ(cliDevice.acceleration(), 20000.0);
}

TEST_F(RunPath, RowsWithoutCellsUseTheOptionsAndADwellReplacesBothWaits)
{
    SimulatedDevice device(deviceOn(22));
    QFile path(workDir.filePath("path.csv"));
    ASSERT_TRUE(path.open(QIODevice::WriteOnly));
    path.write("20,5\n40,-5,10,150\n");
    path.close();

    const auto r = vantorctl({"run-path", addressOf(22), path.fileName().toStdString(), "--speed",
                              "5", "--delay", "50", "--delay2", "250", "--stats"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(logShape(r.outLines()), expectedShape(2));

    // Tracking by default; the first row takes --speed (5 x 360 = 0x0708), the second its own.
    const auto seac = device.requests("SEAC");
    const auto geaa = device.requests("GEAA");
    const auto traa = device.requests("TRAA");
    ASSERT_EQ(seac.size(), 1u);
    ASSERT_EQ(geaa.size(), 3u) << "one per row, and the final position";
    ASSERT_EQ(traa.size(), 2u);
    EXPECT_EQ(device.requests("SEAA").size(), 0u);
    EXPECT_EQ(seac[0].bytes, std::string("VNSEAC\x00\x00\x27\x10", 10));
    EXPECT_EQ(traa[0].bytes, std::string("VNTRAA\x07\xd0\x01\xf4\x07\x08", 12));
    EXPECT_EQ(traa[1].bytes, std::string("VNTRAA\x0f\xa0\xfe\x0c\x0e\x10", 12));

    // The waits, seen by the device: --delay before each reading, --delay2 before each command,
    // and a dwell time in place of both.
    EXPECT_GE(geaa[0].when - seac[0].when, 50ms);
    EXPECT_GE(traa[0].when - geaa[0].when, 250ms);
    EXPECT_GE(geaa[1].when - traa[0].when, 150ms);
    EXPECT_GE(traa[1].when - geaa[1].when, 150ms);

    const QByteArray results = readFile(workDir.filePath("a10000_s5_d50ms.csv"));
    EXPECT_TRUE(results.startsWith("\"SetPointAz\",\"SetPointEl\",\"SetPointSpeed\","
                                   "\"SetDwellTime(ms)\",\"ActualAz\",\"ActualEl\"\n"
                                   "\"20\",\"5\",\"\",\"\",\"20\",\"5\"\n"))
        << results.toStdString();
    EXPECT_THAT(r.err, ::testing::ContainsRegex(R"(stats: TrackApertureAngles +2 )"));
    EXPECT_THAT(r.err, ::testing::ContainsRegex(R"(stats: all +6 )"));
}

TEST_F(RunPath, NoDeviceStopsBeforeTheRunAndWritesNothing)
{
    const auto r = vantorctl({"run-path", addressOf(23), fixturePath});
    EXPECT_EQ(r.exit, 254);
    EXPECT_EQ(r.out, "") << "no timing log without a run";
    EXPECT_THAT(r.err, HasSubstr("SetAcceleration: Error 0xfe"));
    EXPECT_TRUE(QDir(workDir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(RunPath, DeviceErrorInTheRunIsTheExitStatusAndTheResultsAreWritten)
{
    auto options = deviceOn(24);
    options.requireHome = true;
    SimulatedDevice device(options);
    const auto r =
        vantorctl({"run-path", addressOf(24), fixturePath, "--delay", "1", "--delay2", "1"});
    EXPECT_EQ(r.exit, 4);
    EXPECT_THAT(r.err, HasSubstr("5 of 12 transactions failed; the first: "
                                 "TrackApertureAngles: Error 0x04: Not Homed"));
    EXPECT_EQ(logShape(r.outLines()), expectedShape(5)) << "failures do not stop the run";
    EXPECT_EQ(readResults(workDir.filePath("a10000_s10_d1ms.csv")).size(), 5u);
}

TEST_F(RunPath, UnwritableResultsFileIsReportedAndTheErrorStillLogged)
{
    SimulatedDevice device(deviceOn(25));
    // A directory of the results file's name cannot be opened as a file, even by root.
    ASSERT_TRUE(QDir(workDir.path()).mkdir("a10000_s10_d1ms.csv"));
    const auto r = vantorctl({"run-path", addressOf(25), fixturePath, "--delay", "1"});
    EXPECT_EQ(r.exit, exitstatus::OutputFile);
    EXPECT_THAT(r.err, HasSubstr("cannot write a10000_s10_d1ms.csv"));
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_THAT(r.outLines().back(), ::testing::StartsWith("Current error: "));
}

TEST_F(RunPath, MissingPathFileIsAnInputError)
{
    const auto r = vantorctl({"run-path", addressOf(26), inWorkDir("nosuch.csv")});
    EXPECT_EQ(r.exit, exitstatus::InputFile);
    EXPECT_THAT(r.err, HasSubstr("cannot read"));
}
