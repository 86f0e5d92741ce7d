#include "windowfixture.h"

#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QRadioButton>

#include <boost/chrono/process_cpu_clocks.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>

using namespace std::chrono_literals;
using halvik::quorvel::Clock;
using halvik::quorvel::test::StreamCapture;
using halvik::quorvel::test::WindowTest;
using SteadyClock = std::chrono::steady_clock;

namespace {

const std::nullopt_t none = std::nullopt;

/// The file's text with "\n" line ends (results files have the platform's line ends).
QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? file.readAll() : QByteArray();
}

const QByteArray header = "\"SetPointAz\",\"SetPointEl\",\"SetPointSpeed\",\"SetDwellTime(ms)\","
                          "\"ActualAz\",\"ActualEl\"\n";

/// One iteration's lines of the timing log, read back.
struct Iteration
{
    int started = -1;
    int finished = -1;
    long long duration = -1;
};

/// Checks that the log is whole iterations in order, then the error line, and returns them.
std::vector<Iteration> parseLog(const std::vector<std::string>& lines, std::string* errorLine)
{
    static const std::regex stamped(R"((\d{1,3}) ms: (.*))");
    static const std::regex finished(R"((\d{1,3}) ms: Iteration finished \((-?\d+)ms\))");
    const char* const order[] = {"Iteration started", "Before getting position",
                                 "After getting position using GetApertureAngles",
                                 "Before moving to next target", "After moving to next target"};
    std::vector<Iteration> iterations;
    std::size_t i = 0;
    while (i < lines.size() && lines[i].rfind("Current error: ", 0) != 0) {
        Iteration it;
        for (const char* text : order) {
            std::smatch m;
            EXPECT_TRUE(i < lines.size() && std::regex_match(lines[i], m, stamped) && m[2] == text)
                << "line " << i << " should be \"" << text
                << "\": " << (i < lines.size() ? lines[i] : "<end>");
            if (text == order[0] && m.size() > 1) {
                it.started = std::stoi(m[1]);
            }
            ++i;
        }
        std::smatch m;
        EXPECT_TRUE(i < lines.size() && std::regex_match(lines[i], m, finished))
            << "line " << i << ": " << (i < lines.size() ? lines[i] : "<end>");
        if (m.size() > 2) {
            it.finished = std::stoi(m[1]);
            it.duration = std::stoll(m[2]);
        }
        ++i;
        iterations.push_back(it);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_EQ(i + 1, lines.size()) << "the error line ends the log";
    if (errorLine && i < lines.size()) {
        *errorLine = lines[i];
    }
    return iterations;
}

} // namespace

class PathRun : public WindowTest
{
protected:
    void setDelays(double first, double second)
    {
        widget<QDoubleSpinBox>("delayDoubleSpinBox")->setValue(first);
        widget<QDoubleSpinBox>("delay2DoubleSpinBox")->setValue(second);
    }
    QString resultsFile() const { return workDir.filePath("a10000_s10_d100ms.csv"); }
};

TEST_F(PathRun, EmptyTableReadsOnceAndWritesOnlyTheHeader)
{
    start(12);
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());
    EXPECT_EQ(sent("GEAA"), 1u);
    EXPECT_EQ(sent("TRAA") + sent("SEAA"), 0u);
    EXPECT_EQ(readFile(resultsFile()), header);
    EXPECT_EQ(widget<QLabel>("elErrorValue")->text(), "0");
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), "0");
    EXPECT_EQ(out.lines(), std::vector<std::string>{"Current error: 0"});
}

TEST_F(PathRun, OneRowIsCommandedThenReadBackIntoItsRow)
{
    start(13);
    widget<QRadioButton>("setApertureAnglesRadioButton")->setChecked(true);
    setDelays(20, 20);
    addRow({QString("10"), QString("-5")});
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());

    ASSERT_EQ(sent("SEAA"), 1u);
    EXPECT_EQ(device->requests("SEAA")[0].bytes, std::string("VNSEAA\x03\xe8\xfe\x0c\x0e\x10", 12));
    EXPECT_EQ(sent("GEAA"), 2u);
    EXPECT_EQ(cell(0, 4), QString("10"));
    EXPECT_EQ(cell(0, 5), QString("-5"));
    const QString file = workDir.filePath("a10000_s10_d20ms.csv");
    EXPECT_EQ(readFile(file), header + "\"10\",\"-5\",\"\",\"\",\"10\",\"-5\"\n");

    std::string errorLine;
    const auto iterations = parseLog(out.lines(), &errorLine);
    EXPECT_EQ(iterations.size(), 1u);
    EXPECT_EQ(errorLine, "Current error: 0");

    // A second run with the same form replaces the file.
    table()->item(0, 0)->setText("12.5");
    ASSERT_TRUE(runPath());
    EXPECT_EQ(readFile(file), header + "\"12.5\",\"-5\",\"\",\"\",\"12.5\",\"-5\"\n");
}

