#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "vantormodel.h"

#include <halvik/simulateddevice.h>
#include <halvik/simulator.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <scriptedpeer.h>
#include <thread>

/// Failure messages show the text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

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

    Devices(const std::string& firstAddress, const std::vector<std::string>& serials,
            std::uint16_t onPort = 0)
        : port(onPort)
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
    // Fatal: any violation the tester finds ends the test binary. The one complaint the model's
    // signal set causes is "layoutChanged without layoutAboutToBeChanged": a refresh announces
    // its new snapshot with layoutChanged alone (no about-to-be-changed, reset, or row
    // insertions and removals). It is accepted because the snapshot is replaced whole and
    // nothing relies on persistent indexes across it: data() bounds-checks every row, and the
    // window chooses the combo box's row itself after each refresh. So the tester does not
    // listen to layoutChanged; a new tester checks the whole structure after each refresh.
    auto tester = std::make_unique<QAbstractItemModelTester>(
        &model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto ignoreLayoutChanged = [&] {
        QObject::disconnect(&model, &QAbstractItemModel::layoutChanged, tester.get(), nullptr);
    };
    ignoreLayoutChanged();
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    EXPECT_EQ(model.refresh(), 4);
    tester = std::make_unique<QAbstractItemModelTester>(
        &model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ignoreLayoutChanged();
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

TEST(VantorModel, AddressEditReportsEachOutcome)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> reply; // to the SIPC request
        const char* message;
    };
    const Case cases[] = {
        {"accepted", {"ERSIPC"}, "IP updated succesfully"},
        {"no answer", {}, "IP updated succesfully"},
        {"refused, bad address", {std::string("EESIPC\x02", 7)}, "Could not change IP"},
        {"refused, busy", {std::string("EESIPC\xfd", 7)}, "Could not change IP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        halvik::test::ScriptedPeer device("0.0.0.0", Simulator::freeUdpPort(), true);
        device.answer("CQRE", {"ERCQREVNT4001"});
        device.answer("SIPC", c.reply);
        VantorModel model(loopbackBroadcast, device.port(), nullptr);
        ASSERT_EQ(model.refresh(), 1);
        QSignalSpy messages(&model, &VantorModel::showMessage);
        EXPECT_TRUE(model.setData(model.index(0, 1), QStringLiteral("127.0.4.1"), Qt::EditRole));
        ASSERT_EQ(messages.count(), 1);
        EXPECT_EQ(messages[0][0].toString(), c.message);
        EXPECT_EQ(messages[0][1].toInt(), 5000);
        const auto requests = device.receivedWithCode("SIPC");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].bytes, std::string("VNSIPCVNT4001\x7f\x00\x04\x01", 17));
    }
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
    const QString recorderName = QFileInfo(QStringLiteral(HALVIK_ARGS_RECORDER)).fileName();
#ifdef Q_OS_WIN
    // Windows tells programs by their suffix, not by a permission bit.
    const QString exe = QStringLiteral(".exe");
#else
    const QString exe;
#endif

    ManagerSettings settings(std::uint16_t port)
    {
        ManagerSettings s;
        s.broadcastAddress = loopbackBroadcast;
        s.port = port;
        s.applicationDirectory = dir.path();
        s.ownExecutableName = QStringLiteral("vantor_manager") + exe;
        return s;
    }
    /// Copies the argument recorder into the folder as name; its record goes to name + ".args".
    void addRecorder(const QString& name)
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(HALVIK_ARGS_RECORDER), dir.filePath(name)));
    }
    /// What the recorder called name wrote: "path|count|arguments|...", or empty after 5 s.
    QString recorded(const QString& name)
    {
        QFile f(dir.filePath(name + QStringLiteral(".args")));
        static_cast<void>(QTest::qWaitFor([&] { return f.exists(); }, 5000));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
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
    addFile("quorvel" + exe, true);
    addFile("Beta" + exe, true);
    addFile("alpha" + exe, true);
    addFile("notes.txt", false);
#ifdef Q_OS_WIN
    addFile("Qt6Core.dll", false); // the libraries beside the programs are no programs
#else
    addFile(".hidden", true);
#endif
    addFile("vantor_manager" + exe, true);
    ASSERT_TRUE(QDir(dir.path()).mkdir("subdir"));
    MainWindow window(settings(Simulator::freeUdpPort()));
    QStringList names;
    for (int i = 0; i < window.form()->applicationComboBox->count(); ++i) {
        names << window.form()->applicationComboBox->itemText(i);
    }
    EXPECT_EQ(names, (QStringList{"alpha" + exe, "Beta" + exe, "quorvel" + exe}));
}

