// Bad input to the programs: each gets a clear message and nothing else is lost. Covered
// elsewhere and not repeated here: the window given a bad address
// (quorvel.Construction.BadAddressIsReportedAndTheWindowRunsWithoutDevice), a missing path file
// on an empty table (quorvel.PathTable.UnreadablePathFileLeavesTheTable), a results file that
// cannot be created (quorvel.PathRun.UnwritableResultsFileIsReported) and the model told about a
// three-part address (VantorModel.EditingAnAddressMovesTheDevice).

#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "vantormodel.h"

#include <halvik/quorvel/mainwindow.h>
#include <halvik/simulateddevice.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableView>
#include <QtWidgets/QTableWidget>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace std::chrono_literals;
using halvik::sim::DeviceOptions;
using halvik::sim::SimulatedDevice;

namespace {

bool runningAsRoot()
{
    return geteuid() == 0;
}

/// Replaces a standard stream's buffer while it lives.
class Capture
{
public:
    explicit Capture(std::ostream& stream)
        : stream(stream)
        , previous(stream.rdbuf(buffer.rdbuf()))
    {}
    ~Capture() { stream.rdbuf(previous); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string text() const { return buffer.str(); }

private:
    std::ostream& stream;
    std::ostringstream buffer;
    std::streambuf* previous;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// --- Quorvel, the program, with an address it cannot use ---------------------------------------

class QuorvelBadAddress : public testing::TestWithParam<const char*>
{};

TEST_P(QuorvelBadAddress, SaysSoAndKeepsRunning)
{
    const QString address = QString::fromLatin1(GetParam());
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUORVEL_BINARY), {address});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();

    const QByteArray expected = "Quorvel: Cannot open the link to " + address.toLatin1() + ": ";
    QByteArray errors;
    const bool said = QTest::qWaitFor(
        [&] {
            program.waitForReadyRead(100);
            errors += program.readAllStandardError();
            return errors.contains(expected) || program.state() != QProcess::Running;
        },
        20000);
    EXPECT_TRUE(said && errors.contains(expected)) << errors.toStdString();
    // The window stays up without a device, as with no address at all.
    QTest::qWait(300);
    EXPECT_EQ(program.state(), QProcess::Running) << "exit code " << program.exitCode();
    program.kill();
    program.waitForFinished(10000);
}

INSTANTIATE_TEST_SUITE_P(Reliability, QuorvelBadAddress,
                         testing::Values("999.1.2.3", "vantor.lab", "10.77.1", "1.2.3.4.5",
                                         "127.0.0.1:4365", ""),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return "Case" + std::to_string(info.index);
                         });

// --- Quorvel, its window, with path files it cannot use ----------------------------------------

enum class BadFile
{
    Missing,
    Directory,
    Unreadable,
    Binary
};

struct BadFileCase
{
    const char* name;
    BadFile kind;
    /// Words the status bar has to show after "Cannot open <file>: ".
    const char* reason;
};

class QuorvelBadPathFile : public testing::TestWithParam<BadFileCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<halvik::quorvel::MainWindow>(QStringList{"quorvel"});
        window->show();
        // A path the user already has in the table.
        ASSERT_TRUE(writeFile(dir.filePath("good.csv"), "1,2,3,400\n5,6\n"));
        ASSERT_TRUE(window->loadPathFile(dir.filePath("good.csv")));
        ASSERT_EQ(table()->rowCount(), 2);
    }
    QTableWidget* table() const
    {
        return window->findChild<QTableWidget*>(QStringLiteral("positionsTableWidget"));
    }
    QStringList cells() const
    {
        QStringList texts;
        for (int r = 0; r < table()->rowCount(); ++r) {
            for (int c = 0; c < table()->columnCount(); ++c) {
                const QTableWidgetItem* item = table()->item(r, c);
                texts << (item ? item->text() : QStringLiteral("<none>"));
            }
        }
        return texts;
    }

    QTemporaryDir dir;
    std::unique_ptr<halvik::quorvel::MainWindow> window;
};

