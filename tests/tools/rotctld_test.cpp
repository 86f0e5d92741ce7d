#include "ctlfixture.h"

#include <halvik/vantorctl/rotctldbridge.h>

#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QStandardPaths>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using boost::asio::ip::tcp;
using halvik::sim::SimulatedDevice;
using halvik::vantorctl::RotctldBridge;
using halvik::vantorctl::RotctldSettings;
using halvik::vantorctl::test::addressOf;
using halvik::vantorctl::test::deviceOn;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

/// A rotctld client over TCP on loopback that never waits longer than it is told.
class LineClient
{
public:
    explicit LineClient(std::uint16_t port)
        : socket(io)
    {
        socket.connect(tcp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port));
    }

    /// A bridge that closed the connection makes the rest of the text go nowhere.
    void send(const std::string& text)
    {
        boost::system::error_code ignored;
        boost::asio::write(socket, boost::asio::buffer(text), ignored);
    }

    /// What arrived until `lines` line ends came, the peer closed, or the time ran out.
    std::string read(std::size_t lines, std::chrono::milliseconds timeout = 5000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n')) <
                   lines &&
               !closed && std::chrono::steady_clock::now() < deadline) {
            readSome(deadline);
        }
        std::string text;
        std::size_t end = 0;
        for (std::size_t n = 0; n < lines && end < received.size(); ++n) {
            const auto found = received.find('\n', end);
            end = found == std::string::npos ? received.size() : found + 1;
        }
        text = received.substr(0, end);
        received.erase(0, end);
        return text;
    }

    std::string exchange(const std::string& request, std::size_t lines)
    {
        send(request);
        return read(lines);
    }

    /// True when the bridge closed the connection within the time.
    bool closedByBridge(std::chrono::milliseconds timeout = 5000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!closed && std::chrono::steady_clock::now() < deadline) {
            readSome(deadline);
        }
        return closed;
    }

private:
    void readSome(std::chrono::steady_clock::time_point deadline)
    {
        std::array<char, 4096> buffer;
        bool done = false;
        socket.async_read_some(boost::asio::buffer(buffer),
                               [&](const boost::system::error_code& error, std::size_t n) {
                                   done = true;
                                   received.append(buffer.data(), n);
                                   closed = closed || static_cast<bool>(error);
                               });
        io.restart();
        io.run_until(deadline);
        if (!done) {
            boost::system::error_code ignored;
            socket.cancel(ignored);
            io.restart();
            io.run();
            closed = false;
        }
    }

    boost::asio::io_context io;
    tcp::socket socket;
    std::string received;
    bool closed = false;
};

