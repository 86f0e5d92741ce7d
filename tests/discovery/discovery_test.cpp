#include "scriptedpeer.h"
#include "setiprequest.h"
#include "vantormanagerprivate.h"

#include <halvik/statuscode.h>
#include <halvik/vantormanager.h>

#include <boost/asio/post.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using boost::asio::ip::udp;
using halvik::VantorManager;
using halvik::VantorMap;
using halvik::test::Datagram;
using halvik::test::ScriptedPeer;
using Clock = std::chrono::steady_clock;

namespace {

/// Polls until pred holds; false when it still does not after timeout.
template <typename Pred> bool eventually(Pred pred, std::chrono::milliseconds timeout = 3000ms)
{
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

/// Records every copy of the map a discovery hands over, with the time it came.
class RecordingListener : public halvik::DiscoveryListener
{
public:
    struct Call
    {
        Clock::time_point when;
        VantorMap devices;
    };

    void vantorsFound(VantorMap devices) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back({Clock::now(), std::move(devices)});
        }
        cv.notify_all();
    }
    std::vector<Call> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return log;
    }
    bool waitForCalls(std::size_t count, std::chrono::milliseconds timeout = 6000ms) const
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, timeout, [&] { return log.size() >= count; });
    }

private:
    mutable std::mutex mutex;
    mutable std::condition_variable cv;
    std::vector<Call> log;
};

/// A client over the loopback broadcast: every peer bound to 0.0.0.0 on the bus port hears its
/// queries; devices answer from their own 127.0.0.x addresses.
class DiscoveryTest : public testing::Test
{
protected:
    ScriptedPeer bus{"0.0.0.0", 0, true};
    RecordingListener listener; // outlives the client
    VantorManager manager{"127.255.255.255", bus.port()};

    /// The client's socket, learnt from its greeting.
    udp::endpoint client()
    {
        EXPECT_TRUE(bus.waitForCount(1));
        return bus.received().at(0).sender;
    }
    /// Sends the datagrams, in this order, from one socket on address.
    void answerFrom(const std::string& address, const std::vector<std::string>& datagrams)
    {
        ScriptedPeer device(address);
        for (const auto& bytes : datagrams) {
            device.sendTo(bytes, client());
        }
    }
    bool heard(const std::string& serial)
    {
        return eventually([&] { return manager.GetVantors().count(serial) == 1; });
    }
    std::vector<Datagram> queries() const { return bus.receivedWithCode("CQRE"); }
};

TEST_F(DiscoveryTest, BlockingDiscoveryQueriesTwiceAndEndsWithTimeout)
{
    // Three devices answer each query; the serials sort by their bytes, zero and high bytes too.
    ScriptedPeer deviceB("127.0.0.2");
    ScriptedPeer deviceHigh("127.0.0.3");
    ScriptedPeer deviceZero("127.0.0.4");
    const udp::endpoint to = client();
    std::thread answering([&] {
        for (std::size_t query = 1; query <= 2; ++query) {
            if (!bus.waitForCount(1 + query, 3000ms)) {
                return;
            }
            deviceB.sendTo("ERCQRESN-b", to);
            deviceHigh.sendTo("ERCQRE\xf0SN", to);
            deviceZero.sendTo("ERCQRESN\0x"s, to);
        }
    });

    const auto start = Clock::now();
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), halvik::status::Timeout);
    const auto end = Clock::now();
    answering.join();
    EXPECT_GE(end - start, 1500ms);

    std::this_thread::sleep_for(1200ms); // a third query would be due by now
    const auto sent = queries();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, "VNCQRE");
    EXPECT_EQ(sent[1].bytes, "VNCQRE");
    EXPECT_LT(sent[0].when - start, 500ms);
    // Receive times carry a little jitter of their own.
    EXPECT_GE(sent[1].when - sent[0].when, 980ms);
    EXPECT_LT(sent[1].when, end);

    const VantorMap expected{
        {"SN\0x"s, "127.0.0.4"}, {"SN-b", "127.0.0.2"}, {"\xf0SN", "127.0.0.3"}};
    EXPECT_EQ(manager.GetVantors(), expected);
    std::vector<std::string> order;
    for (const auto& [serial, address] : manager.GetVantors()) {
        order.push_back(serial);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"SN\0x"s, "SN-b", "\xf0SN"}));
}

