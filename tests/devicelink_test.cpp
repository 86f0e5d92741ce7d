#include "scriptedpeer.h"

#include <halvik/statuscode.h>
#include <halvik/vantorbase.h>

#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using halvik::LinkMessage;
using halvik::test::ScriptedPeer;

namespace {

/// A client that records what the link hands it and can be told to misbehave.
class RecordingLink : public halvik::VantorBase
{
public:
    RecordingLink(const std::string& address, std::uint16_t remotePort, std::uint16_t localPort = 0)
        : VantorBase(address, remotePort, localPort)
    {
        start();
    }
    ~RecordingLink() override { shutdown(); }

    using VantorBase::failPendingReceive;
    using VantorBase::sendMessage;

    std::vector<LinkMessage> messages() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 2000ms) const
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, timeout, [&] { return received.size() >= count; });
    }

    std::atomic<bool> overlapSeen{false};
    std::atomic<int> holdEachMs{0};
    void throwOn(const std::string& header)
    {
        std::lock_guard<std::mutex> lock(mutex);
        throwOnHeader = header;
    }

protected:
    void handleMessage(LinkMessage message) override
    {
        if (inside.exchange(true)) {
            overlapSeen = true;
        }
        if (holdEachMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdEachMs));
        }
        inside = false;
        bool fail;
        {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(message);
            fail = !throwOnHeader.empty() && message.header == throwOnHeader;
        }
        cv.notify_all();
        if (fail) {
            throw std::logic_error("handler failed on purpose");
        }
    }

private:
    mutable std::mutex mutex;
    mutable std::condition_variable cv;
    std::vector<LinkMessage> received;
    std::string throwOnHeader;
    std::atomic<bool> inside{false};
};

/// A link that its own handler destroys.
class SelfDestroyingLink : public halvik::VantorBase
{
public:
    SelfDestroyingLink(const std::string& address, std::uint16_t port, std::atomic<bool>& done)
        : VantorBase(address, port, 0)
        , done(done)
    {
        start();
    }
    ~SelfDestroyingLink() override { shutdown(); }

protected:
    void handleMessage(LinkMessage) override
    {
        std::atomic<bool>& flag = done;
        delete this;
        flag = true;
    }

private:
    std::atomic<bool>& done;
};

struct LinkTest : ::testing::Test
{
    ScriptedPeer peer;
    std::unique_ptr<RecordingLink> link;

    void SetUp() override
    {
        link = std::make_unique<RecordingLink>("127.0.0.1", peer.port());
        ASSERT_TRUE(peer.waitForCount(1));
    }
    void send(const std::string& bytes) { peer.sendToLastSender(bytes); }
};

} // namespace

TEST_F(LinkTest, GreetingIsFirstDatagramAndGoesToRemoteEndpoint)
{
    const auto got = peer.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, "VNPPPP");
    EXPECT_EQ(got[0].sender.port(), link->localPort());
    link->sendMessage("VNHOME");
    ASSERT_TRUE(peer.waitForCount(2));
    EXPECT_EQ(peer.received()[1].bytes, "VNHOME");
}

TEST_F(LinkTest, DatagramsAreDecodedByLength)
{
    struct Case
    {
        std::string datagram;
        bool dispatched;
        std::string header;
        std::size_t payloadLength;
    };
    const std::string zeros("ERGEAA\0\0\x01\0", 10);
    const Case cases[] = {
        {"EAHOME", true, "EAHOME", 0},
        {"EAHOM", false, "", 0},
        {zeros, true, "ERGEAA", 4},
        {"ER" + std::string("GEAA") + std::string(1017, 'x'), true, "ERGEAA", 1017},
        {"", false, "", 0},
    };
    std::size_t expected = 0;
    for (const auto& c : cases) {
        send(c.datagram);
        if (c.dispatched) {
            ++expected;
            ASSERT_TRUE(link->waitFor(expected)) << "datagram of " << c.datagram.size();
            const auto m = link->messages().back();
            EXPECT_EQ(m.header, c.header);
            EXPECT_EQ(m.payload.size(), c.payloadLength);
            EXPECT_EQ(m.payload, c.datagram.substr(6));
            EXPECT_EQ(m.senderAddress, "127.0.0.1");
        }
    }
    // The short datagrams were dropped while the link kept receiving.
    send("EEHOME\x04");
    ASSERT_TRUE(link->waitFor(expected + 1));
    EXPECT_EQ(link->messages().size(), expected + 1);
    EXPECT_EQ(link->messages().back().payload, "\x04");
}

TEST_F(LinkTest, LongDatagramIsCutAt1023Bytes)
{
    send("ERGEAA" + std::string(1494, 'y'));
    ASSERT_TRUE(link->waitFor(1));
    EXPECT_EQ(link->messages()[0].payload.size(), 1017u);
}

TEST_F(LinkTest, DatagramsSentTogetherAreHandledOneAfterTheOther)
{
    link->holdEachMs = 20;
    for (int i = 0; i < 5; ++i) {
        send("ERGEAA" + std::to_string(i));
    }
    ASSERT_TRUE(link->waitFor(5));
    EXPECT_FALSE(link->overlapSeen);
    const auto got = link->messages();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(got[i].payload, std::to_string(i));
    }
}