TEST_P(QuorvelBadPathFile, IsReportedAndTheTableKeepsItsRows)
{
    const BadFileCase& c = GetParam();
    const QString path = dir.filePath(QStringLiteral("bad.csv"));
    switch (c.kind) {
    case BadFile::Missing:
        break;
    case BadFile::Directory:
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("bad.csv")));
        break;
    case BadFile::Unreadable:
        if (runningAsRoot()) {
            GTEST_SKIP() << "root reads a file whatever its permissions";
        }
        ASSERT_TRUE(writeFile(path, "7,8\n"));
        ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
        break;
    case BadFile::Binary: {
        // What an image or a program looks like to the reader: zero bytes, line ends and
        // commas among everything else.
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i) {
            bytes.append(static_cast<char>((i * 37) & 0xff));
        }
        ASSERT_TRUE(writeFile(path, bytes));
        break;
    }
    }
    const QStringList before = cells();

    EXPECT_FALSE(window->loadPathFile(path));
    const QString status = window->statusBar()->currentMessage();
    std::cout << "status bar: " << status.toStdString() << std::endl;
    EXPECT_TRUE(status.startsWith(QStringLiteral("Cannot open ") + path + QStringLiteral(": ")))
        << status.toStdString();
    EXPECT_TRUE(status.contains(QLatin1String(c.reason), Qt::CaseInsensitive))
        << status.toStdString();
    EXPECT_EQ(cells(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, QuorvelBadPathFile,
    testing::Values(BadFileCase{"Missing", BadFile::Missing, "no such file"},
                    BadFileCase{"Directory", BadFile::Directory, "directory"},
                    BadFileCase{"Unreadable", BadFile::Unreadable, "permission"},
                    BadFileCase{"Binary", BadFile::Binary, "not a text file"}),
    [](const testing::TestParamInfo<BadFileCase>& info) { return info.param.name; });

// --- Quorvel, a path run in a working directory it cannot write --------------------------------

class QuorvelUnwritableDirectory : public testing::TestWithParam<bool>
{};

TEST_P(QuorvelUnwritableDirectory, RunKeepsItsReadingsAndTotals)
{
    const bool removed = GetParam();
    if (!removed && runningAsRoot()) {
        GTEST_SKIP() << "root writes into a read-only directory";
    }
    DeviceOptions options;
    options.address = removed ? "127.0.12.1" : "127.0.12.2";
    options.port = 4365;
    options.listenBroadcast = false;
    options.readbackNoise = 0.0;
    SimulatedDevice device(options);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString work = dir.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkdir(work));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work));
    if (removed) {
        // Nothing can be created in a directory that no longer exists, not even by root.
        ASSERT_TRUE(QDir().rmdir(work));
    } else {
        ASSERT_TRUE(QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    auto window = std::make_unique<halvik::quorvel::MainWindow>(
        QStringList{"quorvel", QString::fromStdString(options.address)});
    window->show();
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("positionsTableWidget"));
    for (const auto& [azimuth, elevation] : {std::pair{"10", "5"}, std::pair{"20", "-5"}}) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(QString::fromLatin1(azimuth)));
        table->setItem(row, 1, new QTableWidgetItem(QString::fromLatin1(elevation)));
    }

    {
        Capture errors(std::cerr);
        Capture out(std::cout);
        window->findChild<QAbstractButton*>(QStringLiteral("executePathPushButton"))->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->pathRunning(); }, 30000));
        const QString status = window->statusBar()->currentMessage();
        std::clog << "status bar: " << status.toStdString() << std::endl;
        EXPECT_TRUE(status.startsWith(QStringLiteral("Cannot write a10000_s10_d100ms.csv: ")))
            << status.toStdString();
        EXPECT_NE(errors.text().find("Cannot write a10000_s10_d100ms.csv"), std::string::npos);
        EXPECT_NE(out.text().find("Current error: "), std::string::npos) << out.text();
    }
    // What the run measured is still in the window.
    for (int row = 0; row < 2; ++row) {
        EXPECT_NE(table->item(row, 4), nullptr) << row;
        EXPECT_NE(table->item(row, 5), nullptr) << row;
    }
    EXPECT_FALSE(window->findChild<QLabel*>(QStringLiteral("azErrorValue"))->text().isEmpty());

    // Back in a directory that can be written, the next run writes its file.
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        Capture out(std::cout);
        window->findChild<QAbstractButton*>(QStringLiteral("executePathPushButton"))->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->pathRunning(); }, 30000));
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("a10000_s10_d100ms.csv"))));
    window.reset();
    QDir::setCurrent(previous);
    if (!removed) {
        QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, QuorvelUnwritableDirectory, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Removed" : "ReadOnly";
                         });

// --- Vantor Manager, an invalid address typed into the table -----------------------------------

struct AddressCase
{
    int id;
    const char* typed;
};

class ManagerInvalidAddress : public testing::TestWithParam<AddressCase>
{};

TEST_P(ManagerInvalidAddress, IsRefusedWithoutSendingAndTheTableStays)
{
    DeviceOptions options;
    options.address = "127.0.12." + std::to_string(20 + GetParam().id);
    options.port = 0;
    options.serial = "BAD0001";
    options.listenBroadcast = true;
    SimulatedDevice device(options);

    ManagerSettings settings;
    settings.broadcastAddress = QStringLiteral("127.255.255.255");
    settings.port = device.port();
    MainWindow window(settings);
    window.show();
    VantorModel* model = window.deviceModel();
    ASSERT_EQ(model->rowCount(), 1);
    const QString oldAddress = QString::fromStdString(options.address);
    ASSERT_EQ(model->data(model->index(0, 1)).toString(), oldAddress);

    // Typed into the address cell as a user would, and confirmed with Return.
    QTableView* view = window.form()->vantorsTableView;
    const QModelIndex cell = model->index(0, 1);
    view->setCurrentIndex(cell);
    view->edit(cell);
    auto* editor = view->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QString::fromLatin1(GetParam().typed));
    QTest::keyClick(editor, Qt::Key_Return);

    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.statusBar()->currentMessage() == "Could not change IP"; }, 10000))
        << window.statusBar()->currentMessage().toStdString();
    EXPECT_TRUE(device.requests("SIPC").empty()) << "an invalid address must not be sent";
    EXPECT_EQ(device.address(), options.address);
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->data(model->index(0, 0)).toString(), "BAD0001");
    EXPECT_EQ(model->data(model->index(0, 1)).toString(), oldAddress);
}

INSTANTIATE_TEST_SUITE_P(Reliability, ManagerInvalidAddress,
                         testing::Values(AddressCase{0, "127.0.12"}, AddressCase{1, "127.0.12.9.1"},
                                         AddressCase{2, "vantor.lab"}, AddressCase{3, "300.1.2.3"},
                                         AddressCase{4, "127.0.12.9:4365"},
                                         AddressCase{5, " 127.0.12.9"},
                                         AddressCase{6, "127.0.12.9 "}),
                         [](const testing::TestParamInfo<AddressCase>& info) {
                             return "Case" + std::to_string(info.param.id);
                         });

} // namespace

// One QApplication for the whole process; listing the tests needs none.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
