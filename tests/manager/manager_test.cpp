#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "vantormodel.h"

#include <halvik/simulateddevice.h>
#include <halvik/simulator.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;
using halvik::sim::DeviceOptions;
using halvik::sim::SimulatedDevice;
using halvik::sim::Simulator;
using halvik::sim::SimulatorOptions;

namespace {

const QString loopbackBroadcast = QStringLiteral("127.255.255.255");

/// Simulated devices with chosen serials, all on one free port, answering loopback broadcasts.
struct Devices
{
    std::vector<std::unique_ptr<SimulatedDevice>> list;
    std::uint16_t port = 0;

    Devices(const std::string& firstAddress, const std::vector<std::string>& serials)
    {
        for (std::size_t i = 0; i < serials.size(); ++i) {
            DeviceOptions o;
            o.address = Simulator::offsetAddress(firstAddress, static_cast<unsigned>(i));
            o.port = port;
            o.serial = serials[i];
            o.listenBroadcast = true;
            list.push_back(std::make_unique<SimulatedDevice>(o));
            port = list.back()->port();
        }
    }
};

QStringList column(const QAbstractItemModel& model, int c)
{
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) {
        out << model.data(model.index(r, c)).toString();
    }
    return out;
}

} // namespace

TEST(VantorModel, RowsFollowTheSerialsByteOrder)
{
    Devices devices("127.0.5.2", {"abc", "b", "Abc", "ab"});
    VantorModel model(loopbackBroadcast, devices.port, nullptr);
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    EXPECT_EQ(model.refresh(), 4);
    EXPECT_EQ(column(model, 0), (QStringList{"Abc", "ab", "abc", "b"}));
    EXPECT_EQ(column(model, 1), (QStringList{"127.0.5.4", "127.0.5.5", "127.0.5.2", "127.0.5.3"}));
    EXPECT_EQ(layout.count(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(model.addressOf("b"), "127.0.5.3");
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(int(model.flags(model.index(row, 0))), 33);
        EXPECT_EQ(int(model.flags(model.index(row, 1))), 35);
    }
    EXPECT_EQ(model.addressOf("nope"), QString());
}

TEST(VantorModel, HeadersFlagsAndBounds)
{
    VantorModel model(loopbackBroadcast, Simulator::freeUdpPort(), nullptr);
    EXPECT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Serial");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "IP");
    EXPECT_FALSE(model.headerData(0, Qt::Vertical, Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.headerData(1, Qt::Horizontal, Qt::EditRole).isValid());
    EXPECT_FALSE(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).isValid());
    EXPECT_EQ(model.refresh(), 0);
    EXPECT_FALSE(model.data(model.index(0, 0)).isValid());
    EXPECT_FALSE(model.data(model.index(0, 2)).isValid());
}

TEST(VantorModel, EditingAnAddressMovesTheDevice)
{
    Devices devices("127.0.5.20", {"VNT9001", "VNT9002"});
    VantorModel model(loopbackBroadcast, devices.port, nullptr);
    ASSERT_EQ(model.refresh(), 2);
    QSignalSpy messages(&model, &VantorModel::showMessage);
    QSignalSpy completed(&model, &VantorModel::editCompleted);

    EXPECT_TRUE(model.setData(model.index(1, 1), QStringLiteral("127.0.5.40"), Qt::EditRole));
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages[0][0].toString(), "IP updated succesfully");
    EXPECT_EQ(messages[0][1].toInt(), 5000);
    ASSERT_EQ(completed.count(), 1);
    EXPECT_EQ(completed[0][0].toString(), "127.0.5.40");
    // The refresh that followed shows where the device really answers from now.
    EXPECT_EQ(column(model, 1), (QStringList{"127.0.5.20", "127.0.5.40"}));
    EXPECT_EQ(devices.list[1]->address(), "127.0.5.40");
    const auto sipc = devices.list[1]->requests("SIPC");
    ASSERT_FALSE(sipc.empty());
    EXPECT_EQ(sipc.back().bytes, std::string("VNSIPCVNT9002\x7f\x00\x05\x28", 17));

    EXPECT_TRUE(model.setData(model.index(0, 1), QStringLiteral("127.0.5"), Qt::EditRole));
    ASSERT_EQ(messages.count(), 2);
    EXPECT_EQ(messages[1][0].toString(), "Could not change IP");
    EXPECT_EQ(completed[1][0].toString(), "127.0.5");
}

TEST(VantorModel, OtherEditsDoNothing)
{
    Devices devices("127.0.5.30", {"VNT9101"});
    VantorModel model(loopbackBroadcast, devices.port, nullptr);
    ASSERT_EQ(model.refresh(), 1);
    QSignalSpy messages(&model, &VantorModel::showMessage);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    EXPECT_TRUE(model.setData(model.index(0, 1), QString(), Qt::EditRole));
    EXPECT_TRUE(model.setData(model.index(0, 0), QStringLiteral("127.0.5.31"), Qt::EditRole));
    EXPECT_TRUE(model.setData(model.index(0, 1), QStringLiteral("127.0.5.31"), Qt::DisplayRole));
    EXPECT_EQ(messages.count(), 0);
    EXPECT_EQ(layout.count(), 0);
    EXPECT_TRUE(devices.list[0]->requests("SIPC").empty());
}