TEST_F(LinkTest, HandlerExceptionIsReportedAndLinkKeepsReceiving)
{
    link->throwOn("EEBOOM");
    testing::internal::CaptureStderr();
    send("EEBOOM");
    ASSERT_TRUE(link->waitFor(1));
    send("EAHOME");
    ASSERT_TRUE(link->waitFor(2));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("handler failed on purpose"), std::string::npos) << err;
    EXPECT_EQ(link->messages()[1].header, "EAHOME");
}

TEST_F(LinkTest, ReceiveFailureIsReportedAndReceiveIsArmedAgain)
{
    testing::internal::CaptureStderr();
    link->failPendingReceive();
    std::this_thread::sleep_for(100ms);
    send("EAHOME");
    ASSERT_TRUE(link->waitFor(1));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("VantorBase: Socket recieve error. Socket error code "), std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

TEST(Link, DatagramsToAClosedPortDoNotFailTheReceive)
{
    // The device is switched off: its port is closed, so each datagram brings back an ICMP
    // port-unreachable, which Winsock would report as a failed receive.
    std::uint16_t closedPort;
    {
        ScriptedPeer probe;
        closedPort = probe.port();
    }
    testing::internal::CaptureStderr();
    RecordingLink link("127.0.0.1", closedPort);
    for (int i = 0; i < 5; ++i) {
        link.sendMessage("VNGEAA");
    }
    std::this_thread::sleep_for(200ms);
    ScriptedPeer answering;
    answering.sendTo("EAGEAA", {boost::asio::ip::make_address_v4("127.0.0.1"), link.localPort()});
    ASSERT_TRUE(link.waitFor(1));
    EXPECT_EQ(link.messages()[0].header, "EAGEAA");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("recieve error"), std::string::npos) << err;
}

TEST(Link, BadAddressThrowsBeforeAnythingIsSent)
{
    ScriptedPeer peer;
    for (const char* text : {"", "127.0.0.", "localhost", "127.0.0.1.5", "1.2.3.256"}) {
        EXPECT_THROW(RecordingLink(text, peer.port()), boost::system::system_error) << text;
    }
    EXPECT_FALSE(peer.waitForCount(1, 100ms));
}

TEST(Link, NonZeroLocalPortIsBoundBeforeGreeting)
{
    ScriptedPeer peer;
    // Borrow a free port from the system, then hand it to the link.
    std::uint16_t wanted;
    {
        ScriptedPeer probe;
        wanted = probe.port();
    }
    RecordingLink link("127.0.0.1", peer.port(), wanted);
    ASSERT_TRUE(peer.waitForCount(1));
    EXPECT_EQ(peer.received()[0].sender.port(), wanted);
    EXPECT_EQ(link.localPort(), wanted);
}

TEST(Link, BindToPortInUseThrows)
{
    ScriptedPeer peer;
    ScriptedPeer occupant("0.0.0.0");
    EXPECT_THROW(RecordingLink("127.0.0.1", peer.port(), occupant.port()),
                 boost::system::system_error);
}

TEST(Link, LoopbackBroadcastReachesPeerOnAnyAddress)
{
    ScriptedPeer peer("0.0.0.0");
    RecordingLink link("127.255.255.255", peer.port());
    ASSERT_TRUE(peer.waitForCount(1));
    EXPECT_EQ(peer.received()[0].bytes, "VNPPPP");
    peer.sendToLastSender("ERCQRE123");
    ASSERT_TRUE(link.waitFor(1));
    EXPECT_EQ(link.messages()[0].senderAddress, "127.0.0.1");
}

TEST(Link, CreatedAndDestroyedManyTimes)
{
    ScriptedPeer peer;
    for (int i = 0; i < 200; ++i) {
        RecordingLink link("127.0.0.1", peer.port());
        if (i % 50 == 0) {
            // A reply that may still be in flight while the link goes away.
            peer.sendTo("EAHOME", {boost::asio::ip::address_v4::loopback(), link.localPort()});
        }
    }
    // Greetings may be dropped by a busy loopback; what matters is no crash, leak or hang.
    EXPECT_TRUE(peer.waitForCount(1));
}

TEST(Link, DestroyedFromItsOwnReceiveThread)
{
    ScriptedPeer peer;
    std::atomic<bool> done{false};
    new SelfDestroyingLink("127.0.0.1", peer.port(), done);
    ASSERT_TRUE(peer.waitForCount(1));
    peer.sendToLastSender("EAHOME");
    for (int i = 0; i < 200 && !done; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(done);
    std::this_thread::sleep_for(50ms); // let the detached thread finish before the test ends
}

TEST(StatusCodeText, RendersEveryCode)
{
    const std::pair<int, const char*> cases[] = {
        {0, "Error 0x00: No Error."},
        {1, "Error 0x01: Invalid Argument Length"},
        {2, "Error 0x02: Argument Out Of Range"},
        {3, "Error 0x03: Not Ready"},
        {4, "Error 0x04: Not Homed"},
        {5, "Error 0x05: Invalid Argument"},
        {6, "Error 0x06: Unknown Command"},
        {7, "Error 0x07: Invalid Command"},
        {8, "Error 0x08: Scan Too Sparse"},
        {9, "Error 0x09: Unknown Error Code"},
        {100, "Error 0x64: Unknown Error Code"},
        {251, "Error 0xfb: Unknown Error Code"},
        {252, "Error 0xfc: Invalid Callback"},
        {253, "Error 0xfd: Vantor driver busy"},
        {254, "Error 0xfe: Timeout when attempting to communicate with vantor."},
        {255, "Error 0xff: Other Error"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(halvik::statusCodeText(code), text) << code;
    }
}