TEST_F(PathRun, ErrorTotalsAreTheSummedDistancesOfTheRecordedRows)
{
    start(24);
    // Slow moves and short waits: the device is still on its way when each row is read back.
    widget<QDoubleSpinBox>("speedDoubleSpinBox")->setValue(1);
    setDelays(10, 10);
    addRow({QString("20"), QString("-10")});
    addRow({QString("40"), QString("-20")});
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());

    const QList<QByteArray> lines = readFile(workDir.filePath("a10000_s1_d10ms.csv")).split('\n');
    ASSERT_EQ(lines.size(), 4); // header, two rows, empty after the last line end
    double azimuth = 0;
    double elevation = 0;
    for (int r = 1; r <= 2; ++r) {
        const QList<QByteArray> f = lines[r].split(',');
        ASSERT_EQ(f.size(), 6);
        const auto value = [&](int c) { return QString(f[c]).remove('"').toDouble(); };
        azimuth += std::fabs(std::fabs(value(4)) - std::fabs(value(0)));
        elevation += std::fabs(std::fabs(value(5)) - std::fabs(value(1)));
    }
    EXPECT_GT(azimuth, 0.5);
    EXPECT_GT(elevation, 0.5);
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), QString::number(azimuth, 'g', 6));
    EXPECT_EQ(widget<QLabel>("elErrorValue")->text(), QString::number(elevation, 'g', 6));
    std::string errorLine;
    parseLog(out.lines(), &errorLine);
    // Parsed in the C locale: the test also runs under a decimal-comma locale.
    EXPECT_NEAR(QString::fromStdString(errorLine.substr(15)).toDouble(), azimuth + elevation, 1e-3);
}

TEST_F(PathRun, DwellCellsReplaceBothWaitsAndWaitsDoNotSpin)
{
    start(14);
    setDelays(400, 400);
    addRow({QString("1"), QString("1")});                                // spin boxes: 800 ms
    addRow({QString("2"), QString("2"), QString("10"), QString("150")}); // dwell: 300 ms
    addRow({QString("3"), QString("3"), QString("10"), QString("0")});   // no wait at all
    addRow({QString("4"), QString("4"), QString("10"), QString("1.5")}); // not an int: no wait
    StreamCapture out(std::cout);
    // Process CPU time (std::clock is wall time on Windows).
    using CpuClock = boost::chrono::process_cpu_clock;
    const CpuClock::time_point cpuBefore = CpuClock::now();
    const auto before = SteadyClock::now();
    ASSERT_TRUE(runPath());
    const double wall = std::chrono::duration<double>(SteadyClock::now() - before).count();
    const CpuClock::times used = (CpuClock::now() - cpuBefore).count();
    const double cpu = static_cast<double>(used.user + used.system) * 1e-9;

    const auto iterations = parseLog(out.lines(), nullptr);
    ASSERT_EQ(iterations.size(), 4u);
    EXPECT_GE(iterations[0].duration, 800);
    EXPECT_GE(iterations[1].duration, 300);
    EXPECT_LT(iterations[1].duration, 800) << "a dwell cell ignores the spin boxes";
    // Without any wait an iteration is two transactions; the spin boxes would make it 800 ms.
    EXPECT_LT(iterations[2].duration, 600);
    EXPECT_LT(iterations[3].duration, 600);
    EXPECT_GE(wall, 1.1);
    // Over a second of waiting: a polling wait would burn about as much CPU as wall time.
    EXPECT_LT(cpu, wall / 2) << "cpu " << cpu << " s of " << wall << " s";
}

TEST_F(PathRun, FirstWaitSettlesBeforeTheReadingAndSecondBeforeTheCommand)
{
    start(26);
    setDelays(300, 60);
    addRow({QString("1"), QString("1")});
    addRow({QString("2"), QString("2")});
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());

    const auto requests = device->requests();
    std::vector<std::pair<std::string, SteadyClock::time_point>> run;
    for (const auto& r : requests) {
        if (r.code() == "GEAA" || r.code() == "TRAA") {
            run.emplace_back(r.code(), r.when);
        }
    }
    // Row 0: read, command; row 1: read, command; then the last reading.
    ASSERT_EQ(run.size(), 5u);
    const char* const order[] = {"GEAA", "TRAA", "GEAA", "TRAA", "GEAA"};
    for (std::size_t i = 0; i < run.size(); ++i) {
        EXPECT_EQ(run[i].first, order[i]) << i;
    }
    // Never early: at least each wait between the requests it separates.
    EXPECT_GE(run[2].second - run[1].second, 300ms) << "the first wait lets the move settle";
    EXPECT_GE(run[3].second - run[2].second, 60ms) << "the second wait follows the reading";
}

TEST_F(PathRun, FailedReadingsLeaveTheActualCells)
{
    start(27);
    setDelays(5, 5);
    addRow({QString("1"), QString("2"), none, none, QString("7"), QString("8")});
    addRow({QString("3"), QString("4"), none, none, QString("9"), QString("10")});
    device->goSilent();
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());
    EXPECT_EQ(sent("GEAA"), 3u);
    EXPECT_EQ(cell(0, 4), QString("7"));
    EXPECT_EQ(cell(0, 5), QString("8"));
    EXPECT_EQ(cell(1, 4), QString("9"));
    EXPECT_EQ(cell(1, 5), QString("10"));
}

