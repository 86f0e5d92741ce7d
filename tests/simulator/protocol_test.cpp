#include "scriptedpeer.h"

#include <halvik/simulateddevice.h>
#include <halvik/simulator.h>
#include <halvik/vantor.h>

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using boost::asio::ip::make_address_v4;
using boost::asio::ip::udp;
using halvik::sim::DeviceOptions;
using halvik::sim::FaultOptions;
using halvik::sim::SimulatedDevice;
using halvik::sim::Simulator;
using halvik::sim::SimulatorOptions;
using halvik::test::ScriptedPeer;

namespace {

std::string request(const std::string& code, std::initializer_list<int> payload = {})
{
    std::string bytes = "VN" + code;
    for (int b : payload) {
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int b : values) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

DeviceOptions quietDevice(bool requireHome = false)
{
    DeviceOptions o;
    o.address = "127.0.0.2";
    o.port = 0;
    o.serial = "VNT0001";
    o.readbackNoise = 0.0;
    o.requireHome = requireHome;
    return o;
}

udp::endpoint endpointOf(const SimulatedDevice& device)
{
    return udp::endpoint(make_address_v4(device.address()), device.port());
}

std::map<std::string, std::string> bySender(const std::vector<halvik::test::Datagram>& datagrams)
{
    std::map<std::string, std::string> out;
    for (const auto& d : datagrams) {
        out[d.sender.address().to_string()] = d.bytes;
    }
    return out;
}

} // namespace

struct Exchange
{
    const char* name;
    bool requireHome;
    std::string request;
    std::string reply;
};

void PrintTo(const Exchange& e, std::ostream* os)
{
    *os << e.name;
}

class DeviceAnswers : public ::testing::TestWithParam<Exchange>
{};

TEST_P(DeviceAnswers, WithTheRightReply)
{
    const Exchange e = GetParam();
    SimulatedDevice device(quietDevice(e.requireHome));
    ScriptedPeer peer;
    peer.sendTo(e.request, endpointOf(device));
    ASSERT_TRUE(peer.waitForCount(1, 3000ms));
    const auto received = peer.received();
    EXPECT_EQ(received[0].bytes, e.reply);
    EXPECT_EQ(received[0].sender, endpointOf(device));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DeviceAnswers,
    ::testing::Values(
        // Wrong payload length: 1.
        Exchange{"SeaaShort", false, request("SEAA", {0, 1, 0, 1, 0}), "EESEAA\x01"},
        Exchange{"TraaLong", false, request("TRAA", {0, 1, 0, 1, 0, 1, 0}), "EETRAA\x01"},
        Exchange{"SeacShort", false, request("SEAC", {0, 0, 0x27}), "EESEAC\x01"},
        Exchange{"GeaaWithPayload", false, request("GEAA", {1}), "EEGEAA\x01"},
        Exchange{"HomeWithPayload", false, request("HOME", {1}), "EEHOME\x01"},
        Exchange{"SipcWithoutAddress", false, request("SIPC", {127, 0, 0}), "EESIPC\x01"},
        // Out of range: 2.
        Exchange{"AzimuthAbove360", false, request("SEAA", {0x8c, 0xa1, 0, 0, 0x0e, 0x10}),
                 "EESEAA\x02"},
        Exchange{"NegativeAzimuth", false, request("TRAA", {0xff, 0xff, 0, 0, 0x0e, 0x10}),
                 "EETRAA\x02"},
        Exchange{"ElevationAbove35", false, request("SEAA", {0, 0, 0x0d, 0xad, 0x0e, 0x10}),
                 "EESEAA\x02"},
        Exchange{"ElevationBelowMinus35", false, request("TRAA", {0, 0, 0xf2, 0x53, 0x0e, 0x10}),
                 "EETRAA\x02"},
        Exchange{"ZeroSpeed", false, request("TRAA", {0, 100, 0, 0, 0, 0}), "EETRAA\x02"},
        Exchange{"ZeroAcceleration", false, request("SEAC", {0, 0, 0, 0}), "EESEAC\x02"},
        Exchange{"NegativeAcceleration", false, request("SEAC", {0xff, 0xff, 0xff, 0xff}),
                 "EESEAC\x02"},
        Exchange{"RangeEdgesAccepted", false, request("SEAA", {0x8c, 0xa0, 0xf2, 0x54, 0x0e, 0x10}),
                 "EASEAA"},
        // Not homed: 4, only for pointing.
        Exchange{"SeaaBeforeHome", true, request("SEAA", {0, 100, 0, 100, 0x0e, 0x10}),
                 "EESEAA\x04"},
        Exchange{"TraaBeforeHome", true, request("TRAA", {0, 100, 0, 100, 0x0e, 0x10}),
                 "EETRAA\x04"},
        Exchange{"GeaaBeforeHome", true, request("GEAA"),
                 bytes({'E', 'R', 'G', 'E', 'A', 'A', 0, 0, 0, 0})},
        Exchange{"SeacBeforeHome", true, request("SEAC", {0, 0, 0x27, 0x10}), "EASEAC"},
        // Unknown command: 6.
        Exchange{"UnknownCode", false, request("ABCD"), "EEABCD\x06"},
        Exchange{"LowerCaseCode", false, request("home"), "EEhome\x06"},
        // An IP change to an address no device can take: 5.
        Exchange{"SipcToUnspecified", false,
                 request("SIPC", {'V', 'N', 'T', '0', '0', '0', '1', 0, 0, 0, 0}), "EESIPC\x05"},
        Exchange{"SipcToBroadcast", false,
                 request("SIPC", {'V', 'N', 'T', '0', '0', '0', '1', 255, 255, 255, 255}),
                 "EESIPC\x05"},
        Exchange{"Discovery", false, request("CQRE"), "ERCQRE" + std::string("VNT0001")}),
    [](const ::testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });

TEST(DeviceSilence, GreetingShortDatagramsAndOtherKindsGetNoAnswer)
{
    SimulatedDevice device(quietDevice());
    ScriptedPeer peer;
    for (const char* datagram : {"VNPPPP", "VNHOM", "", "EAHOME", "ERCQRE"}) {
        peer.sendTo(datagram, endpointOf(device));
    }
    // A request sent last is answered: everything before it has been handled by then.
    peer.sendTo("VNGEAA", endpointOf(device));
    ASSERT_TRUE(peer.waitForCount(1));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(peer.receivedCount(), 1u);
    EXPECT_EQ(peer.received()[0].bytes.substr(0, 6), "ERGEAA");
    EXPECT_EQ(device.requests().size(), 6u) << "every datagram is recorded";
}

class DeviceNetwork : public ::testing::Test
{
protected:
    DeviceNetwork()
    {
        SimulatorOptions o;
        o.devices = 3;
        o.port = 0;
        o.readbackNoise = 0.0;
        simulator = std::make_unique<Simulator>(o);
    }