std::size_t lineCount(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

/// A simulated device with exact read-back on a free port of 127.0.7.n and a bridge to it on a free
/// port of 127.0.0.1, served on a thread of its own.
class Bridge : public ::testing::Test
{
protected:
    void start(int n, RotctldSettings settings = {},
               halvik::sim::DeviceOptions options = halvik::sim::DeviceOptions())
    {
        halvik::sim::DeviceOptions device_ = deviceOn(n);
        // A port of its own: CTest runs the cases of a table side by side.
        device_.port = 0;
        device_.requireHome = options.requireHome;
        device = std::make_unique<SimulatedDevice>(device_);
        settings.deviceAddress = addressOf(n);
        settings.devicePort = device->port();
        settings.listenHost = "127.0.0.1";
        settings.listenPort = 0;
        bridge = std::make_unique<RotctldBridge>(settings, log);
        server = std::thread([this] { bridge->run(); });
        ASSERT_TRUE(device->waitForRequests("PPPP", 1, 5000ms));
        device->clearRequests();
    }

    void TearDown() override { stop(); }

    /// Ends the bridge; its log may be read afterwards.
    void stop()
    {
        if (bridge) {
            bridge->stop();
            server.join();
            bridge.reset();
        }
    }

    /// Command codes the device received, in order.
    std::vector<std::string> deviceCodes() const
    {
        std::vector<std::string> codes;
        for (const auto& request : device->requests()) {
            codes.push_back(request.bytes.substr(2, 4));
        }
        return codes;
    }

    std::unique_ptr<SimulatedDevice> device;
    std::unique_ptr<RotctldBridge> bridge;
    std::thread server;
    std::ostringstream log;
};

struct ExchangeCase
{
    const char* name;
    std::string request;
    std::string reply;
    std::vector<std::string> deviceCodes;
    /// Where the device was sent; checked when deviceCodes ends with a move.
    double targetAzimuth = 0.0;
    double targetElevation = 0.0;
};

void PrintTo(const ExchangeCase& c, std::ostream* os)
{
    *os << c.name;
}

class Exchanges : public Bridge, public ::testing::WithParamInterface<ExchangeCase>
{};

TEST_P(Exchanges, AnswerAsRotctldAndSendOnlyWhatIsAsked)
{
    const ExchangeCase& c = GetParam();
    start(60);
    LineClient client(bridge->port());
    const std::string info = "Vantor 127.0.7.60:" + std::to_string(device->port()) + "\n";
    std::string reply = c.reply;
    if (const auto at = reply.find("{info}"); at != std::string::npos) {
        reply.replace(at, 6, info);
    }
    EXPECT_EQ(client.exchange(c.request, lineCount(reply)), reply);
    // One more request shows that the connection still serves and that nothing else was sent.
    EXPECT_EQ(client.exchange("_\n", 1), info);
    EXPECT_EQ(deviceCodes(), c.deviceCodes);
    if (!c.deviceCodes.empty() &&
        (c.deviceCodes.back() == "TRAA" || c.deviceCodes.back() == "HOME")) {
        EXPECT_NEAR(device->targetAngles().azimuth, c.targetAzimuth, 0.005);
        EXPECT_NEAR(device->targetAngles().elevation, c.targetElevation, 0.005);
    }
}

const std::string dumpState = "1\n2\nmin_az=-180.000000\nmax_az=360.000000\nmin_el=-35.000000\n"
                              "max_el=35.000000\nsouth_zero=0\nrot_type=AzEl\ndone\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Exchanges,
    ::testing::Values(
        ExchangeCase{"SetShort", "P 10 20\n", "RPRT 0\n", {"TRAA"}, 10, 20},
        ExchangeCase{"SetLong", "\\set_pos 10.25 -5.5\n", "RPRT 0\n", {"TRAA"}, 10.25, -5.5},
        ExchangeCase{"SetExtended", "+P 10 20\n", "set_pos: 10 20\nRPRT 0\n", {"TRAA"}, 10, 20},
        ExchangeCase{"SetCrLf", "P 10 20\r\n", "RPRT 0\n", {"TRAA"}, 10, 20},
        ExchangeCase{"NegativeAzimuth", "P -90 5\n", "RPRT 0\n", {"TRAA"}, 270, 5},
        ExchangeCase{"DecimalComma", "P 174,46 -0,50\n", "RPRT 0\n", {"TRAA"}, 174.46, -0.5},
        ExchangeCase{"GetShort", "p\n", "0.00\n0.00\n", {"GEAA"}},
        ExchangeCase{"GetExtended",
                     "+\\get_pos\n",
                     "get_pos:\nAzimuth: 0.00\nElevation: 0.00\nRPRT 0\n",
                     {"GEAA"}},
        ExchangeCase{"GetCommaSeparated",
                     ",p\n",
                     "get_pos:,Azimuth: 0.00,Elevation: 0.00,RPRT 0\n",
                     {"GEAA"}},
        ExchangeCase{"Stop", "S\n", "RPRT 0\n", {"GEAA", "TRAA"}, 0, 0},
        ExchangeCase{"StopExtended", "+\\stop\n", "stop:\nRPRT 0\n", {"GEAA", "TRAA"}, 0, 0},
        ExchangeCase{"Park", "K\n", "RPRT 0\n", {"HOME"}, 0, 0},
        ExchangeCase{"Info", "\\get_info\n", "{info}", {}},
        ExchangeCase{"DumpState", "\\dump_state\n", dumpState, {}},
        ExchangeCase{"EmptyLinesAreSkipped", "\n\r\n  \np\n", "0.00\n0.00\n", {"GEAA"}},
        ExchangeCase{"AzimuthAboveTheCircle", "P 360.01 0\n", "RPRT -1\n", {}},
        ExchangeCase{"AzimuthBelowMinus180", "P -180.5 0\n", "RPRT -1\n", {}},
        ExchangeCase{"ElevationAboveTheLimit", "P 10 35.01\n", "RPRT -1\n", {}},
        ExchangeCase{"RefusedExtended", "+P 10 90\n", "set_pos: 10 90\nRPRT -1\n", {}},
        ExchangeCase{"MissingElevation", "P 10\n", "RPRT -1\n", {}},
        ExchangeCase{"ExtraArgument", "p 1\n", "RPRT -1\n", {}},
        ExchangeCase{"NotANumber", "P ten 20\n", "RPRT -1\n", {}},
        ExchangeCase{"NotFinite", "P nan inf\n", "RPRT -1\n", {}},
        ExchangeCase{"TwoCommas", "P 1,2,3 0\n", "RPRT -1\n", {}},
        ExchangeCase{"MoveIsNotImplemented", "M 2 10\n", "RPRT -4\n", {}},
        ExchangeCase{"UnknownLongCommand", "\\set_level 1\n", "RPRT -4\n", {}},
        ExchangeCase{"BinaryJunk", std::string("\x01\xff\x00zz\x7f\n", 7), "RPRT -4\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Hamlib's error numbers for what the device says: time-out, a refusal.
TEST_F(Bridge, DeviceFailuresBecomeHamlibErrorsAndLogLines)
{
    halvik::sim::DeviceOptions options;
    options.requireHome = true;
    start(61, {}, options);
    LineClient client(bridge->port());
    // Refused with status 4 until the device is homed.
    EXPECT_EQ(client.exchange("P 10 10\n", 1), "RPRT -9\n");
    device->goSilent();
    // A silent device's time-out (500 ms) comes back before Hamlib's client gives up (2 s).
    client.send("p\n");
    EXPECT_EQ(client.read(1, 2000ms), "RPRT -5\n");
    client.send("+S\n");
    EXPECT_EQ(client.read(2, 2000ms), "stop:\nRPRT -5\n");
    device->restart();
    EXPECT_EQ(client.exchange("K\n", 1), "RPRT 0\n");
    EXPECT_EQ(client.exchange("P 10 10\n", 1), "RPRT 0\n");
    stop();
    const std::string text = log.str();
    EXPECT_THAT(text, HasSubstr("connection from 127.0.0.1:"));
    EXPECT_THAT(text, HasSubstr(": set_pos 10 10: TrackApertureAngles: Error 0x04"));
    EXPECT_THAT(text, HasSubstr(": get_pos: GetApertureAngles: Error 0xfe"));
    EXPECT_THAT(text, HasSubstr(": stop: GetApertureAngles: Error 0xfe"));
    // The listening line, one per connection, one per failed command, nothing for successes.
    EXPECT_EQ(lineCount(text), 5u) << text;
}

TEST_F(Bridge, SetModeAndDeadbandAndLimits)
{
    RotctldSettings settings;
    settings.set = true;
    settings.deadband = 0.5;
    settings.minAzimuth = 90;
    settings.maxAzimuth = 270;
    settings.minElevation = 0;
    settings.maxElevation = 30;
    start(62, settings);
    LineClient client(bridge->port());
    EXPECT_EQ(client.exchange("\\dump_state\n", 9),
              "1\n2\nmin_az=-180.000000\nmax_az=270.000000\nmin_el=0.000000\n"
              "max_el=30.000000\nsouth_zero=0\nrot_type=AzEl\ndone\n");
    EXPECT_EQ(client.exchange("P 100 20\n", 1), "RPRT 0\n");
    EXPECT_EQ(client.exchange("P 100.4 20.4\n", 1), "RPRT 0\n"); // within the deadband
    EXPECT_EQ(client.exchange("P -100 20\n", 1), "RPRT 0\n");    // 260 in the device's frame
    EXPECT_EQ(client.exchange("P 80 10\n", 1), "RPRT -1\n");
    EXPECT_EQ(client.exchange("P -80 10\n", 1), "RPRT -1\n"); // 280
    EXPECT_EQ(client.exchange("P 100 -1\n", 1), "RPRT -1\n");
    EXPECT_EQ(client.exchange("P 100 30.5\n", 1), "RPRT -1\n");
    EXPECT_EQ(client.exchange("S\n", 1), "RPRT 0\n");
    // After a stop the same target is a new move.
    EXPECT_EQ(client.exchange("P 260.2 20\n", 1), "RPRT 0\n");
    EXPECT_THAT(deviceCodes(), ElementsAre("SEAA", "SEAA", "GEAA", "TRAA", "SEAA"));
    EXPECT_NEAR(device->targetAngles().azimuth, 260.2, 0.005);
}

// What one client does costs the others nothing.
TEST_F(Bridge, HostileClientsDoNotDisturbATracker)
{
    start(63);
    LineClient tracker(bridge->port());

    LineClient longLine(bridge->port());
    longLine.send(std::string(1 << 20, 'P'));
    LineClient halfLine(bridge->port());
    halfLine.send("P 10");
    LineClient junk(bridge->port());
    junk.send(std::string("\x00\x01\xfe\n\n\\\nZ\n", 9));

    std::vector<std::thread> churn;
    for (int t = 0; t < 2; ++t) {
        churn.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i) {
                LineClient client(bridge->port());
                // Half of them leave in the middle of a device command.
                client.send(i % 2 == 0 ? "p\n" : "P 10 20\nq\n");
                if (t == 0 && i % 5 == 0) {
                    client.read(2, 2000ms);
                }
            }
        });
    }
    for (int i = 0; i < 30; ++i) {
        const std::string target = std::to_string(200 + i) + " " + std::to_string(i % 20);
        ASSERT_EQ(tracker.exchange("P " + target + "\n", 1), "RPRT 0\n") << i;
        const std::string position = tracker.exchange("p\n", 2);
        ASSERT_EQ(lineCount(position), 2u) << position;
        EXPECT_EQ(position.find("RPRT"), std::string::npos) << position;
    }
    for (auto& thread : churn) {
        thread.join();
    }
    EXPECT_EQ(longLine.read(1), "RPRT -1\n");
    EXPECT_TRUE(longLine.closedByBridge());
    EXPECT_EQ(junk.read(3), "RPRT -4\nRPRT -4\nRPRT -4\n");
    EXPECT_EQ(halfLine.exchange(" 20\n", 1), "RPRT 0\n");
    EXPECT_EQ(tracker.exchange("q\n", 1), "");
    EXPECT_TRUE(tracker.closedByBridge());
    EXPECT_NEAR(device->targetAngles().azimuth, 10, 0.005);
    EXPECT_NEAR(device->targetAngles().elevation, 20, 0.005);
}