TEST_F(DiscoveryTest, AnswersWhileIdleAreRecordedAndTheLaterAddressWins)
{
    answerFrom("127.0.0.2", {"ERCQRE"});
    ASSERT_TRUE(heard(""));
    answerFrom("127.0.0.2", {"ERCQREDUP"});
    ASSERT_TRUE(heard("DUP"));
    answerFrom("127.0.0.3", {"ERCQREDUP"});
    EXPECT_TRUE(eventually([&] { return manager.GetVantors()["DUP"] == "127.0.0.3"; }));
    EXPECT_EQ(manager.GetVantors(), (VantorMap{{"", "127.0.0.2"}, {"DUP", "127.0.0.3"}}));
    EXPECT_TRUE(queries().empty());
}

class IgnoredAnswerTest : public DiscoveryTest, public testing::WithParamInterface<std::string>
{};

TEST_P(IgnoredAnswerTest, ChangesNothing)
{
    // The marker comes after the datagram under test from the same socket, so once the marker
    // is in the map the other one has been handled.
    answerFrom("127.0.0.2", {GetParam() + "SN-X", "ERCQREMARK"});
    ASSERT_TRUE(heard("MARK"));
    EXPECT_EQ(manager.GetVantors(), (VantorMap{{"MARK", "127.0.0.2"}}));
}

INSTANTIATE_TEST_SUITE_P(Headers, IgnoredAnswerTest,
                         testing::Values("EECQRE", "EACQRE", "ERHOME", "ERCQRe", "VNCQRE"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

TEST_F(DiscoveryTest, NonBlockingDiscoveryReturnsAtOnceAndEndsAfterItsWindow)
{
    bus.answer("CQRE", {"ERCQRESN1"});
    const auto start = Clock::now();
    ASSERT_EQ(manager.FindVantors(1500, false, nullptr), halvik::status::NoError);
    EXPECT_LT(Clock::now() - start, 500ms);

    // The map fills while the discovery runs, and refills after being emptied.
    ASSERT_TRUE(heard("SN1"));
    manager.ClearVantors();
    EXPECT_TRUE(manager.GetVantors().empty());
    EXPECT_TRUE(heard("SN1")); // the repeated query's answer

    // Probing with new discoveries: each is turned away until the first one's window is over.
    Clock::time_point idleAt{};
    ASSERT_TRUE(eventually(
        [&] {
            if (manager.FindVantors(200, false, nullptr) == halvik::status::Busy) {
                return false;
            }
            idleAt = Clock::now();
            return true;
        },
        5000ms));
    EXPECT_GE(idleAt - start, 1500ms);
}

TEST_F(DiscoveryTest, CallsDuringAPendingDiscoveryAreBusyAndDoNotResetIt)
{
    const auto start = Clock::now();
    ASSERT_EQ(manager.FindVantors(3000, false, &listener), halvik::status::NoError);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(manager.FindVantors(3000, false, &listener), halvik::status::Busy);
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), halvik::status::Busy);
    EXPECT_EQ(manager.FindVantors(0, false, nullptr), halvik::status::Busy);
    EXPECT_EQ(manager.SetVantorIP("SN1", "10.0.0.7"), halvik::status::Busy);

    // A timed discovery hands its listener the map once, when its window ends.
    ASSERT_TRUE(listener.waitForCalls(1));
    const auto end = listener.calls().at(0).when;
    EXPECT_GE(end - start, 3000ms);
    EXPECT_LT(end - start, 4400ms); // a restarted window would end at 4500 ms at the earliest
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(listener.calls().size(), 1u);
    EXPECT_EQ(queries().size(), 3u); // at 0, 1000 and 2000 ms
    EXPECT_TRUE(bus.receivedWithCode("SIPC").empty());
}

TEST_F(DiscoveryTest, ContinuousDiscoveryRepeatsAndHandsItsListenerACopyEachTime)
{
    EXPECT_EQ(manager.FindVantors(0, true, &listener), halvik::status::InvalidArgument);
    bus.answer("CQRE", {"ERCQRESN1"});
    ASSERT_EQ(manager.FindVantors(0, false, &listener), halvik::status::NoError);

    ASSERT_TRUE(listener.waitForCalls(3));
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), halvik::status::Busy);
    EXPECT_EQ(manager.SetVantorIP("SN1", "10.0.0.7"), halvik::status::Busy);

    const auto calls = listener.calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].devices, (VantorMap{{"SN1", "127.0.0.1"}})) << "call " << i;
        if (i > 0) {
            EXPECT_GE(calls[i].when - calls[i - 1].when, 950ms) << "call " << i;
        }
    }
    // Each copy follows a repeated query; the invalid call before sent nothing.
    ASSERT_TRUE(bus.waitForCount(1 + calls.size() + 1));
    const auto all = bus.received();
    EXPECT_EQ(all.at(0).bytes, "VNPPPP");
    for (std::size_t i = 1; i <= calls.size() + 1; ++i) {
        EXPECT_EQ(all.at(i).bytes, "VNCQRE") << "datagram " << i;
    }
    EXPECT_TRUE(bus.receivedWithCode("SIPC").empty());
}

