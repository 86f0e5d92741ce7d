#include "windowfixture.h"

#include <halvik/quorvel/mainwindow.h>

#include <QtCore/QMetaMethod>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLayout>
#include <QtWidgets/QRadioButton>

#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;
using halvik::quorvel::test::field16;
using halvik::quorvel::test::StreamCapture;
using halvik::quorvel::test::WindowTest;

namespace {

const QString ok = "Error 0x00: No Error.";
const QString timeout = "Error 0xfe: Timeout when attempting to communicate with vantor.";

} // namespace

// --- Construction and the form ---------------------------------------------------------------

using Construction = WindowTest;

TEST_F(Construction, WithoutAddressRunsWithoutDevice)
{
    startWithout();
    EXPECT_FALSE(window->hasDevice());
    EXPECT_EQ(window->windowTitle(), "Halvik Robotics - Quorvel");
    EXPECT_EQ(status(), "");
    EXPECT_EQ(table()->rowCount(), 0);
    ASSERT_EQ(table()->columnCount(), 6);
    const QStringList headers{"SetPointAz",       "SetPointEl", "SetPointSpeed",
                              "SetDwellTime(ms)", "ActualAz",   "ActualEl"};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(table()->horizontalHeaderItem(c)->text(), headers[c]);
        EXPECT_EQ(table()->horizontalHeader()->sectionResizeMode(c), QHeaderView::Stretch);
    }
    EXPECT_FALSE(table()->verticalHeader()->isVisible());
    EXPECT_EQ(widget<QLabel>("elErrorValue")->text(), "N/A");
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), "N/A");
    EXPECT_EQ(widget<QLabel>("currentAzLabel")->text(), "0");
    EXPECT_EQ(widget<QLabel>("currentElLabel")->text(), "0");
}

TEST_F(Construction, WithAddressGreetsAndSetsTheAccelerationOnce)
{
    const std::string address = addressOf(1);
    device = std::make_unique<halvik::sim::SimulatedDevice>(deviceOn(1));
    // Only the first argument counts.
    window = std::make_unique<halvik::quorvel::MainWindow>(QStringList{
        "quorvel", QString::fromStdString(address), QString::fromStdString(addressOf(99))});
    EXPECT_TRUE(window->hasDevice());
    EXPECT_EQ(window->windowTitle(), QString::fromStdString(address) + " - Quorvel");
    EXPECT_EQ(status(), "Ready");

    const auto requests = device->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, "VNPPPP");
    EXPECT_EQ(requests[1].bytes, std::string("VNSEAC\x00\x00\x27\x10", 10));
    QTest::qWait(100);
    EXPECT_EQ(device->requests().size(), 2u) << "the construction sends nothing more";
}

TEST_F(Construction, BadAddressIsReportedAndTheWindowRunsWithoutDevice)
{
    StreamCapture errors(std::cerr);
    startWithout({"quorvel", "999.1.2.3"});
    EXPECT_FALSE(window->hasDevice());
    EXPECT_EQ(window->windowTitle(), "999.1.2.3 - Quorvel");
    EXPECT_TRUE(status().startsWith("Cannot open the link to 999.1.2.3: "))
        << status().toStdString();
    EXPECT_NE(errors.text().find("Cannot open the link to 999.1.2.3"), std::string::npos);

    click("movePushButton");
    EXPECT_EQ(status(), "No device connected");
}

TEST_F(Construction, EveryDeviceActionWithoutDeviceSaysSo)
{
    startWithout();
    addRow({QString("1"), QString("2")});
    const std::vector<std::function<void()>> actions = {
        [&] { click("movePushButton"); },
        [&] { click("homePushButton"); },
        [&] { click("getApertureAnglesPushButton"); },
        [&] { click("addCurrentPositionPushButton"); },
        [&] { click("executePathPushButton"); },
        [&] { click("randomTrajectoryPushButton"); },
        [&] { widget<QDoubleSpinBox>("accelerationDoubleSpinBox")->setValue(20000); },
    };
    for (std::size_t i = 0; i < actions.size(); ++i) {
        SCOPED_TRACE(i);
        window->statusBar()->clearMessage();
        actions[i]();
        EXPECT_EQ(status(), "No device connected");
        EXPECT_FALSE(window->pathRunning());
        EXPECT_EQ(table()->rowCount(), 1);
    }
}

