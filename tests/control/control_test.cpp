#include "commandcodec.h"
#include "scriptedpeer.h"
#include "vantorprivate.h"

#include <halvik/vantor.h>

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using halvik::VantorPrivate;
using halvik::test::ScriptedPeer;
using Clock = std::chrono::steady_clock;

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

TEST(CommandBuilders, ProduceExactBytes)
{
    struct Case
    {
        std::string built;
        std::string expected;
    };
    using namespace halvik;
    const Case cases[] = {
        {makeHomeCommand(), "VNHOME"},
        {makeGetApertureAnglesCommand(), "VNGEAA"},
        {makeSetApertureAnglesCommand(0.29, -10.5, 10),
         "VNSEAA" + bytes({0x00, 0x1C, 0xFB, 0xE6, 0x0E, 0x10})},
        {makeTrackApertureAnglesCommand(359.99, 35, 0.01),
         "VNTRAA" + bytes({0x8C, 0x9F, 0x0D, 0xAC, 0x00, 0x03})},
        {makeSetApertureAnglesCommand(1.15, 0, 200),
         "VNSEAA" + bytes({0x00, 0x72, 0x00, 0x00, 0x19, 0x40})},
        // Negative angles travel in 16-bit two's complement, truncated toward zero.
        {makeTrackApertureAnglesCommand(-0.019, -35, 1),
         "VNTRAA" + bytes({0xFF, 0xFF, 0xF2, 0x54, 0x01, 0x68})},
        // A speed whose product reaches 65536 wraps.
        {makeSetApertureAnglesCommand(0, 0, 182.05), "VNSEAA" + bytes({0, 0, 0, 0, 0x00, 0x02})},
        {makeSetAccelerationCommand(50000.7), "VNSEAC" + bytes({0x00, 0x00, 0xC3, 0x50})},
        {makeSetAccelerationCommand(0.5), "VNSEAC" + bytes({0, 0, 0, 0})},
        {makeSetAccelerationCommand(-1.9), "VNSEAC" + bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {makeSetAccelerationCommand(10000), "VNSEAC" + bytes({0x00, 0x00, 0x27, 0x10})},
        // Beyond 32 bits only the low 32 are sent.
        {makeSetAccelerationCommand(4294967296.0 + 5), "VNSEAC" + bytes({0, 0, 0, 5})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected);
    }
}

TEST(CommandBuilders, OutOfRangeProductsSaturateInsteadOfUndefined)
{
    EXPECT_EQ(halvik::scaledField16(1e12, 100.0), 0xFFFF);  // INT32_MAX, low 16 bits
    EXPECT_EQ(halvik::scaledField16(-1e12, 100.0), 0x0000); // INT32_MIN, low 16 bits
    EXPECT_EQ(halvik::scaledField16(std::nan(""), 100.0), 0);
}

TEST(ByteRoutines, TakeUInt16AndDecodeAngles)
{
    struct Case
    {
        std::string payload;
        std::uint16_t first;
        double azimuth;
        double elevation;
        std::string rest;
    };
    const Case cases[] = {
        {bytes({0x8C, 0xA0, 0xF2, 0x30}), 0x8CA0, 360.0, -35.36, ""},
        {bytes({0x12, 0x34}), 0x1234, 46.6, 0.0, ""},
        {bytes({0x12}), 0x1200, 46.08, 0.0, ""},
        {"", 0, 0.0, 0.0, ""},
        {bytes({0x00, 0x64, 0x00, 0x0A, 0x77}), 0x0064, 1.0, 0.1, "\x77"},
        {bytes({0xFF, 0xFF, 0x7F, 0xFF}), 0xFFFF, 655.35, 327.67, ""},
    };
    for (const auto& c : cases) {
        std::string a = c.payload;
        EXPECT_EQ(halvik::takeUInt16(a), c.first);
        std::string b = c.payload;
        double az = -1, el = -1;
        halvik::decodeApertureAngles(b, az, el);
        EXPECT_DOUBLE_EQ(az, c.azimuth);
        EXPECT_DOUBLE_EQ(el, c.elevation);
        EXPECT_EQ(b, c.rest);
    }
}

namespace {

/// A client and a peer that answers each request with the replies queued for it.
struct TransactionTest : ::testing::Test
{
    // Declared before the peer, whose thread reads them until the peer is gone.
    std::mutex mutex;
    std::vector<std::vector<std::string>> script; // replies per request, in order
    ScriptedPeer peer;
    std::unique_ptr<VantorPrivate> client;

    void SetUp() override
    {
        peer.setResponder([this](const std::string& request) -> std::vector<std::string> {
            if (request == "VNPPPP") {
                return {};
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (script.empty()) {
                return {};
            }
            auto replies = script.front();
            script.erase(script.begin());
            return replies;
        });
        client = std::make_unique<VantorPrivate>("127.0.0.1", peer.port());
        ASSERT_TRUE(peer.waitForCount(1));
    }
    void queue(std::vector<std::string> replies)
    {
        std::lock_guard<std::mutex> lock(mutex);
        script.push_back(std::move(replies));
    }
};

} // namespace

TEST_F(TransactionTest, ReplyKindsEndTheTransaction)
{
    struct Case
    {
        std::string command;
        std::vector<std::string> replies;
        int status;
    };
    const Case cases[] = {
        {"VNHOME", {"EEHOME\x04"}, 4},
        {"VNHOME", {"EEHOME"}, 0},
        {"VNHOME", {"EEHOME\xFC"}, 252},
        {"VNHOME", {"EEHOME\x02"}, 2},
        // Another kind with the matching code ends it with the previous status.
        {"VNSEAC", {"XXSEAC"}, 2},
        {"VNGEAA", {"EAGEAA"}, 0},
        {"VNGEAA", {"ERGEAA\x01\x02"}, 0},
        // A reply with another code leaves the caller waiting for the right one.
        {"VNGEAA", {"ERHOME", "EEPPPP\x03", "EEGEAA\x07"}, 7},
        // The prefix bytes take no part in the match.
        {"XYHOME", {"EEHOME\x05"}, 5},
    };
    for (const auto& c : cases) {
        queue(c.replies);
        EXPECT_EQ(client->sendCommand(c.command, 2000), c.status) << c.command;
    }
    EXPECT_EQ(peer.receivedCount(), 1u + std::size(cases));
}

TEST_F(TransactionTest, ResultPayloadSurvivesAndIsConsumedByDecoding)
{
    double az = -1, el = -1;
    queue({"ERGEAA" + bytes({0x8C, 0xA0, 0xF2, 0x30, 0x12, 0x34})});
    ASSERT_EQ(client->GetApertureAngles(az, el), 0);
    EXPECT_DOUBLE_EQ(az, 360.0);
    EXPECT_DOUBLE_EQ(el, -35.36);

    // A reply while idle changes nothing.
    peer.sendToLastSender("ERGEAA" + bytes({0x11, 0x11, 0x11, 0x11}));
    std::this_thread::sleep_for(50ms);

    // "EA" decodes what is left of the last "ER" payload.
    queue({"EAGEAA"});
    ASSERT_EQ(client->GetApertureAngles(az, el), 0);
    EXPECT_DOUBLE_EQ(az, 46.6);
    EXPECT_DOUBLE_EQ(el, 0.0);

    // An "EE" keeps the payload and leaves the outputs alone; nothing is left to decode after.
    queue({"EEGEAA\x03"});
    az = el = -1;
    EXPECT_EQ(client->GetApertureAngles(az, el), 3);
    EXPECT_EQ(az, -1);
    queue({"EAGEAA"});
    ASSERT_EQ(client->GetApertureAngles(az, el), 0);
    EXPECT_EQ(az, 0.0);
    EXPECT_EQ(el, 0.0);
}

TEST_F(TransactionTest, ReplyFromAnySenderEndsTransaction)
{
    ScriptedPeer stranger("127.0.0.2");
    auto pending =
        std::async(std::launch::async, [&] { return client->sendCommand("VNGEAA", 2000); });
    ASSERT_TRUE(peer.waitForCount(2));
    stranger.sendTo("ERGEAA" + bytes({0, 100, 0, 10}),
                    {boost::asio::ip::address_v4::loopback(), client->localPort()});
    EXPECT_EQ(pending.get(), 0);
}

TEST_F(TransactionTest, SecondCallerIsTurnedAwayAtOnce)
{
    auto pending = std::async(std::launch::async, [&] { return client->sendCommand("VNGEAA", 0); });
    ASSERT_TRUE(peer.waitForCount(2));
    const auto start = Clock::now();
    EXPECT_EQ(client->Home(), 253);
    EXPECT_EQ(client->sendCommand("VNSEAC" + bytes({0, 0, 0, 1}), -1), 253);
    EXPECT_LT(msSince(start), 400);
    peer.sendToLastSender("EAGEAA");
    EXPECT_EQ(pending.get(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.receivedCount(), 2u) << "the refused commands were sent";
}

TEST(Transactions, TwoThreadsEachGetTheirOwnAnswer)
{
    // A reply ends its transaction before its caller is awake again; a second thread calling
    // in that gap must be turned away, not take the transaction over.
    ScriptedPeer peer;
    peer.answer("GEAA", {"ERGEAA" + bytes({0, 100, 0, 10})});
    peer.answer("HOME", {"EEHOME\x05"});
    VantorPrivate client("127.0.0.1", peer.port());
    struct Tally
    {
        int answered = 0;
        int wrong = 0;
    };
    // Each thread calls until it has had its answer 500 times; a busy client is tried again.
    const auto calls = [](const std::function<int()>& call, int expected) {
        Tally t;
        for (int attempt = 0; t.answered < 500 && attempt < 1000000; ++attempt) {
            const int status = call();
            if (status == expected) {
                ++t.answered;
            } else if (status == 253) {
                std::this_thread::yield();
            } else {
                ++t.wrong;
            }
        }
        return t;
    };
    auto reader = std::async(std::launch::async, [&] {
        return calls(
            [&] {
                double az = -1, el = -1;
                const int status = client.GetApertureAngles(az, el);
                return status == 0 && (std::abs(az - 1.0) > 1e-9 || std::abs(el - 0.1) > 1e-9)
                           ? -1
                           : status;
            },
            0);
    });
    const Tally homed = calls([&] { return client.Home(); }, 5);
    const Tally read = reader.get();
    EXPECT_EQ(read.wrong, 0) << "GetApertureAngles returned another caller's answer";
    EXPECT_EQ(homed.wrong, 0) << "Home returned another caller's answer";
    EXPECT_EQ(read.answered, 500);
    EXPECT_EQ(homed.answered, 500);
}

TEST_F(TransactionTest, ShortCommandIsRefusedAndNotSent)
{
    EXPECT_EQ(client->sendCommand("VNHOM", -1), 6);
    EXPECT_EQ(client->sendCommand("", -1), 6);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.receivedCount(), 1u);
}

TEST_F(TransactionTest, ZeroTimeoutWaitsForTheReply)
{
    auto pending = std::async(std::launch::async, [&] { return client->sendCommand("VNHOME", 0); });
    ASSERT_TRUE(peer.waitForCount(2));
    std::this_thread::sleep_for(700ms); // longer than the default time-out
    ASSERT_EQ(pending.wait_for(0ms), std::future_status::timeout);
    peer.sendToLastSender("EEHOME\x01");
    EXPECT_EQ(pending.get(), 1);
}

TEST_F(TransactionTest, LateReplyEndsTheNextTransactionOfTheSameCode)
{
    double az = -1, el = -1;
    EXPECT_EQ(client->GetApertureAngles(az, el), 254);
    EXPECT_EQ(az, -1);
    auto second = std::async(std::launch::async, [&] { return client->GetApertureAngles(az, el); });
    ASSERT_TRUE(peer.waitForCount(3));
    // The answer to the first request, late: the second transaction takes it.
    peer.sendToLastSender("ERGEAA" + bytes({0, 100, 0, 10}));
    EXPECT_EQ(second.get(), 0);
    EXPECT_DOUBLE_EQ(az, 1.0);
    EXPECT_DOUBLE_EQ(el, 0.1);
}

TEST_F(TransactionTest, FailedSendPropagatesAndLeavesClientUsable)
{
    // Larger than any UDP datagram: the socket refuses it.
    EXPECT_THROW(client->sendCommand("VNHOME" + std::string(70000, 'x'), -1),
                 boost::system::system_error);
    queue({"EAHOME"});
    EXPECT_EQ(client->Home(), 0);
}

namespace {

struct TimeoutCase
{
    const char* name;
    int (*operation)(VantorPrivate&);
    long long timeoutMs;
};

void PrintTo(const TimeoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class TimeoutTest : public ::testing::TestWithParam<TimeoutCase>
{};

} // namespace

TEST_P(TimeoutTest, NoReplyTimesOutNeverEarly)
{
    ScriptedPeer silent;
    VantorPrivate client("127.0.0.1", silent.port());
    const auto start = Clock::now();
    EXPECT_EQ(GetParam().operation(client), 254);
    const auto elapsed = msSince(start);
    EXPECT_GE(elapsed, GetParam().timeoutMs);
    EXPECT_LT(elapsed, GetParam().timeoutMs + 1500);
    // The client is idle again: the next command goes out.
    EXPECT_EQ(client.sendCommand("VNGEAA", 50), 254);
    EXPECT_TRUE(silent.waitForCount(3));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, TimeoutTest,
    ::testing::Values(
        TimeoutCase{"Home", [](VantorPrivate& v) { return v.Home(); }, 2500},
        TimeoutCase{"SetApertureAngles",
                    [](VantorPrivate& v) { return v.SetApertureAngles(1, 2, 3); }, 2500},
        TimeoutCase{"TrackApertureAngles",
                    [](VantorPrivate& v) { return v.TrackApertureAngles(1, 2, 3); }, 500},
        TimeoutCase{"SetAcceleration", [](VantorPrivate& v) { return v.SetAcceleration(1); }, 500},
        TimeoutCase{"GetApertureAngles",
                    [](VantorPrivate& v) {
                        double a, e;
                        return v.GetApertureAngles(a, e);
                    },
                    500},
        TimeoutCase{"NegativeTimeout", [](VantorPrivate& v) { return v.sendCommand("VNHOME", -7); },
                    500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VantorFacade, OperationsOverLoopback)
{
    ScriptedPeer peer;
    peer.answer("GEAA", {"ERGEAA" + bytes({0x8C, 0xA0, 0xF2, 0x30})});
    peer.answer("HOME", {"EEHOME\x04"});
    peer.answer("TRAA", {"EATRAA"});
    peer.answer("SEAA", {"EASEAA"});
    peer.answer("SEAC", {"EASEAC"});
    halvik::Vantor vantor("127.0.0.1", peer.port());
    double az = 0, el = 0;
    EXPECT_EQ(vantor.GetApertureAngles(az, el), 0);
    EXPECT_DOUBLE_EQ(az, 360.0);
    EXPECT_DOUBLE_EQ(el, -35.36);
    const int homed = vantor.Home();
    EXPECT_EQ(halvik::Vantor::StatusText(homed), "Error 0x04: Not Homed");
    EXPECT_EQ(vantor.TrackApertureAngles(359.99, 35, 0.01), 0);
    EXPECT_EQ(vantor.SetApertureAngles(0.29, -10.5, 10), 0);
    EXPECT_EQ(vantor.SetAcceleration(50000.7), 0);
    const auto got = peer.received();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].bytes, "VNPPPP");
    EXPECT_EQ(got[3].bytes, "VNTRAA" + bytes({0x8C, 0x9F, 0x0D, 0xAC, 0x00, 0x03}));
    EXPECT_EQ(got[4].bytes, "VNSEAA" + bytes({0x00, 0x1C, 0xFB, 0xE6, 0x0E, 0x10}));
    EXPECT_EQ(got[5].bytes, "VNSEAC" + bytes({0x00, 0x00, 0xC3, 0x50}));
    EXPECT_EQ(halvik::Vantor::StatusText(253), "Error 0xfd: Vantor driver busy");
}

TEST(VantorFacade, BadAddressThrows)
{
    EXPECT_THROW(halvik::Vantor("not an address"), boost::system::system_error);
}

TEST(VantorFacade, CreatedAndDestroyedWithRepliesInFlight)
{
    ScriptedPeer peer;
    peer.answer("GEAA", {"ERGEAA" + bytes({0, 1, 0, 1}), "ERGEAA" + bytes({0, 2, 0, 2})});
    for (int i = 0; i < 100; ++i) {
        halvik::Vantor vantor("127.0.0.1", peer.port());
        if (i % 10 == 0) {
            double az, el;
            EXPECT_EQ(vantor.GetApertureAngles(az, el), 0);
        }
    }
}