TEST_F(DiscoveryTest, SetIpAnswerEndsAPendingDiscoveryEarlyWithItsStatus)
{
    bus.answer("CQRE", {"EESIPC\x03"});
    const auto start = Clock::now();
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), 3);
    EXPECT_LT(Clock::now() - start, 1400ms);
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(queries().size(), 1u); // the requery stopped with the discovery
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), 3); // idle again: a new one starts
}

TEST_F(DiscoveryTest, InvalidAddressGivesFiveAndSendsNothing)
{
    bus.answer("SIPC", {"ERSIPC"});
    for (const std::string text : {"10.0.1", "10.0.0.1.5", "", "vantor.lab.example"}) {
        EXPECT_EQ(manager.SetVantorIP("SN1", text), halvik::status::InvalidArgument) << text;
    }
    EXPECT_EQ(manager.SetVantorIP("SN1", "10.0.0.7"), halvik::status::NoError);
    ASSERT_TRUE(bus.waitForCount(2));
    const auto sent = bus.receivedWithCode("SIPC");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, "VNSIPCSN1\x0a\x00\x00\x07"s);
}

TEST(DiscoveryTeardown, DestroyingTheClientStopsAContinuousDiscovery)
{
    ScriptedPeer bus("0.0.0.0", 0, true);
    RecordingListener listener;
    {
        VantorManager manager("127.255.255.255", bus.port());
        ASSERT_EQ(manager.FindVantors(0, false, &listener), halvik::status::NoError);
        ASSERT_TRUE(listener.waitForCalls(1));
    }
    std::this_thread::sleep_for(200ms); // lets a query sent just before the end be recorded
    const auto sent = bus.receivedWithCode("CQRE").size();
    const auto heard = listener.calls().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(bus.receivedWithCode("CQRE").size(), sent);
    EXPECT_EQ(listener.calls().size(), heard);
}

// --- IP change -------------------------------------------------------------------------------

struct SetIpCase
{
    const char* name;
    std::string reply;
    int expectedStatus;
    bool serialKnown; // already in the map, at 127.0.0.2
    bool mapUpdated;
};

void PrintTo(const SetIpCase& c, std::ostream* out)
{
    *out << c.name;
}

class SetIpTest : public DiscoveryTest, public testing::WithParamInterface<SetIpCase>
{};

TEST_P(SetIpTest, AnswerDecidesStatusAndMap)
{
    const SetIpCase& c = GetParam();
    const std::string serial = "SERIAL-00012";
    if (c.serialKnown) {
        answerFrom("127.0.0.2", {"ERCQRE" + serial});
        ASSERT_TRUE(heard(serial));
    }
    const VantorMap before = manager.GetVantors();
    bus.answer("SIPC", {c.reply});

    const auto start = Clock::now();
    EXPECT_EQ(manager.SetVantorIP(serial, "10.20.30.200"), c.expectedStatus);
    if (c.expectedStatus == halvik::status::Timeout) {
        EXPECT_GE(Clock::now() - start, 1000ms);
    }

    const auto sent = bus.receivedWithCode("SIPC");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes.size(), 22u);
    EXPECT_EQ(sent[0].bytes, "VNSIPC" + serial + "\x0a\x14\x1e\xc8");

    VantorMap expected = before;
    if (c.mapUpdated) {
        expected[serial] = "10.20.30.200";
    }
    EXPECT_EQ(manager.GetVantors(), expected);
    // The client is idle again.
    EXPECT_EQ(manager.FindVantors(50, true, nullptr), halvik::status::Timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SetIpTest,
    testing::Values(SetIpCase{"AcceptedKnown", "ERSIPC", 0, true, true},
                    SetIpCase{"AcceptedUnknown", "ERSIPC", 0, false, true},
                    SetIpCase{"RefusedWithStatus", "EESIPC\x02", 2, true, false},
                    SetIpCase{"RefusedWithHighStatus", "EESIPC\xc8", 200, true, false},
                    SetIpCase{"RefusedWithoutStatus", "EESIPC", 0, true, true},
                    SetIpCase{"AcknowledgedOnly", "EASIPC", 254, true, false}),
    [](const testing::TestParamInfo<SetIpCase>& info) { return std::string(info.param.name); });