TEST_F(Construction, FormHasTheDescribedWidgetsAndNumbers)
{
    startWithout();
    EXPECT_EQ(window->objectName(), "MainWindow");
    EXPECT_EQ(window->size(), QSize(680, 674));
    EXPECT_FALSE(window->windowIcon().isNull());

    struct Spin
    {
        const char* name;
        double minimum, maximum, step, value;
    };
    const Spin spins[] = {{"azimuthDoubleSpinBox", 0, 360, 1, 0},
                          {"elevationDoubleSpinBox", -35, 35, 1, 0},
                          {"speedDoubleSpinBox", 0.01, 999.9, 1, 10},
                          {"accelerationDoubleSpinBox", 0.01, 5000000, 10000, 10000},
                          {"delayDoubleSpinBox", 1, 10000, 100, 100},
                          {"delay2DoubleSpinBox", 1, 10000, 100, 100}};
    for (const Spin& s : spins) {
        SCOPED_TRACE(s.name);
        auto* box = widget<QDoubleSpinBox>(s.name);
        EXPECT_EQ(box->decimals(), 2);
        EXPECT_DOUBLE_EQ(box->minimum(), s.minimum);
        EXPECT_DOUBLE_EQ(box->maximum(), s.maximum);
        EXPECT_DOUBLE_EQ(box->singleStep(), s.step);
        EXPECT_DOUBLE_EQ(box->value(), s.value);
        // The box shows its value in the user's locale.
        EXPECT_EQ(box->locale().toDouble(box->cleanText()), s.value)
            << box->cleanText().toStdString();
    }

    const std::pair<const char*, const char*> texts[] = {
        {"mouseTrackerLabel", "Mouse\nTracker"},
        {"addCurrentPositionPushButton", "Add current\nposition"},
        {"randomTrajectoryPushButton", "Random \n Trajectory"},
        {"generateRandomPathPushButton", "Generate \nRandom Path"},
        {"clearAllPositionsPushButton", "Clear all \npositions"},
        {"pushButton", "Load Path"},
        {"executePathPushButton", "Execute Path"},
        {"getApertureAnglesPushButton", "GetApertureAngles"},
        {"label_5", "Delay before GetApertureAngles(ms):"},
        {"label_9", "Delay after GetApertureAngles(ms):"},
        {"label_3", "Accel.:"},
        {"label_8", "Move using:"}};
    for (const auto& [name, text] : texts) {
        QObject* object = window->findChild<QObject*>(name);
        ASSERT_NE(object, nullptr) << name;
        EXPECT_EQ(object->property("text").toString(), QString(text)) << name;
    }

    auto* tracker = widget<QLabel>("mouseTrackerLabel");
    EXPECT_EQ(tracker->size(), QSize(100, 100));
    EXPECT_TRUE(tracker->hasMouseTracking());
    EXPECT_EQ(tracker->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(tracker->frameShape(), QFrame::WinPanel);
    EXPECT_TRUE(widget<QRadioButton>("trackApertureAnglesRadioButton")->isChecked());
    EXPECT_FALSE(widget<QRadioButton>("setApertureAnglesRadioButton")->isChecked());
    EXPECT_FALSE(widget<QCheckBox>("invertXCheckBox")->isChecked());

    for (QLayout* layout : window->findChildren<QLayout*>()) {
        if (layout->objectName().isEmpty() || layout->objectName().startsWith("_")) {
            continue; // the main window's own layout
        }
        SCOPED_TRACE(layout->objectName().toStdString());
        EXPECT_EQ(layout->spacing(), 6);
        const bool outer = layout->parentWidget() && layout->parentWidget()->layout() == layout;
        const int margin = outer ? 11 : 0;
        EXPECT_EQ(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
    }
}

TEST_F(Construction, SlotsAreDeclaredInTableOrder)
{
    startWithout();
    const char* const expected[] = {"on_addCurrentPositionPushButton_clicked()",
                                    "on_executePathPushButton_clicked()",
                                    "on_clearAllPositionsPushButton_clicked()",
                                    "on_accelerationDoubleSpinBox_valueChanged(double)",
                                    "on_getApertureAnglesPushButton_clicked()",
                                    "on_movePushButton_clicked()",
                                    "on_generateRandomPathPushButton_clicked()",
                                    "updatePosition()",
                                    "on_randomTrajectoryPushButton_clicked()",
                                    "on_homePushButton_clicked()",
                                    "on_pushButton_clicked()"};
    const QMetaObject* meta = window->metaObject();
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 11);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(meta->method(meta->methodOffset() + i).methodSignature(), expected[i]) << i;
    }
}