TEST(VantorModel, UnusableBroadcastLinkIsReportedAndRetried)
{
    // Port 0 cannot be sent to, so opening the link fails as an unroutable broadcast would.
    testing::internal::CaptureStderr();
    VantorModel model(QStringLiteral("127.0.0.1"), 0, nullptr);
    EXPECT_EQ(model.refresh(), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(model.linkError().isEmpty());
    EXPECT_NE(err.find("cannot broadcast"), std::string::npos) << err;
    EXPECT_TRUE(model.setData(model.index(0, 1), QStringLiteral("127.0.0.9"), Qt::EditRole));
}

namespace {

struct WindowTest : ::testing::Test
{
    QTemporaryDir dir;

    ManagerSettings settings(std::uint16_t port)
    {
        ManagerSettings s;
        s.broadcastAddress = loopbackBroadcast;
        s.port = port;
        s.applicationDirectory = dir.path();
        s.ownExecutableName = QStringLiteral("vantor_manager");
        return s;
    }
    void addFile(const QString& name, bool executable, const QByteArray& content = "#!/bin/sh\n")
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        auto perms = QFile::ReadOwner | QFile::WriteOwner;
        if (executable) {
            perms |= QFile::ExeOwner;
        }
        f.setPermissions(perms);
    }
};

} // namespace

TEST_F(WindowTest, CountTexts)
{
    struct Case
    {
        std::vector<std::string> serials;
        const char* text;
    };
    const Case cases[] = {
        {{}, "No Vantors found"},
        {{"VNT8001"}, "1 Vantor found"},
        {{"VNT8002", "VNT8003", "VNT8004"}, "3 Vantors found"},
    };
    for (const auto& c : cases) {
        Devices devices("127.0.5.50", c.serials);
        const auto port = c.serials.empty() ? Simulator::freeUdpPort() : devices.port;
        MainWindow window(settings(port));
        EXPECT_EQ(window.form()->statusBar->currentMessage(), c.text);
        EXPECT_EQ(window.form()->vantorsComboBox->count(), int(c.serials.size()));
        EXPECT_EQ(window.windowTitle(), "Halvik Robotics - Vantor Manager");
    }
}

TEST_F(WindowTest, ApplicationListHoldsOnlyOtherExecutables)
{
    addFile("quorvel", true);
    addFile("Beta", true);
    addFile("alpha", true);
    addFile("notes.txt", false);
    addFile(".hidden", true);
    addFile("vantor_manager", true);
    ASSERT_TRUE(QDir(dir.path()).mkdir("subdir"));
    MainWindow window(settings(Simulator::freeUdpPort()));
    QStringList names;
    for (int i = 0; i < window.form()->applicationComboBox->count(); ++i) {
        names << window.form()->applicationComboBox->itemText(i);
    }
    EXPECT_EQ(names, (QStringList{"alpha", "Beta", "quorvel"}));
}

TEST_F(WindowTest, ClickingARowChoosesThatDeviceAndLaunchPassesItsAddress)
{
    const QString record = dir.filePath("args.txt");
    addFile("recorder", true,
            QStringLiteral("#!/bin/sh\nprintf '%s|' \"$0\" \"$#\" \"$@\" > '%1'\n")
                .arg(record)
                .toUtf8());
    Devices devices("127.0.5.60", {"VNT7001", "VNT7002", "VNT7003"});
    MainWindow window(settings(devices.port));
    auto* table = window.form()->vantorsTableView;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QRect cell = table->visualRect(window.deviceModel()->index(2, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(window.form()->vantorsComboBox->currentText(), "VNT7003");

    testing::internal::CaptureStdout();
    QTest::mouseClick(window.form()->LaunchPushButton, Qt::LeftButton);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "VNT7003\nrecorder\n");
    QFile f(record);
    for (int i = 0; i < 100 && !f.exists(); ++i) {
        QTest::qWait(20);
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()),
              QDir(dir.path()).absolutePath() + "/recorder|1|127.0.5.62|");
}

TEST_F(WindowTest, LaunchWithoutDevicesPassesNoArgument)
{
    const QString record = dir.filePath("args.txt");
    addFile("recorder", true,
            QStringLiteral("#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '%1'\n").arg(record).toUtf8());
    MainWindow window(settings(Simulator::freeUdpPort()));
    testing::internal::CaptureStdout();
    QTest::mouseClick(window.form()->LaunchPushButton, Qt::LeftButton);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nrecorder\n");
    QFile f(record);
    for (int i = 0; i < 100 && !f.exists(); ++i) {
        QTest::qWait(20);
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), "0|");
}

int main(int argc, char** argv)
{
    // Test discovery runs this binary at build time, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
