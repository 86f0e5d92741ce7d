#include <halvik/simulateddevice.h>

#include <QtCore/QProcess>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The real program, started as a user would, against a simulated device.
TEST(QuorvelProgram, GreetsTheDeviceAndSetsTheAcceleration)
{
    halvik::sim::DeviceOptions options;
    options.address = "127.0.3.250";
    options.listenBroadcast = false;
    halvik::sim::SimulatedDevice device(options);

    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(QUORVEL_BINARY), {"127.0.3.250"});
    ASSERT_TRUE(program.waitForStarted(10000)) << program.errorString().toStdString();

    EXPECT_TRUE(device.waitForRequests("SEAC", 1, 20s));
    const auto requests = device.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, "VNPPPP");
    EXPECT_EQ(requests[1].bytes, std::string("VNSEAC\x00\x00\x27\x10", 10));
    EXPECT_EQ(program.state(), QProcess::Running);

    program.kill();
    program.waitForFinished(10000);
}