// --- Manual pointing -------------------------------------------------------------------------

using ManualPointing = WindowTest;

TEST_F(ManualPointing, AccelerationChangeSendsOneCommand)
{
    start(2);
    widget<QDoubleSpinBox>("accelerationDoubleSpinBox")->setValue(20000);
    const auto commands = device->requests("SEAC");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].bytes, std::string("VNSEAC\x00\x00\x4e\x20", 10));
    EXPECT_EQ(status(), ok);
}

TEST_F(ManualPointing, MoveUsesTheChosenCommand)
{
    start(3);
    widget<QDoubleSpinBox>("azimuthDoubleSpinBox")->setValue(12.5);
    widget<QDoubleSpinBox>("elevationDoubleSpinBox")->setValue(-3);
    click("movePushButton");
    ASSERT_EQ(sent("TRAA"), 1u);
    // 1250, -300 and 10 x 360 on the wire.
    EXPECT_EQ(device->requests("TRAA")[0].bytes, std::string("VNTRAA\x04\xe2\xfe\xd4\x0e\x10", 12));
    EXPECT_EQ(status(), ok);

    widget<QRadioButton>("setApertureAnglesRadioButton")->setChecked(true);
    click("movePushButton");
    ASSERT_EQ(sent("SEAA"), 1u);
    EXPECT_EQ(device->requests("SEAA")[0].bytes, std::string("VNSEAA\x04\xe2\xfe\xd4\x0e\x10", 12));
    EXPECT_EQ(sent("TRAA"), 1u);
    EXPECT_EQ(status(), ok);
}

TEST_F(ManualPointing, HomeShowsNothing)
{
    start(4);
    click("homePushButton");
    EXPECT_EQ(sent("HOME"), 1u);
    EXPECT_EQ(status(), "Ready");
}

TEST_F(ManualPointing, FailedHomeShowsNothingEither)
{
    start(5);
    device->goSilent();
    click("homePushButton");
    EXPECT_EQ(sent("HOME"), 1u);
    EXPECT_EQ(status(), "Ready");
}

TEST_F(ManualPointing, GetApertureAnglesShowsSixDigitAngles)
{
    auto options = deviceOn(6);
    options.initialAzimuth = 200.25;
    options.initialElevation = -12.5;
    start(options);
    click("getApertureAnglesPushButton");
    EXPECT_EQ(widget<QLabel>("currentAzLabel")->text(), "200.25");
    EXPECT_EQ(widget<QLabel>("currentElLabel")->text(), "-12.5");
    EXPECT_EQ(status(), ok);
}

TEST_F(ManualPointing, FailedGetApertureAnglesKeepsTheLabels)
{
    auto options = deviceOn(7);
    options.initialAzimuth = 10;
    start(options);
    click("getApertureAnglesPushButton");
    ASSERT_EQ(widget<QLabel>("currentAzLabel")->text(), "10");
    device->goSilent();
    click("getApertureAnglesPushButton");
    EXPECT_EQ(widget<QLabel>("currentAzLabel")->text(), "10");
    EXPECT_EQ(widget<QLabel>("currentElLabel")->text(), "0");
    EXPECT_EQ(status(), timeout);
}

TEST_F(ManualPointing, StatusTextsStayFiveSecondsAndReadyStays)
{
    start(25);
    EXPECT_EQ(status(), "Ready");
    EXPECT_EQ(statusTimeout(), 0);
    click("getApertureAnglesPushButton");
    EXPECT_EQ(status(), ok);
    EXPECT_EQ(statusTimeout(), 5000);

    // Each failure shows the failed transaction's own status text.
    device->goSilent();
    auto* area = widget<QLabel>("mouseTrackerLabel");
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"Move", [this] { click("movePushButton"); }},
        {"tracker",
         [area] {
             QMouseEvent move(QEvent::MouseMove, QPointF(30, 30),
                              area->mapToGlobal(QPointF(30, 30)), Qt::NoButton, Qt::LeftButton,
                              Qt::NoModifier);
             QCoreApplication::sendEvent(area, &move);
         }},
        {"Accel.",
         [this] { widget<QDoubleSpinBox>("accelerationDoubleSpinBox")->setValue(20000); }},
    };
    for (const auto& [name, action] : actions) {
        SCOPED_TRACE(name);
        window->statusBar()->showMessage(QStringLiteral("Ready"));
        action();
        EXPECT_EQ(status(), timeout);
        EXPECT_EQ(statusTimeout(), 5000);
    }
    EXPECT_EQ(sent("TRAA"), 2u);
    EXPECT_EQ(sent("SEAC"), 2u);
}