TEST_F(PathRun, WaitAcrossMidnightLastsItsFullTime)
{
    // The time of day is 23:59:59.900 at its first reading in the run (the iteration's start)
    // and then runs with the real clock, however long the machine takes to start the run.
    const auto origin = std::make_shared<std::optional<SteadyClock::time_point>>();
    const Clock nearMidnight{[origin] {
                                 if (!*origin) {
                                     *origin = SteadyClock::now();
                                 }
                                 const auto ms =
                                     std::chrono::duration_cast<std::chrono::milliseconds>(
                                         SteadyClock::now() - **origin)
                                         .count();
                                 return QTime(23, 59, 59, 900).addMSecs(static_cast<int>(ms));
                             },
                             [] { return SteadyClock::now(); }};
    start(deviceOn(16), nearMidnight);
    addRow({QString("1"), QString("1"), QString("10"), QString("300")});
    StreamCapture out(std::cout);
    origin->reset();
    const auto before = SteadyClock::now();
    ASSERT_TRUE(runPath());
    EXPECT_GE(SteadyClock::now() - before, 600ms);

    const auto iterations = parseLog(out.lines(), nullptr);
    ASSERT_EQ(iterations.size(), 1u);
    // Stamps are the millisecond fields of the (injected) time of day; the duration is not.
    EXPECT_GE(iterations[0].started, 900);
    EXPECT_LT(iterations[0].finished, iterations[0].started);
    EXPECT_GE(iterations[0].duration, 600);
}

TEST_F(PathRun, ExecutePathDuringARunRestartsItWithOneTimer)
{
    start(17);
    for (int r = 0; r < 3; ++r) {
        addRow({QString::number(r + 1), QString("0"), QString("10"), QString("150")});
    }
    StreamCapture out(std::cout);
    click("executePathPushButton");
    // Pressed again while row 0 waits.
    QTimer::singleShot(100, window.get(), [this] { click("executePathPushButton"); });
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->pathRunning(); }, 30000));

    const auto timers = window->findChildren<QTimer*>("pathTimer");
    ASSERT_EQ(timers.size(), 1);
    EXPECT_FALSE(timers[0]->isActive());
    EXPECT_EQ(sent("TRAA"), 3u) << "the interrupted iteration commands nothing";
    EXPECT_EQ(sent("GEAA"), 4u);

    // The interrupted iteration logged only its start; then three whole ones follow.
    auto lines = out.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find(" ms: Iteration started"), std::string::npos);
    lines.erase(lines.begin());
    EXPECT_EQ(parseLog(lines, nullptr).size(), 3u);
    EXPECT_TRUE(QFile::exists(resultsFile()));
}

TEST_F(PathRun, RowsRemovedDuringARunEndIt)
{
    start(18);
    const std::pair<const char*, int> removers[] = {{"clearAllPositionsPushButton", 0},
                                                    {"generateRandomPathPushButton", 100}};
    for (const auto& [button, rowsAfter] : removers) {
        SCOPED_TRACE(button);
        table()->setRowCount(0);
        for (int r = 0; r < 3; ++r) {
            addRow({QString::number(r + 1), QString("0"), QString("10"), QString("200")});
        }
        device->clearRequests();
        const char* name = button;
        click("executePathPushButton");
        QTimer::singleShot(100, window.get(), [this, name] { click(name); });
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window->pathRunning(); }, 30000));
        QTest::qWait(300);
        EXPECT_EQ(status(), "Path run ended: rows were removed");
        EXPECT_EQ(table()->rowCount(), rowsAfter);
        EXPECT_EQ(sent("TRAA"), 0u);
        EXPECT_FALSE(window->findChild<QTimer*>("pathTimer")->isActive());
        EXPECT_FALSE(QFile::exists(resultsFile()));
    }
}

TEST_F(PathRun, RowWithoutTargetIsPassedOver)
{
    start(19);
    setDelays(5, 5);
    addRow({QString("5"), QString("1")});
    addRow({});                   // no items at all
    addRow({QString("7"), none}); // elevation missing
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());
    ASSERT_EQ(sent("TRAA"), 1u);
    EXPECT_EQ(readFile(workDir.filePath("a10000_s10_d5ms.csv")).count('\n'), 4);
    EXPECT_TRUE(cell(0, 4).has_value());
    EXPECT_TRUE(cell(2, 4).has_value()) << "the last row is read back all the same";
}

TEST_F(PathRun, UnwritableResultsFileIsReported)
{
    start(20);
    ASSERT_TRUE(QDir(workDir.path()).mkdir("a10000_s10_d100ms.csv"));
    StreamCapture errors(std::cerr);
    StreamCapture out(std::cout);
    ASSERT_TRUE(runPath());
    EXPECT_TRUE(status().startsWith("Cannot write a10000_s10_d100ms.csv: "))
        << status().toStdString();
    EXPECT_NE(errors.text().find("Cannot write a10000_s10_d100ms.csv"), std::string::npos);
    // The totals are still shown and logged.
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), "0");
    EXPECT_EQ(out.lines(), std::vector<std::string>{"Current error: 0"});
}