TEST_F(WindowTest, ClickingARowChoosesThatDeviceAndLaunchPassesItsAddress)
{
    addRecorder(recorderName);
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
    EXPECT_EQ(out, "VNT7003\n" + recorderName.toStdString() + "\n");
    const QString program =
        QDir::toNativeSeparators(QDir(dir.path()).absolutePath() + "/" + recorderName);
    EXPECT_EQ(window.lastLaunchProgram(), program);
    EXPECT_EQ(recorded(recorderName), program + "|1|127.0.5.62|");
}

TEST_F(WindowTest, RefreshChoosesTheFirstDeviceAndLaunchPassesItsAddress)
{
    addRecorder(recorderName);
    const auto refreshThenLaunch = [this](MainWindow& window, const char* serial,
                                          const char* address) {
        QFile::remove(dir.filePath(recorderName + ".args"));
        QTest::mouseClick(window.form()->searchVantorsPushButton, Qt::LeftButton);
        EXPECT_EQ(window.form()->statusBar->currentMessage(), "2 Vantors found");
        EXPECT_EQ(window.form()->vantorsComboBox->count(), 2);
        EXPECT_EQ(window.form()->vantorsComboBox->currentText(), serial);
        testing::internal::CaptureStdout();
        QTest::mouseClick(window.form()->LaunchPushButton, Qt::LeftButton);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string(serial) + "\n" + recorderName.toStdString() + "\n");
        EXPECT_TRUE(recorded(recorderName).endsWith(QStringLiteral("|1|%1|").arg(address)))
            << recorded(recorderName).toStdString();
    };
    {
        SCOPED_TRACE("none, then two switched on");
        const auto port = Simulator::freeUdpPort();
        MainWindow window(settings(port));
        ASSERT_EQ(window.form()->vantorsComboBox->currentIndex(), -1);
        Devices devices("127.0.5.70", {"VNT6002", "VNT6001"}, port);
        refreshThenLaunch(window, "VNT6001", "127.0.5.71");
        refreshThenLaunch(window, "VNT6001", "127.0.5.71");
    }
    {
        SCOPED_TRACE("three, then the first switched off");
        Devices devices("127.0.5.80", {"VNT6101", "VNT6102", "VNT6103"});
        MainWindow window(settings(devices.port));
        window.form()->vantorsComboBox->setCurrentIndex(2);
        devices.list[0].reset();
        refreshThenLaunch(window, "VNT6102", "127.0.5.81");
        EXPECT_EQ(column(*window.deviceModel(), 0), (QStringList{"VNT6102", "VNT6103"}));
    }
}

TEST_F(WindowTest, LaunchWithoutDevicesPassesNoArgument)
{
    addRecorder(recorderName);
    MainWindow window(settings(Simulator::freeUdpPort()));
    testing::internal::CaptureStdout();
    QTest::mouseClick(window.form()->LaunchPushButton, Qt::LeftButton);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n" + recorderName.toStdString() + "\n");
    EXPECT_TRUE(recorded(recorderName).endsWith("|0|"));
}

TEST_F(WindowTest, LaunchWithoutApplicationsStartsNothing)
{
    Devices devices("127.0.5.90", {"VNT6201"});
    MainWindow window(settings(devices.port));
    ASSERT_EQ(window.form()->applicationComboBox->count(), 0);
    testing::internal::CaptureStdout();
    QTest::mouseClick(window.form()->LaunchPushButton, Qt::LeftButton);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VNT6201\n\n");
    EXPECT_EQ(window.lastLaunchProgram(),
              QDir::toNativeSeparators(QDir(dir.path()).absolutePath() + "/"));
    EXPECT_EQ(window.lastLaunchedPid(), 0);
}

TEST_F(WindowTest, OwnExecutableIsLeftOutByItsRealName)
{
    const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    addRecorder(own);
    addRecorder(recorderName);
    ManagerSettings s = settings(Simulator::freeUdpPort());
    s.ownExecutableName.clear();
    MainWindow window(s);
    ASSERT_EQ(window.form()->applicationComboBox->count(), 1);
    EXPECT_EQ(window.form()->applicationComboBox->itemText(0), recorderName);
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
