#include "windowfixture.h"

#include <QtCore/QFile>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

using halvik::quorvel::MainWindow;
using halvik::quorvel::test::WindowTest;

namespace {

const std::nullopt_t none = std::nullopt;
using Row = std::vector<std::optional<QString>>;

bool isWholeNumber(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= low && value <= high;
}

} // namespace

class PathTable : public WindowTest
{
protected:
    Row rowOf(int row) const
    {
        Row cells;
        for (int c = 0; c < 6; ++c) {
            cells.push_back(cell(row, c));
        }
        return cells;
    }
    QString writePathFile(const QByteArray& bytes)
    {
        const QString path = workDir.filePath("path.csv");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
};

TEST_F(PathTable, LoadPathAppendsTheFileRowsEachTime)
{
    startWithout();
    addRow({QString("1"), QString("2")});
    const QString path = writePathFile("SetPointAz,SetPointEl,SetPointSpeed,SetDwellTime(ms)\n"
                                       "120.5,-10,25,500\n"
                                       "\n"
                                       "30,5\n");
    ASSERT_TRUE(window->loadPathFile(path));
    ASSERT_TRUE(window->loadPathFile(path));
    ASSERT_EQ(table()->rowCount(), 7);
    EXPECT_EQ(rowOf(0), (Row{"1", "2", none, none, none, none}));
    for (int first : {1, 4}) {
        EXPECT_EQ(rowOf(first), (Row{"0", "0", "0", "0", none, none}));
        EXPECT_EQ(rowOf(first + 1), (Row{"120.5", "-10", "25", "500", none, none}));
        EXPECT_EQ(rowOf(first + 2), (Row{"30", "5", none, none, none, none}));
    }
}

TEST_F(PathTable, UnreadablePathFileLeavesTheTable)
{
    startWithout();
    EXPECT_FALSE(window->loadPathFile(""));
    EXPECT_EQ(status(), "");
    EXPECT_FALSE(window->loadPathFile(workDir.filePath("absent.csv")));
    EXPECT_TRUE(status().startsWith("Cannot open ")) << status().toStdString();
    EXPECT_EQ(table()->rowCount(), 0);
}

TEST_F(PathTable, ClearAllPositionsEmptiesTheTableOnly)
{
    startWithout();
    click("clearAllPositionsPushButton"); // empty table: nothing happens
    addRow({QString("1"), QString("2")});
    addRow({QString("3"), QString("4"), QString("5")});
    click("clearAllPositionsPushButton");
    EXPECT_EQ(table()->rowCount(), 0);
    EXPECT_EQ(table()->columnCount(), 6);
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), "N/A");
}

TEST_F(PathTable, AddCurrentPositionAppendsTheReadAngles)
{
    auto options = deviceOn(10);
    options.initialAzimuth = 12.5;
    options.initialElevation = -3.25;
    start(options);
    addRow({QString("1"), QString("2"), QString("3"), QString("4")});
    click("addCurrentPositionPushButton");
    ASSERT_EQ(table()->rowCount(), 2);
    EXPECT_EQ(rowOf(1), (Row{"12.5", "-3.25", none, none, none, none}));
    EXPECT_EQ(status(), "Error 0x00: No Error.");
}

TEST_F(PathTable, AddCurrentPositionWithoutReadingAppendsARowWithoutTarget)
{
    start(11);
    device->goSilent();
    click("addCurrentPositionPushButton");
    ASSERT_EQ(table()->rowCount(), 1);
    EXPECT_EQ(rowOf(0), (Row{none, none, none, none, none, none}));
    EXPECT_EQ(status(), "Error 0xfe: Timeout when attempting to communicate with vantor.");
}

// --- Generators ------------------------------------------------------------------------------

TEST_F(PathTable, GenerateRandomPathReplacesTheTableWithWholeDegreeTargets)
{
    startWithout();
    struct Form
    {
        double speed, delay;
        const char *speedCell, *dwellCell;
    };
    for (const Form form : {Form{10, 100, "10", "100"}, Form{12.34, 150.7, "12.34", "150"}}) {
        SCOPED_TRACE(form.speedCell);
        addRow(
            {QString("1"), QString("2"), QString("3"), QString("4"), QString("5"), QString("6")});
        widget<QDoubleSpinBox>("speedDoubleSpinBox")->setValue(form.speed);
        widget<QDoubleSpinBox>("delayDoubleSpinBox")->setValue(form.delay);
        click("generateRandomPathPushButton");
        ASSERT_EQ(table()->rowCount(), 100);
        std::set<QString> azimuths;
        for (int r = 0; r < 100; ++r) {
            const Row row = rowOf(r);
            ASSERT_TRUE(row[0] && row[1] && row[2] && row[3]) << r;
            EXPECT_TRUE(isWholeNumber(*row[0], 0, 360)) << row[0]->toStdString();
            EXPECT_TRUE(isWholeNumber(*row[1], -35, 35)) << row[1]->toStdString();
            EXPECT_EQ(*row[2], form.speedCell);
            EXPECT_EQ(*row[3], form.dwellCell);
            EXPECT_FALSE(row[4] || row[5]);
            azimuths.insert(*row[0]);
        }
        // Every row has a seed of its own, 5 ms apart.
        EXPECT_GT(azimuths.size(), 50u);
    }
}

