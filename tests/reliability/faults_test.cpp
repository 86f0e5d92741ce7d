// Every operation of the command client and of the discovery client against a simulated device
// that misbehaves in one way: what it returns, and how long it takes. A time-out is never early
// and is reached within a generous slack; once the device answers normally, the client works at
// once.

#include "scriptedpeer.h"

#include <halvik/simulateddevice.h>
#include <halvik/statuscode.h>
#include <halvik/vantor.h>
#include <halvik/vantormanager.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using halvik::Vantor;
using halvik::VantorManager;
using halvik::sim::DeviceOptions;
using halvik::sim::FaultOptions;
using halvik::sim::SimulatedDevice;
using halvik::test::ScriptedPeer;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

namespace {

namespace status = halvik::status;

// Sanitizer builds on a shared two-core machine can be slow; only lateness this large fails.
constexpr Ms slack{1500};
const std::string loopbackBroadcast = "127.255.255.255";

enum class Op
{
    Home,
    SetApertureAngles,
    TrackApertureAngles,
    SetAcceleration,
    GetApertureAngles,
    FindVantors,
    SetVantorIP
};

const char* opName(Op op)
{
    switch (op) {
    case Op::Home:
        return "Home";
    case Op::SetApertureAngles:
        return "SetApertureAngles";
    case Op::TrackApertureAngles:
        return "TrackApertureAngles";
    case Op::SetAcceleration:
        return "SetAcceleration";
    case Op::GetApertureAngles:
        return "GetApertureAngles";
    case Op::FindVantors:
        return "FindVantors";
    case Op::SetVantorIP:
        return "SetVantorIP";
    }
    return "?";
}

/// How long the client waits for the operation's answer (for FindVantors: its window).
Ms timeoutOf(Op op)
{
    switch (op) {
    case Op::Home:
    case Op::SetApertureAngles:
        return Ms(2500);
    case Op::FindVantors:
        return Ms(1500);
    case Op::SetVantorIP:
        return Ms(1000);
    default:
        return Ms(500);
    }
}

bool isDiscoveryOp(Op op)
{
    return op == Op::FindVantors || op == Op::SetVantorIP;
}

enum class Fault
{
    Dropped,
    Late,
    Duplicated,
    WrongCode,
    Junk,
    SilentThenBack,
    PowerCycled,
    PowerCycledNeedsHome,
    RestartedOnSameAddress
};

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::Dropped:
        return "Dropped";
    case Fault::Late:
        return "Late";
    case Fault::Duplicated:
        return "Duplicated";
    case Fault::WrongCode:
        return "WrongCode";
    case Fault::Junk:
        return "Junk";
    case Fault::SilentThenBack:
        return "SilentThenBack";
    case Fault::PowerCycled:
        return "PowerCycled";
    case Fault::PowerCycledNeedsHome:
        return "PowerCycledNeedsHome";
    case Fault::RestartedOnSameAddress:
        return "RestartedOnSameAddress";
    }
    return "?";
}

/// When the operation ends: before its time-out (an answer decided it), or at the time-out.
enum class Ends
{
    Answered,
    AtTimeout
};

struct FaultRow
{
    Fault fault;
    Op op;
    int status;
    Ends ends;
    /// FindVantors only: devices in the map when it returns.
    std::size_t found = 0;
    /// Assigned from the row's place in the table: its own loopback addresses.
    int id = 0;
};

constexpr auto T = Ends::AtTimeout;
constexpr auto A = Ends::Answered;

