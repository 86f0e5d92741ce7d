#include "ctlfixture.h"

#include <halvik/quorvel/pathdata.h>

#include <QtCore/QProcess>
#include <QtGui/QImage>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using halvik::sim::SimulatedDevice;
using halvik::vantorctl::test::addressOf;
using halvik::vantorctl::test::CtlTest;
using halvik::vantorctl::test::deviceOn;
using ::testing::HasSubstr;

namespace {

struct ProgramRun
{
    int exit = -1;
    std::string out;
    std::string err;
};

ProgramRun program(const QStringList& args)
{
    QProcess process;
    // Plotting must not need a display: no platform is chosen for the program.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VANTORCTL_BINARY), args);
    EXPECT_TRUE(process.waitForStarted(10000)) << process.errorString().toStdString();
    EXPECT_TRUE(process.waitForFinished(30000));
    // A console program's text output has the platform's line ends.
    const auto text = [](QByteArray bytes) { return bytes.replace("\r\n", "\n").toStdString(); };
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            text(process.readAllStandardOutput()), text(process.readAllStandardError())};
}

} // namespace

class Program : public CtlTest
{};

// The real program, as a script would run it.
TEST_F(Program, DrivesADeviceAndPlotsWithoutADisplay)
{
    SimulatedDevice device(deviceOn(40));
    auto r = program({"get", QString::fromStdString(addressOf(40))});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "Error 0x00: No Error.\n0 0\n");

    r = program({"move", QString::fromStdString(addressOf(40)), "1", "-400"});
    EXPECT_EQ(r.exit, 64);
    EXPECT_THAT(r.err, HasSubstr("EL must be a number"));

    ASSERT_TRUE(halvik::quorvel::writeResultsFile(workDir.filePath("run.csv"), {}));
    r = program({"plot", workDir.filePath("run.csv"), "-o", workDir.filePath("run.png"), "--size",
                 "400x300"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(QImage(workDir.filePath("run.png")).size(), QSize(400, 300));

    r = program({"--help"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_THAT(r.out, HasSubstr("Exit status:"));
}