TEST_F(PathTable, RandomTrajectoryWalksInSmallStepsFromTheDevicePosition)
{
    auto options = deviceOn(21);
    options.initialAzimuth = 180;
    options.initialElevation = 0;
    start(options);
    addRow({QString("1"), QString("2"), QString("3"), QString("4"), QString("5"), QString("6")});
    click("randomTrajectoryPushButton");
    ASSERT_EQ(table()->rowCount(), 100);
    double azimuth = 180;
    double elevation = 0;
    for (int r = 0; r < 100; ++r) {
        SCOPED_TRACE(r);
        const Row row = rowOf(r);
        ASSERT_TRUE(row[0] && row[1]);
        EXPECT_FALSE(row[2] || row[3] || row[4] || row[5]);
        const double az = row[0]->toDouble();
        const double el = row[1]->toDouble();
        EXPECT_LE(std::fabs(az - azimuth), 5.99 + 1e-9);
        EXPECT_LE(std::fabs(el - elevation), 2.99 + 1e-9);
        EXPECT_GE(az, 0.0);
        EXPECT_LE(az, 360.0);
        EXPECT_GE(el, -35.0);
        EXPECT_LE(el, 35.0);
        EXPECT_EQ(*row[0], QString::number(az, 'g', 6));
        azimuth = az;
        elevation = el;
    }
}

TEST_F(PathTable, RandomTrajectoryStopsExactlyAtTheLimits)
{
    // A frozen millisecond field seeds every draw alike, so each seed gives one fixed step per
    // axis and the walk is a straight line into (or away from) the limits.
    bool sawRising = false;
    bool sawFalling = false;
    for (int msec = 0; msec < 40 && !(sawRising && sawFalling); ++msec) {
        SCOPED_TRACE(msec);
        auto options = deviceOn(22);
        options.initialAzimuth = 359.5;
        options.initialElevation = 34.5;
        window.reset();
        device.reset();
        start(options, {[msec] { return QTime(12, 0, 0, msec); },
                        [] { return std::chrono::steady_clock::now(); }});
        click("randomTrajectoryPushButton");
        ASSERT_EQ(table()->rowCount(), 100);
        const double first = cell(0, 0)->toDouble();
        const double last = cell(99, 0)->toDouble();
        const double step = first - 359.5;
        if (step > 0) {
            // A step above 0.5 clamps at once; any positive step ends at exactly 360.
            sawRising = sawRising || first == 360.0;
            EXPECT_EQ(*cell(99, 0), "360");
        } else if (step < 0) {
            sawFalling = true;
            EXPECT_LT(last, first);
        }
        for (int r = 0; r < 100; ++r) {
            EXPECT_LE(cell(r, 0)->toDouble(), 360.0);
            EXPECT_LE(cell(r, 1)->toDouble(), 35.0);
            EXPECT_GE(cell(r, 1)->toDouble(), -35.0);
        }
        const double lastEl = cell(99, 1)->toDouble();
        if (cell(0, 1)->toDouble() > 34.5) {
            EXPECT_EQ(lastEl, 35.0);
        }
    }
    EXPECT_TRUE(sawRising) << "no seed clamped at 360";
    EXPECT_TRUE(sawFalling) << "no seed walked away from 360";
}

namespace {

/// A time of day whose millisecond field advances by stepMs at every reading, as the sleeps
/// between seedings make it advance.
halvik::quorvel::Clock steppingClock(int stepMs)
{
    auto readings = std::make_shared<int>(0);
    return {[readings, stepMs] {
                const int msec = (*readings * stepMs) % 1000;
                ++*readings;
                return QTime(12, 0, 0, msec);
            },
            [] { return std::chrono::steady_clock::now(); }};
}

} // namespace

TEST_F(PathTable, GeneratorDrawsDoNotFollowTheSeeds)
{
    // Generate Random Path: seeds 5 ms apart must not give azimuths in arithmetic progression.
    window = std::make_unique<MainWindow>(QStringList{"quorvel"}, steppingClock(5));
    click("generateRandomPathPushButton");
    ASSERT_EQ(table()->rowCount(), 100);
    std::set<int> steps;
    for (int r = 1; r < 100; ++r) {
        steps.insert((cell(r, 0)->toInt() - cell(r - 1, 0)->toInt() + 361) % 361);
    }
    EXPECT_GT(steps.size(), 50u) << "azimuth steps repeat";

    // Random Trajectory: seeds 1 ms apart must not make the step signs follow each other.
    auto options = deviceOn(28);
    options.initialAzimuth = 180;
    options.initialElevation = 0;
    window.reset();
    start(options, steppingClock(1));
    click("randomTrajectoryPushButton");
    ASSERT_EQ(table()->rowCount(), 100);
    int compared = 0;
    int alike = 0;
    double previousAz = 180;
    double previousEl = 0;
    for (int r = 0; r < 100; ++r) {
        const double dAz = cell(r, 0)->toDouble() - previousAz;
        const double dEl = cell(r, 1)->toDouble() - previousEl;
        previousAz = cell(r, 0)->toDouble();
        previousEl = cell(r, 1)->toDouble();
        if (dAz != 0 && dEl != 0) { // a zero step or a clamp tells no sign
            ++compared;
            alike += (dAz > 0) == (dEl > 0);
        }
    }
    ASSERT_GT(compared, 80);
    const double agreement = static_cast<double>(alike) / compared;
    EXPECT_GT(agreement, 0.3);
    EXPECT_LT(agreement, 0.7);
}

TEST_F(PathTable, RandomTrajectoryWithoutReadingLeavesTheTable)
{
    start(23);
    addRow({QString("1"), QString("2")});
    device->goSilent();
    click("randomTrajectoryPushButton");
    EXPECT_EQ(table()->rowCount(), 1);
    EXPECT_EQ(rowOf(0), (Row{"1", "2", none, none, none, none}));
    EXPECT_EQ(status(), "Error 0xfe: Timeout when attempting to communicate with vantor.");
}