std::vector<FaultRow> faultTable()
{
    std::vector<FaultRow> rows = {
        // Replies never sent: every operation times out. An IP change still takes effect.
        {Fault::Dropped, Op::Home, status::Timeout, T},
        {Fault::Dropped, Op::SetApertureAngles, status::Timeout, T},
        {Fault::Dropped, Op::TrackApertureAngles, status::Timeout, T},
        {Fault::Dropped, Op::SetAcceleration, status::Timeout, T},
        {Fault::Dropped, Op::GetApertureAngles, status::Timeout, T},
        {Fault::Dropped, Op::FindVantors, status::Timeout, T, 0},
        {Fault::Dropped, Op::SetVantorIP, status::Timeout, T},
        // Replies 300 ms after the time-out: the same, and the late reply disturbs nothing.
        {Fault::Late, Op::Home, status::Timeout, T},
        {Fault::Late, Op::SetApertureAngles, status::Timeout, T},
        {Fault::Late, Op::TrackApertureAngles, status::Timeout, T},
        {Fault::Late, Op::SetAcceleration, status::Timeout, T},
        {Fault::Late, Op::GetApertureAngles, status::Timeout, T},
        {Fault::Late, Op::FindVantors, status::Timeout, T, 0},
        {Fault::Late, Op::SetVantorIP, status::Timeout, T},
        // Every reply twice: the copy arrives while the client is idle and is dropped.
        {Fault::Duplicated, Op::Home, status::NoError, A},
        {Fault::Duplicated, Op::SetApertureAngles, status::NoError, A},
        {Fault::Duplicated, Op::TrackApertureAngles, status::NoError, A},
        {Fault::Duplicated, Op::SetAcceleration, status::NoError, A},
        {Fault::Duplicated, Op::GetApertureAngles, status::NoError, A},
        {Fault::Duplicated, Op::FindVantors, status::Timeout, T, 1},
        {Fault::Duplicated, Op::SetVantorIP, status::NoError, A},
        // Replies with the next command code: nothing matches, except that the discovery
        // answer turns into "ERSIPC", which ends a discovery at once with 0 (the client cannot
        // tell it from an IP change's answer).
        {Fault::WrongCode, Op::Home, status::Timeout, T},
        {Fault::WrongCode, Op::SetApertureAngles, status::Timeout, T},
        {Fault::WrongCode, Op::TrackApertureAngles, status::Timeout, T},
        {Fault::WrongCode, Op::SetAcceleration, status::Timeout, T},
        {Fault::WrongCode, Op::GetApertureAngles, status::Timeout, T},
        {Fault::WrongCode, Op::FindVantors, status::NoError, A, 0},
        {Fault::WrongCode, Op::SetVantorIP, status::Timeout, T},
        // A datagram of 0 to 31 random bytes before every reply.
        {Fault::Junk, Op::Home, status::NoError, A},
        {Fault::Junk, Op::SetApertureAngles, status::NoError, A},
        {Fault::Junk, Op::TrackApertureAngles, status::NoError, A},
        {Fault::Junk, Op::SetAcceleration, status::NoError, A},
        {Fault::Junk, Op::GetApertureAngles, status::NoError, A},
        {Fault::Junk, Op::FindVantors, status::Timeout, T, 1},
        {Fault::Junk, Op::SetVantorIP, status::NoError, A},
        // Silent, then powered on again: times out while silent, answers at once afterwards.
        {Fault::SilentThenBack, Op::Home, status::Timeout, T},
        {Fault::SilentThenBack, Op::SetApertureAngles, status::Timeout, T},
        {Fault::SilentThenBack, Op::TrackApertureAngles, status::Timeout, T},
        {Fault::SilentThenBack, Op::SetAcceleration, status::Timeout, T},
        {Fault::SilentThenBack, Op::GetApertureAngles, status::Timeout, T},
        {Fault::SilentThenBack, Op::FindVantors, status::Timeout, T, 0},
        {Fault::SilentThenBack, Op::SetVantorIP, status::Timeout, T},
        // Power cycle between two operations: the client notices nothing.
        {Fault::PowerCycled, Op::Home, status::NoError, A},
        {Fault::PowerCycled, Op::SetApertureAngles, status::NoError, A},
        {Fault::PowerCycled, Op::TrackApertureAngles, status::NoError, A},
        {Fault::PowerCycled, Op::SetAcceleration, status::NoError, A},
        {Fault::PowerCycled, Op::GetApertureAngles, status::NoError, A},
        {Fault::PowerCycled, Op::FindVantors, status::Timeout, T, 1},
        {Fault::PowerCycled, Op::SetVantorIP, status::NoError, A},
        // A device that must be homed forgets its homing: pointing is refused until Home.
        {Fault::PowerCycledNeedsHome, Op::Home, status::NoError, A},
        {Fault::PowerCycledNeedsHome, Op::SetApertureAngles, status::NotHomed, A},
        {Fault::PowerCycledNeedsHome, Op::TrackApertureAngles, status::NotHomed, A},
        {Fault::PowerCycledNeedsHome, Op::GetApertureAngles, status::NoError, A},
        // The device's program stopped and started again on the same address and port.
        {Fault::RestartedOnSameAddress, Op::Home, status::NoError, A},
        {Fault::RestartedOnSameAddress, Op::SetApertureAngles, status::NoError, A},
        {Fault::RestartedOnSameAddress, Op::TrackApertureAngles, status::NoError, A},
        {Fault::RestartedOnSameAddress, Op::SetAcceleration, status::NoError, A},
        {Fault::RestartedOnSameAddress, Op::GetApertureAngles, status::NoError, A},
        {Fault::RestartedOnSameAddress, Op::FindVantors, status::Timeout, T, 1},
        {Fault::RestartedOnSameAddress, Op::SetVantorIP, status::NoError, A},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].id = static_cast<int>(i);
    }
    return rows;
}