struct AddressCase
{
    const char* name;
    std::string text;
    bool valid;
};

void PrintTo(const AddressCase& c, std::ostream* out)
{
    *out << c.name;
}

class AddressTest : public testing::TestWithParam<AddressCase>
{};

TEST_P(AddressTest, OnlyFourPartDottedFormIsValid)
{
    EXPECT_EQ(halvik::VantorManagerPrivate::isValidAddress(GetParam().text), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressTest,
    testing::Values(AddressCase{"Dotted", "10.0.0.1", true},
                    AddressCase{"Broadcast", "255.255.255.255", true},
                    AddressCase{"Any", "0.0.0.0", true}, AddressCase{"ThreeParts", "10.0.1", false},
                    AddressCase{"FiveParts", "10.0.0.1.5", false}, AddressCase{"Empty", "", false},
                    AddressCase{"HostName", "localhost", false},
                    AddressCase{"HostNameWithThreeDots", "vantor.lab.example.com", false},
                    AddressCase{"PartTooLarge", "10.0.0.256", false},
                    AddressCase{"WithPort", "10.0.0.1:80", false},
                    AddressCase{"LeadingSpace", " 10.0.0.1", false},
                    AddressCase{"TrailingZeroByte", "10.0.0.1\0"s, false},
                    AddressCase{"PartAfterZeroByte", "10.0.0.1\0.9"s, false}),
    [](const testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

TEST(SetIpRequest, SerialBytesThenAddressBytes)
{
    using boost::asio::ip::make_address_v4;
    const struct
    {
        std::string serial;
        const char* address;
        std::string expected;
    } cases[] = {
        {"SERIAL-00012", "10.20.30.40", "VNSIPCSERIAL-00012\x0a\x14\x1e\x28"},
        {"", "0.0.0.0", "VNSIPC\0\0\0\0"s},
        {"A\0B"s, "255.255.255.255", "VNSIPCA\0B\xff\xff\xff\xff"s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(halvik::makeSetIpRequest(c.serial, make_address_v4(c.address)), c.expected)
            << c.address;
    }
}

// --- Timer handlers left over from an earlier operation -----------------------------------------

/// Holds the receive thread: a "XXSLOW" datagram for `slow` before it is handled, an "ERSIPC"
/// answer for `afterSetIp` after it was handled.
class SlowClient : public halvik::VantorManagerPrivate
{
public:
    SlowClient(std::uint16_t port, std::chrono::milliseconds slow,
               std::chrono::milliseconds afterSetIp)
        : VantorManagerPrivate("127.255.255.255", port)
        , slow(slow)
        , afterSetIp(afterSetIp)
    {
        // The link's receive thread started before this part was built: a no-op run there
        // orders this constructor before every handler that follows.
        std::promise<void> ran;
        boost::asio::post(*ioService, [&ran] { ran.set_value(); });
        ran.get_future().wait();
    }
    ~SlowClient() override { shutdown(); }

private:
    const std::chrono::milliseconds slow;
    const std::chrono::milliseconds afterSetIp;

    void handleMessage(halvik::LinkMessage message) override
    {
        const std::string header = message.header;
        if (header == "XXSLOW") {
            std::this_thread::sleep_for(slow);
        }
        VantorManagerPrivate::handleMessage(std::move(message));
        if (header == "ERSIPC") {
            std::this_thread::sleep_for(afterSetIp);
        }
    }
};

TEST(StaleTimer, TimeOutOfAnEndedIpChangeDoesNotEndTheNextDiscovery)
{
    // The IP change's time-out expires while the receive thread is held, behind the "ERSIPC"
    // that ends the change. cancel() then comes too late: the expired handler still runs, after
    // the next discovery has begun.
    ScriptedPeer bus("0.0.0.0", 0, true);
    bus.answer("SIPC", {"XXSLOW", "ERSIPC"});
    SlowClient client(bus.port(), 1300ms, 500ms);

    EXPECT_EQ(client.SetVantorIP("SN1", "10.0.0.7"), halvik::status::NoError);
    const auto start = Clock::now();
    EXPECT_EQ(client.FindVantors(1500, true, nullptr), halvik::status::Timeout);
    EXPECT_GE(Clock::now() - start, 1500ms);
}

} // namespace