    udp::endpoint broadcast() const
    {
        return udp::endpoint(make_address_v4("127.255.255.255"), simulator->port());
    }
    udp::endpoint at(const std::string& address) const
    {
        return udp::endpoint(make_address_v4(address), simulator->port());
    }

    std::unique_ptr<Simulator> simulator;
};

TEST_F(DeviceNetwork, BroadcastDiscoveryIsAnsweredByEveryDeviceFromItsOwnAddress)
{
    ScriptedPeer peer;
    peer.sendTo("VNCQRE", broadcast());
    ASSERT_TRUE(peer.waitForCount(3));
    const std::map<std::string, std::string> expected = {{"127.0.0.2", "ERCQREVNT0001"},
                                                         {"127.0.0.3", "ERCQREVNT0002"},
                                                         {"127.0.0.4", "ERCQREVNT0003"}};
    EXPECT_EQ(bySender(peer.received()), expected);
    for (std::size_t i = 0; i < simulator->size(); ++i) {
        const auto requests = simulator->device(i).requests("CQRE");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(requests[0].viaBroadcast);
    }

    peer.clear();
    peer.sendTo("VNCQRE", at("127.0.0.3"));
    ASSERT_TRUE(peer.waitForCount(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(bySender(peer.received()),
              (std::map<std::string, std::string>{{"127.0.0.3", "ERCQREVNT0002"}}));
}

TEST_F(DeviceNetwork, PointingCommandsByBroadcastAreIgnored)
{
    ScriptedPeer peer;
    peer.sendTo("VNGEAA", broadcast());
    peer.sendTo("VNCQRE", broadcast());
    ASSERT_TRUE(peer.waitForCount(3));
    std::this_thread::sleep_for(100ms);
    for (const auto& d : peer.received()) {
        EXPECT_EQ(d.bytes.substr(0, 6), "ERCQRE");
    }
}

class IpChange : public DeviceNetwork, public ::testing::WithParamInterface<bool>
{};

TEST_P(IpChange, MovesTheDeviceToItsNewAddress)
{
    const udp::endpoint to = GetParam() ? broadcast() : at("127.0.0.2");
    ScriptedPeer peer;
    peer.sendTo("VNSIPCVNT0999" + bytes({127, 0, 0, 9}), to);
    // The answer for the right serial comes last; none may come for an unknown serial.
    peer.sendTo("VNSIPCVNT0001" + bytes({127, 0, 0, 9}), to);
    ASSERT_TRUE(peer.waitForCount(1));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(peer.receivedCount(), 1u);
    EXPECT_EQ(peer.received()[0].bytes, "ERSIPC");
    EXPECT_EQ(peer.received()[0].sender, at("127.0.0.2")) << "answered from the old address";
    EXPECT_EQ(simulator->device(0).address(), "127.0.0.9");

    halvik::Vantor moved("127.0.0.9", simulator->port());
    double az = -1;
    double el = -1;
    EXPECT_EQ(moved.SetApertureAngles(20, 10, 10), 0);
    EXPECT_EQ(moved.GetApertureAngles(az, el), 0);
    EXPECT_DOUBLE_EQ(az, 20.0);

    halvik::Vantor old("127.0.0.2", simulator->port());
    EXPECT_EQ(old.GetApertureAngles(az, el), 254);
    // The old socket is closed: what comes to the old address falls to the shared listener.
    EXPECT_TRUE(simulator->device(1).waitForRequests("GEAA", 1, 2000ms));

    peer.clear();
    peer.sendTo("VNCQRE", broadcast());
    ASSERT_TRUE(peer.waitForCount(3));
    const auto found = bySender(peer.received());
    EXPECT_EQ(found.count("127.0.0.2"), 0u);
    EXPECT_EQ(found.at("127.0.0.9"), "ERCQREVNT0001");
}

INSTANTIATE_TEST_SUITE_P(Requests, IpChange, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ByBroadcast" : "ToItsAddress");
                         });

TEST(DevicePorts, PortZeroTakesAPortNoOtherSocketHolds)
{
    SimulatorOptions o;
    o.devices = 2;
    o.port = 0;
    Simulator first(o);
    Simulator second(o);
    EXPECT_NE(first.port(), second.port());
    EXPECT_EQ(first.device(1).port(), first.port());
    EXPECT_EQ(first.device(1).address(), "127.0.0.3");
    EXPECT_NE(first.device(0).serial(), first.device(1).serial());
}

// ---- Faults ----------------------------------------------------------------------------------

struct FaultCase
{
    const char* name;
    FaultOptions faults;
    std::size_t datagramsPerRequest; // what reaches the client for each GEAA
    std::size_t answersPerRequest;   // of those, well-formed "ERGEAA" answers
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

FaultOptions with(void (*set)(FaultOptions&))
{
    FaultOptions f;
    set(f);
    return f;
}

class DeviceFaults : public ::testing::TestWithParam<FaultCase>
{};

TEST_P(DeviceFaults, ShowOnTheWire)
{
    const FaultCase c = GetParam();
    DeviceOptions o = quietDevice();
    o.faults = c.faults;
    SimulatedDevice device(o);
    ScriptedPeer peer;
    constexpr std::size_t requests = 5;
    for (std::size_t i = 0; i < requests; ++i) {
        peer.sendTo("VNGEAA", endpointOf(device));
    }
    ASSERT_TRUE(device.waitForRequests("GEAA", requests, 2000ms));
    const std::size_t expected = requests * c.datagramsPerRequest;
    if (expected > 0) {
        ASSERT_TRUE(peer.waitForCount(expected));
    }
    std::this_thread::sleep_for(150ms);
    const auto received = peer.received();
    ASSERT_EQ(received.size(), expected);
    std::size_t geaa = 0;
    for (const auto& d : received) {
        geaa += d.bytes.size() == 10 && d.bytes.substr(0, 6) == "ERGEAA";
    }
    EXPECT_EQ(geaa, requests * c.answersPerRequest);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeviceFaults,
    ::testing::Values(
        FaultCase{"None", {}, 1, 1},
        FaultCase{"Drop", with([](FaultOptions& f) { f.dropFraction = 1; }), 0, 0},
        FaultCase{"Duplicate", with([](FaultOptions& f) { f.duplicateFraction = 1; }), 2, 2},
        FaultCase{"WrongCode", with([](FaultOptions& f) { f.wrongCodeFraction = 1; }), 1, 0},
        FaultCase{"Junk", with([](FaultOptions& f) { f.junkFraction = 1; }), 2, 1},
        FaultCase{"Silent", with([](FaultOptions& f) { f.silent = true; }), 0, 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(DeviceFaultTiming, DelayedRepliesAreNeverEarly)
{
    DeviceOptions o = quietDevice();
    o.faults.delayMs = 300;
    SimulatedDevice device(o);
    ScriptedPeer peer;
    const auto sent = std::chrono::steady_clock::now();
    peer.sendTo("VNGEAA", endpointOf(device));
    ASSERT_TRUE(peer.waitForCount(1, 5000ms));
    EXPECT_GE(peer.received()[0].when - sent, 300ms);
}

TEST(DeviceFaultTiming, SeededFaultsRepeatAndADifferentSeedDiffers)
{
    // The device's own account of each reply: header, payload and what the faults made of it.
    auto run = [](std::uint64_t seed) {
        auto mutex = std::make_shared<std::mutex>();
        auto outcomes = std::make_shared<std::vector<std::string>>();
        DeviceOptions o = quietDevice();
        o.faults.dropFraction = 0.4;
        o.faults.duplicateFraction = 0.3;
        o.faults.wrongCodeFraction = 0.2;
        o.faults.seed = seed;
        o.log = [mutex, outcomes](const std::string& line) {
            const auto arrow = line.find(" -> ");
            if (arrow != std::string::npos) {
                const auto afterPeer = line.find(' ', arrow + 4);
                std::lock_guard<std::mutex> lock(*mutex);
                outcomes->push_back(line.substr(afterPeer + 1));
            }
        };
        SimulatedDevice device(o);
        ScriptedPeer peer;
        for (int i = 0; i < 40; ++i) {
            peer.sendTo(request("SEAC", {0, 0, 0x27, 0x10}), endpointOf(device));
        }
        // Requests are served one after another: once the greeting after them is being
        // handled, every reply before it has been decided and logged.
        EXPECT_TRUE(device.waitForRequests("SEAC", 40, 5000ms));
        peer.sendTo("VNPPPP", endpointOf(device));
        EXPECT_TRUE(device.waitForRequests("PPPP", 1, 5000ms));
        std::lock_guard<std::mutex> lock(*mutex);
        return *outcomes;
    };
    const auto first = run(42);
    ASSERT_GE(first.size(), 40u); // a duplicate is two lines
    EXPECT_EQ(run(42), first);
    EXPECT_NE(run(43), first);
    std::size_t sent = 0;
    for (const auto& outcome : first) {
        sent += outcome.find("not sent") == std::string::npos;
    }
    EXPECT_GT(sent, 5u);
    EXPECT_LT(sent, 40u);
}