std::string address(const char* prefix, int id)
{
    return prefix + std::to_string(10 + id);
}

/// One device on its own loopback address, the client the row's operation needs, and a second
/// address to move the device to.
class FaultTest : public testing::TestWithParam<FaultRow>
{
protected:
    void SetUp() override
    {
        const FaultRow& row = GetParam();
        home = address("127.0.9.", row.id);
        spare = address("127.0.10.", row.id);
        options.address = home;
        options.port = 0;
        options.serial = "FLT" + std::to_string(row.id);
        options.listenBroadcast = true;
        options.readbackNoise = 0.0;
        options.requireHome = row.fault == Fault::PowerCycledNeedsHome;
        device = std::make_unique<SimulatedDevice>(options);
        options.port = device->port();
        if (isDiscoveryOp(row.op)) {
            manager = std::make_unique<VantorManager>(loopbackBroadcast, options.port);
        } else {
            vantor = std::make_unique<Vantor>(home, options.port);
        }
        if (options.requireHome) {
            ASSERT_EQ(vantor->Home(), status::NoError);
        }
    }

    int run(Op op)
    {
        double azimuth = 0;
        double elevation = 0;
        switch (op) {
        case Op::Home:
            return vantor->Home();
        case Op::SetApertureAngles:
            return vantor->SetApertureAngles(2.5, 1.5, 10);
        case Op::TrackApertureAngles:
            return vantor->TrackApertureAngles(3.5, -1.5, 10);
        case Op::SetAcceleration:
            return vantor->SetAcceleration(20000);
        case Op::GetApertureAngles:
            return vantor->GetApertureAngles(azimuth, elevation);
        case Op::FindVantors:
            manager->ClearVantors();
            return manager->FindVantors(1500, true, nullptr);
        case Op::SetVantorIP: {
            // Back and forth between the two addresses.
            const std::string target = device->address() == home ? spare : home;
            return manager->SetVantorIP(options.serial, target);
        }
        }
        return -1;
    }

    struct Timed
    {
        int status;
        Ms elapsed;
    };