// Commands of many clients reach the device one at a time: nobody meets the link's busy.
TEST_F(Bridge, ConcurrentClientsAreServedInTurn)
{
    start(64);
    std::vector<std::thread> clients;
    std::vector<std::string> failures(8);
    for (int c = 0; c < 8; ++c) {
        clients.emplace_back([this, c, &failures] {
            LineClient client(bridge->port());
            for (int i = 0; i < 20; ++i) {
                const bool get = i % 2 == 1;
                const std::string reply = client.exchange(get ? "p\n" : "P 20 10\n", get ? 2 : 1);
                if (get ? reply.find("RPRT") != std::string::npos || lineCount(reply) != 2
                        : reply != "RPRT 0\n") {
                    failures[c] += reply;
                }
            }
        });
    }
    for (auto& thread : clients) {
        thread.join();
    }
    for (const auto& failure : failures) {
        EXPECT_EQ(failure, "");
    }
    EXPECT_EQ(deviceCodes().size(), 160u);
}

std::string rotctlProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("rotctl")).toStdString();
}

struct RotctlRun
{
    int exit = -1;
    std::string out;
};

RotctlRun rotctl(std::uint16_t port, const QStringList& commands)
{
    QProcess process;
    process.start(QString::fromStdString(rotctlProgram()),
                  QStringList{"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(port)} +
                      commands);
    EXPECT_TRUE(process.waitForFinished(20000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString()};
}

// Hamlib's own network client drives the device through the vantorctl program.
TEST(RotctlClient, DrivesASimulatedVantorThroughTheProgram)
{
#ifdef _WIN32
    GTEST_SKIP() << "Hamlib's rotctl is a Linux program here";
#endif
    ASSERT_FALSE(rotctlProgram().empty()) << "rotctl not found: scripts/setup installs it";
    SimulatedDevice device(deviceOn(65));

    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::MergedChannels);
    bridge.start(QStringLiteral(VANTORCTL_BINARY),
                 {"rotctld", QString::fromStdString(addressOf(65)), "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(bridge.waitForStarted(10000));
    QString stderrText;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch match;
    while (!(match = listening.match(stderrText)).hasMatch() && bridge.waitForReadyRead(10000)) {
        stderrText += QString::fromLocal8Bit(bridge.readAll());
    }
    ASSERT_TRUE(match.hasMatch()) << stderrText.toStdString();
    const auto port = static_cast<std::uint16_t>(match.captured(1).toUInt());

    auto r = rotctl(port, {"P", "100", "20"});
    EXPECT_EQ(r.exit, 0) << r.out;
    for (int i = 0; i < 100 && device.moving(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    r = rotctl(port, {"p"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "100.00\n20.00\n");

    // A tracker that counts azimuth from -180.
    r = rotctl(port, {"P", "-90.5", "-10"});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NEAR(device.targetAngles().azimuth, 269.5, 0.005);

    // Refused by rotctl itself from the limits the bridge announced: nothing reaches the device.
    device.clearRequests();
    r = rotctl(port, {"P", "10", "50"});
    EXPECT_NE(r.exit, 0);
    EXPECT_TRUE(device.requests("TRAA").empty());

    r = rotctl(port, {"K", "S"});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(device.requests("HOME").size(), 1u);
    EXPECT_EQ(device.requests("TRAA").size(), 1u);

    bridge.terminate();
    ASSERT_TRUE(bridge.waitForFinished(10000));
    EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(bridge.exitCode(), 0);
    stderrText += QString::fromLocal8Bit(bridge.readAll());
    EXPECT_THAT(stderrText.toStdString(), HasSubstr("stopping"));
}

} // namespace
