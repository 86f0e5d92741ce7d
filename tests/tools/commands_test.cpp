#include "ctlfixture.h"

#include <halvik/simulator.h>
#include <halvik/vantorctl/exitstatus.h>

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <regex>

using namespace std::chrono_literals;
using halvik::sim::SimulatedDevice;
using halvik::sim::Simulator;
using halvik::sim::SimulatorOptions;
using halvik::vantorctl::test::addressOf;
using halvik::vantorctl::test::deviceOn;
using halvik::vantorctl::test::vantorctl;
using ::testing::HasSubstr;
using SteadyClock = std::chrono::steady_clock;
namespace exitstatus = halvik::vantorctl::exitstatus;

namespace {

const std::string noError = "Error 0x00: No Error.\n";
const std::string timeoutText = "Error 0xfe: Timeout when attempting to communicate with vantor.";

} // namespace

TEST(PointingCommands, MoveGetHomeAndAccelDriveTheDevice)
{
    const std::string address = addressOf(10);
    SimulatedDevice device(deviceOn(10));

    auto r = vantorctl({"move", address, "120.5", "-10", "--set", "--speed", "20"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, noError);
    EXPECT_NEAR(device.currentAngles().azimuth, 120.5, 1e-9) << "--set is answered once there";
    EXPECT_NEAR(device.currentAngles().elevation, -10.0, 1e-9);

    r = vantorctl({"get", address});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, noError + "120.5 -10\n");

    // Without --set a move is a TrackApertureAngles with the speed field times 360.
    r = vantorctl({"move", address, "0.29", "-5", "--speed=10"});
    EXPECT_EQ(r.exit, 0) << r.err;
    ASSERT_EQ(device.requests("TRAA").size(), 1u);
    EXPECT_EQ(device.requests("TRAA")[0].bytes, std::string("VNTRAA\x00\x1c\xfe\x0c\x0e\x10", 12));

    r = vantorctl({"home", address});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, noError);
    EXPECT_EQ(device.requests("HOME").size(), 1u);

    r = vantorctl({"accel", address, "5000"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(device.acceleration(), 5000.0);
}

TEST(PointingCommands, DeviceErrorIsTheExitStatus)
{
    auto options = deviceOn(12);
    options.requireHome = true;
    SimulatedDevice device(options);
    const auto r = vantorctl({"move", addressOf(12), "10", "10"});
    EXPECT_EQ(r.exit, 4);
    EXPECT_EQ(r.out, "Error 0x04: Not Homed\n");
}

TEST(PointingCommands, NoDeviceTimesOutNeverEarly)
{
    // Nothing listens on 127.0.7.11.
    const auto before = SteadyClock::now();
    const auto r = vantorctl({"get", addressOf(11), "--stats"});
    const auto elapsed = SteadyClock::now() - before;
    EXPECT_EQ(r.exit, 254);
    EXPECT_EQ(r.out, timeoutText + "\n");
    EXPECT_GE(elapsed, 500ms);
    EXPECT_LT(elapsed, 10s);
    // The time-out is counted and is not a round trip.
    EXPECT_THAT(r.err, ::testing::ContainsRegex(R"(stats: GetApertureAngles +1 +- +- +- +1 +0)"));
}

TEST(PointingCommands, StatsGiveTheRoundTripOfEachOperation)
{
    SimulatedDevice device(deviceOn(13));
    const auto r = vantorctl({"--stats", "move", addressOf(13), "10", "5", "--set"});
    EXPECT_EQ(r.exit, 0) << r.err;
    // A move of 10 degrees at 1000 deg/s takes tens of milliseconds, all inside the round trip.
    std::smatch m;
    const std::regex line(R"(stats: SetApertureAngles +1 +([0-9.]+) +([0-9.]+) +([0-9.]+) +0 +0)");
    ASSERT_TRUE(std::regex_search(r.err, m, line)) << r.err;
    EXPECT_GE(std::stod(m[1]), 5.0);
    EXPECT_EQ(m[1], m[3]) << "one transaction: p50 is the max";
    EXPECT_THAT(r.err, ::testing::ContainsRegex(R"(stats: all +1 )"));
    EXPECT_THAT(r.err, HasSubstr("p50 ms"));
}

struct UsageCase
{
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

class UsageErrors : public ::testing::TestWithParam<UsageCase>
{};

TEST_P(UsageErrors, GiveTheUsageStatusAndSendNothing)
{
    // A device that would answer, to show that nothing reached it.
    SimulatedDevice device(deviceOn(14));
    device.clearRequests();
    const auto r = vantorctl(GetParam().args);
    EXPECT_EQ(r.exit, exitstatus::Usage);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr(GetParam().message));
    EXPECT_THAT(r.err, HasSubstr("Usage: vantorctl"));
    EXPECT_TRUE(device.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    ::testing::Values(
        UsageCase{"NoCommand", {}, "no command given"},
        UsageCase{"UnknownCommand", {"point", "127.0.7.14"}, "unknown command point"},
        UsageCase{"BadAddress", {"get", "127.0.7"}, "ADDR must be a dotted IPv4 address"},
        UsageCase{"HostName", {"home", "localhost"}, "ADDR must be a dotted IPv4 address"},
        UsageCase{"MissingAngle", {"move", "127.0.7.14", "10"}, "expects ADDR AZ EL, got 2"},
        UsageCase{"AngleNotANumber", {"move", "127.0.7.14", "1O", "5"}, "AZ must be a number"},
        UsageCase{"DecimalComma", {"move", "127.0.7.14", "10,5", "5"}, "AZ must be a number"},
        // 182.05 would travel as speed field 2 (modulo 65536); 700 degrees would wrap too.
        UsageCase{"SpeedBeyondTheWire",
                  {"move", "127.0.7.14", "1", "1", "--speed", "182.05"},
                  "--speed must be a number from 0.01 to 182.04"},
        UsageCase{"AzimuthBeyondTheWire", {"move", "127.0.7.14", "700", "1"}, "AZ must be"},
        UsageCase{"UnknownOption", {"get", "127.0.7.14", "--speed", "3"}, "unknown option"},
        UsageCase{"OptionWithoutValue",
                  {"move", "127.0.7.14", "1", "1", "--speed"},
                  "--speed needs a value"},
        UsageCase{"StatsOnPlot", {"--stats", "plot", "r.csv", "-o", "r.png"}, "--stats applies"},
        UsageCase{"InvalidNewAddress",
                  {"set-ip", "VNT0001", "127.0.7"},
                  "NEWADDR must be a dotted IPv4 address"},
        UsageCase{"NewAddressWithFiveParts",
                  {"set-ip", "VNT0001", "127.0.7.1.2"},
                  "NEWADDR must be a dotted IPv4 address"},
        UsageCase{"PlotWithoutOutput", {"plot", "r.csv"}, "-o FILE.svg or -o FILE.png"},
        UsageCase{"PlotToPdf", {"plot", "r.csv", "-o", "r.pdf"}, "must end in .svg or .png"},
        UsageCase{"ListenWithoutPort",
                  {"rotctld", "127.0.7.14", "--listen", "127.0.0.1"},
                  "--listen must be HOST:PORT"},
        UsageCase{"ListenOnAHostName",
                  {"rotctld", "127.0.7.14", "--listen", "localhost:4533"},
                  "--listen must be HOST:PORT"},
        UsageCase{"ListenPortBeyondTcp",
                  {"rotctld", "127.0.7.14", "--listen", "127.0.0.1:65536"},
                  "--listen must be HOST:PORT"},
        UsageCase{"AzimuthLimitsCrossed",
                  {"rotctld", "127.0.7.14", "--az-min", "200", "--az-max", "100"},
                  "--az-min must be below --az-max"},
        UsageCase{"ElevationLimitBeyondTheWire",
                  {"rotctld", "127.0.7.14", "--el-min=-400"},
                  "--el-min must be a number from -327.68 to 327.67"},
        UsageCase{"AzimuthLimitBeyondTheCircle",
                  {"rotctld", "127.0.7.14", "--az-max", "450"},
                  "--az-max must be a number from 0 to 360"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Help, ListsEveryCommandAndTheExitStatuses)
{
    const auto r = vantorctl({"--help"});
    EXPECT_EQ(r.exit, 0);
    for (const char* text : {"discover", "get ADDR", "home ADDR", "move ADDR AZ EL", "accel ADDR A",
                             "set-ip SERIAL NEWADDR", "run-path ADDR FILE.csv", "plot RESULTS.csv",
                             "rotctld ADDR", "stats RESULTS.csv", "make-path PATTERN", "--stats",
                             "Exit status:", "64 ", "66 ", "69 ", "73 ", "253 ", "254 "}) {
        EXPECT_THAT(r.out, HasSubstr(text));
    }
    EXPECT_EQ(vantorctl({"move", "--help"}).out, r.out);
    const std::string version = vantorctl({"--version"}).out;
    EXPECT_EQ(version.rfind("vantorctl ", 0), 0u) << version;
    EXPECT_EQ(version.find_first_not_of("0123456789.", 10), version.size() - 1) << version;
    EXPECT_EQ(version.back(), '\n');
}

// --- discover and set-ip, on a free port of the loopback broadcast ---------------------------

class Discovery : public ::testing::Test
{
protected:
    void startDevices(int count, const std::string& firstAddress)
    {
        SimulatorOptions options;
        options.devices = count;
        options.firstAddress = firstAddress;
        options.port = 0;
        options.readbackNoise = 0.0;
        simulator = std::make_unique<Simulator>(options);
        port = std::to_string(simulator->port());
    }
    std::vector<std::string> broadcast(std::vector<std::string> args) const
    {
        for (const char* a : {"--broadcast", "127.255.255.255", "--port"}) {
            args.emplace_back(a);
        }
        args.push_back(port);
        return args;
    }

    std::unique_ptr<Simulator> simulator;
    std::string port;
};

TEST_F(Discovery, ListsEveryDeviceAsATableOrAsJson)
{
    startDevices(2, "127.0.7.100");
    auto r = vantorctl(broadcast({"discover", "--timeout", "400"}));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "SERIAL   IP\n"
                     "VNT0001  127.0.7.100\n"
                     "VNT0002  127.0.7.101\n");

    r = vantorctl(broadcast({"discover", "--timeout", "400", "--json"}));
    EXPECT_EQ(r.exit, 0) << r.err;
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    const QJsonArray devices = json.array();
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices[0].toObject()["serial"].toString(), "VNT0001");
    EXPECT_EQ(devices[0].toObject()["ip"].toString(), "127.0.7.100");
    EXPECT_EQ(devices[1].toObject()["ip"].toString(), "127.0.7.101");
}

TEST_F(Discovery, NoDeviceIsItsOwnExitStatus)
{
    port = std::to_string(Simulator::freeUdpPort());
    const auto before = SteadyClock::now();
    const auto r = vantorctl(broadcast({"discover", "--timeout", "300", "--json"}));
    EXPECT_GE(SteadyClock::now() - before, 300ms) << "the whole window is waited for";
    EXPECT_EQ(r.exit, exitstatus::NoDevice);
    EXPECT_EQ(r.out, "[]\n");
    EXPECT_THAT(r.err, HasSubstr("no Vantor answered on 127.255.255.255:" + port));
}

TEST_F(Discovery, SetIpMovesTheDeviceToItsNewAddress)
{
    startDevices(1, "127.0.7.110");
    const auto r = vantorctl(broadcast({"set-ip", "VNT0001", "127.0.7.111", "--stats"}));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, noError);
    EXPECT_EQ(simulator->device(0).address(), "127.0.7.111");
    EXPECT_THAT(r.err, ::testing::ContainsRegex(R"(stats: SetVantorIP +1 )"));
}

TEST_F(Discovery, SetIpOfAnUnknownSerialTimesOut)
{
    startDevices(1, "127.0.7.112");
    const auto r = vantorctl(broadcast({"set-ip", "NOSUCH", "127.0.7.113"}));
    EXPECT_EQ(r.exit, 254);
    EXPECT_EQ(r.out, timeoutText + "\n");
    EXPECT_THAT(r.err, HasSubstr("run discover"));
    EXPECT_EQ(simulator->device(0).address(), "127.0.7.112");
}