    Timed timed(Op op)
    {
        // The clients only try their lock: a call that meets the receive thread handling a
        // datagram (a late answer, say) is turned away as busy at once, and nothing was sent.
        // That is their rule, not the fault under test, so such a call is made again.
        for (int attempt = 0;; ++attempt) {
            const auto start = Clock::now();
            const int status = run(op);
            if (status != halvik::status::Busy || attempt == 3) {
                return {status, std::chrono::duration_cast<Ms>(Clock::now() - start)};
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    DeviceOptions options;
    std::string home;
    std::string spare;
    std::unique_ptr<SimulatedDevice> device;
    std::unique_ptr<Vantor> vantor;
    std::unique_ptr<VantorManager> manager;
};

TEST_P(FaultTest, ReturnsItsStatusInTimeAndWorksAgainOnceTheDeviceAnswers)
{
    const FaultRow& row = GetParam();
    const Ms timeout = timeoutOf(row.op);
    const Ms late = timeout + 300ms;

    FaultOptions faults;
    switch (row.fault) {
    case Fault::Dropped:
        faults.dropFraction = 1.0;
        break;
    case Fault::Late:
        faults.delayMs = static_cast<unsigned>(late.count());
        break;
    case Fault::Duplicated:
        faults.duplicateFraction = 1.0;
        break;
    case Fault::WrongCode:
        faults.wrongCodeFraction = 1.0;
        break;
    case Fault::Junk:
        faults.junkFraction = 1.0;
        break;
    case Fault::SilentThenBack:
        break;
    case Fault::PowerCycled:
    case Fault::PowerCycledNeedsHome:
        ASSERT_EQ(run(row.op), row.op == Op::FindVantors ? status::Timeout : status::NoError);
        device->restart();
        break;
    case Fault::RestartedOnSameAddress:
        ASSERT_EQ(run(row.op), row.op == Op::FindVantors ? status::Timeout : status::NoError);
        options.address = device->address(); // where an IP change left it
        device.reset();
        device = std::make_unique<SimulatedDevice>(options);
        break;
    }
    if (row.fault == Fault::SilentThenBack) {
        device->goSilent();
    } else {
        device->setFaults(faults);
    }

    const Timed first = timed(row.op);
    std::cout << "fault-table " << faultName(row.fault) << ' ' << opName(row.op) << " status "
              << first.status << " after " << first.elapsed.count() << " ms" << std::endl;
    EXPECT_EQ(first.status, row.status) << halvik::statusCodeText(first.status);
    if (row.ends == Ends::AtTimeout) {
        EXPECT_GE(first.elapsed, timeout) << "ended before its time-out";
        EXPECT_LE(first.elapsed, timeout + slack);
    } else {
        EXPECT_LT(first.elapsed, timeout) << "an answer should have decided it";
    }
    if (row.op == Op::FindVantors) {
        EXPECT_EQ(manager->GetVantors().size(), row.found);
    }
    if (row.op == Op::SetVantorIP && row.fault == Fault::Dropped) {
        EXPECT_EQ(device->address(), spare) << "the request took effect, only its answer was lost";
    }

    // The device answers normally again (late replies still on their way are let through
    // first): the very next operation succeeds.
    if (row.fault == Fault::Late) {
        std::this_thread::sleep_for(late - first.elapsed + 1200ms);
    }
    device->setFaults(FaultOptions{});
    if (row.fault == Fault::SilentThenBack) {
        device->restart();
    }
    if (row.fault == Fault::PowerCycledNeedsHome && row.status == status::NotHomed) {
        ASSERT_EQ(vantor->Home(), status::NoError);
    }
    const Timed again = timed(row.op);
    EXPECT_EQ(again.status, row.op == Op::FindVantors ? status::Timeout : status::NoError)
        << halvik::statusCodeText(again.status);
    if (row.op == Op::FindVantors) {
        EXPECT_EQ(manager->GetVantors().size(), 1u);
    } else {
        EXPECT_LT(again.elapsed, timeout);
    }
    if (vantor) {
        double azimuth = -1;
        double elevation = -1;
        EXPECT_EQ(vantor->GetApertureAngles(azimuth, elevation), status::NoError);
    }
}

std::string rowName(const testing::TestParamInfo<FaultRow>& info)
{
    return std::string(faultName(info.param.fault)) + "_" + opName(info.param.op);
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultTest, testing::ValuesIn(faultTable()), rowName);

// --- Oversized datagrams -------------------------------------------------------------------------

/// 1500 bytes: one Ethernet frame's payload and more than the link's buffer; 65507 bytes: the
/// largest UDP payload over IPv4.
struct OversizedRow
{
    std::size_t size;
    /// The oversized datagram is the reply itself (else junk before a normal reply).
    bool isTheReply;
    const char* peerAddress;
};

class OversizedTest : public testing::TestWithParam<OversizedRow>
{};

std::string padded(std::string start, std::size_t size, char fill)
{
    start.resize(size, fill);
    return start;
}

TEST_P(OversizedTest, CommandReplyIsReadFromItsFirstBytes)
{
    const OversizedRow& row = GetParam();
    ScriptedPeer peer(row.peerAddress);
    const std::string angles("ERGEAA\x8c\xa0\xf2\x30", 10);
    std::atomic<int> queries{0};
    // The first GEAA meets the oversized datagram, every later one an ordinary reply.
    peer.setResponder([&](const std::string& request) -> std::vector<std::string> {
        if (request.compare(2, 4, "GEAA") != 0) {
            return {};
        }
        if (queries++ > 0) {
            return {std::string("ERGEAA\x00\x64\x00\x0a", 10)};
        }
        if (row.isTheReply) {
            return {padded(angles, row.size, '\x7f')};
        }
        return {padded("XXJUNK", row.size, '\x01'), angles};
    });
    Vantor vantor(row.peerAddress, peer.port());

    double azimuth = 0;
    double elevation = 0;
    const auto start = Clock::now();
    EXPECT_EQ(vantor.GetApertureAngles(azimuth, elevation), status::NoError);
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_DOUBLE_EQ(azimuth, 360.0);
    EXPECT_DOUBLE_EQ(elevation, -35.36);

    // The link keeps receiving: an ordinary reply afterwards is read as usual.
    EXPECT_EQ(vantor.GetApertureAngles(azimuth, elevation), status::NoError);
    EXPECT_DOUBLE_EQ(azimuth, 1.0);
    EXPECT_DOUBLE_EQ(elevation, 0.1);
}

TEST_P(OversizedTest, DiscoveryAnswerIsRecordedAndTheWindowKeepsItsLength)
{
    const OversizedRow& row = GetParam();
    // On 0.0.0.0, so that the loopback broadcast reaches it.
    ScriptedPeer peer("0.0.0.0");
    const std::string answer = "ERCQREBIG0001";
    if (row.isTheReply) {
        peer.answer("CQRE", {padded(answer, row.size, 'S')});
    } else {
        peer.answer("CQRE", {padded("XXJUNK", row.size, '\x02'), answer});
    }
    VantorManager manager(loopbackBroadcast, peer.port());

    const auto start = Clock::now();
    EXPECT_EQ(manager.FindVantors(1500, true, nullptr), status::Timeout);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LE(elapsed, 1500ms + slack);
    const auto devices = manager.GetVantors();
    ASSERT_EQ(devices.size(), 1u);
    const std::string serial = devices.begin()->first;
    std::cout << "oversized " << row.size << "-byte datagram: serial of " << serial.size()
              << " bytes recorded" << std::endl;
    if (row.isTheReply) {
        // Cut to what the link's buffer holds, never more than was sent.
        EXPECT_LT(serial.size(), row.size - 6);
        EXPECT_EQ(serial, answer.substr(6) + std::string(serial.size() - 7, 'S'));
    } else {
        EXPECT_EQ(serial, "BIG0001");
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, OversizedTest,
                         testing::Values(OversizedRow{1500, false, "127.0.11.1"},
                                         OversizedRow{1500, true, "127.0.11.2"},
                                         OversizedRow{65507, false, "127.0.11.3"},
                                         OversizedRow{65507, true, "127.0.11.4"}),
                         [](const testing::TestParamInfo<OversizedRow>& info) {
                             return std::to_string(info.param.size) +
                                    (info.param.isTheReply ? "_Reply" : "_JunkBeforeReply");
                         });

} // namespace