// --- Mouse tracker ---------------------------------------------------------------------------

using MouseTracker = WindowTest;

TEST_F(MouseTracker, LeftButtonDragsPointWhereTheMappingSays)
{
    start(8);
    auto* area = widget<QLabel>("mouseTrackerLabel");
    ASSERT_EQ(area->size(), QSize(100, 100));
    struct Case
    {
        int x, y;
        bool invertX, invertY;
        double azimuth, elevation;
    };
    const Case cases[] = {{0, 0, false, false, 180, -35}, {50, 50, false, false, 360, 0},
                          {51, 50, false, false, 3.6, 0}, {99, 99, false, false, 176.4, 34.3},
                          {50, 0, true, false, 0, -35},   {0, 0, false, true, 180, 35},
                          {75, 25, true, true, 270, 17.5}};
    std::size_t expectedCount = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.invertX << c.invertY);
        widget<QCheckBox>("invertXCheckBox")->setChecked(c.invertX);
        widget<QCheckBox>("invertYCheckBox")->setChecked(c.invertY);
        QMouseEvent move(QEvent::MouseMove, QPointF(c.x, c.y), area->mapToGlobal(QPointF(c.x, c.y)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &move);
        const auto commands = device->requests("TRAA");
        ASSERT_EQ(commands.size(), ++expectedCount);
        const std::string& bytes = commands.back().bytes;
        // The wire carries hundredths, truncated (and 360 degrees as 36000 in 16 bits).
        EXPECT_NEAR(static_cast<std::uint16_t>(field16(bytes, 6)) / 100.0, c.azimuth, 0.011);
        EXPECT_NEAR(field16(bytes, 8) / 100.0, c.elevation, 0.011);
        EXPECT_EQ(field16(bytes, 10), 3600);
        EXPECT_EQ(status(), ok);
    }

    // Outside the area nothing is sent.
    for (const QPoint outside :
         {QPoint(-1, 10), QPoint(100, 10), QPoint(10, -1), QPoint(10, 100)}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(outside), area->mapToGlobal(QPointF(outside)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &move);
    }
    EXPECT_EQ(sent("TRAA"), expectedCount);
}

TEST_F(MouseTracker, RealMouseMovesPointOnlyWithTheLeftButton)
{
    start(9);
    auto* area = widget<QLabel>("mouseTrackerLabel");
    QTest::mouseMove(area, QPoint(10, 10));
    QTest::mouseMove(area, QPoint(20, 20));
    QTest::mousePress(area, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseMove(area, QPoint(30, 30));
    QTest::mouseRelease(area, Qt::RightButton, {}, QPoint(30, 30));
    EXPECT_EQ(sent("TRAA") + sent("SEAA"), 0u) << "moves without the left button send nothing";

    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(25, 75));
    EXPECT_EQ(sent("TRAA"), 0u) << "a press alone sends nothing";
    QTest::mouseMove(area, QPoint(25, 75));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(25, 75));
    ASSERT_EQ(sent("TRAA"), 1u);
    const std::string bytes = device->requests("TRAA")[0].bytes;
    EXPECT_NEAR(static_cast<std::uint16_t>(field16(bytes, 6)) / 100.0, 270.0, 0.011);
    EXPECT_NEAR(field16(bytes, 8) / 100.0, 17.5, 0.011);

    widget<QRadioButton>("setApertureAnglesRadioButton")->setChecked(true);
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseMove(area, QPoint(50, 50));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(sent("SEAA"), 1u);
}

TEST_F(MouseTracker, WithoutDeviceTheAreaIgnoresDrags)
{
    startWithout();
    auto* area = widget<QLabel>("mouseTrackerLabel");
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), area->mapToGlobal(QPointF(10, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &move);
    window->trackMouse(0.5, 0.5);
    EXPECT_EQ(status(), "");
}
