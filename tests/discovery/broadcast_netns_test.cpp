// The discovery client on its default endpoint, 255.255.255.255:4365, against simulated devices.
// Runs only inside the network namespace that broadcast_netns.sh sets up: there the broadcast
// reaches nothing but these devices.

#include <halvik/simulator.h>
#include <halvik/statuscode.h>
#include <halvik/vantormanager.h>

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using halvik::VantorManager;
using halvik::VantorMap;

// Must match the addresses broadcast_netns.sh puts on its interface.
const char* const clientAddress = "10.77.0.1";
const char* const firstDeviceAddress = "10.77.0.2";
const char* const spareAddress = "10.77.0.50";

std::string ownNetworkNamespace()
{
    char link[256] = {};
    const ssize_t n = readlink("/proc/self/ns/net", link, sizeof link - 1);
    return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
}

void run(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class BroadcastTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const char* host = std::getenv("HALVIK_HOST_NETNS");
        if (host == nullptr) {
            GTEST_SKIP() << "runs only inside the namespace made by broadcast_netns.sh";
        }
        // Never broadcast on the host's own network.
        const std::string own = ownNetworkNamespace();
        ASSERT_FALSE(own.empty());
        ASSERT_NE(own, host) << "not inside a network namespace of its own";

        halvik::sim::SimulatorOptions options;
        options.devices = 3;
        options.firstAddress = firstDeviceAddress;
        options.port = 4365;
        simulator = std::make_unique<halvik::sim::Simulator>(options);
        manager = std::make_unique<VantorManager>();
    }

    const VantorMap allThree{
        {"VNT0001", "10.77.0.2"}, {"VNT0002", "10.77.0.3"}, {"VNT0003", "10.77.0.4"}};
    std::unique_ptr<halvik::sim::Simulator> simulator;
    std::unique_ptr<VantorManager> manager;
};

TEST_F(BroadcastTest, FindsEveryDeviceOnTheSegment)
{
    EXPECT_EQ(manager->FindVantors(1500, true, nullptr), halvik::status::Timeout);
    EXPECT_EQ(manager->GetVantors(), allThree);
    for (std::size_t i = 0; i < simulator->size(); ++i) {
        const auto queries = simulator->device(i).requests("CQRE");
        ASSERT_EQ(queries.size(), 2u) << i;
        EXPECT_TRUE(queries[0].viaBroadcast);
        EXPECT_EQ(queries[0].senderAddress, clientAddress);
    }
}

TEST_F(BroadcastTest, ChangesOneDevicesAddress)
{
    ASSERT_EQ(manager->FindVantors(1500, true, nullptr), halvik::status::Timeout);
    ASSERT_EQ(manager->GetVantors(), allThree);

    EXPECT_EQ(manager->SetVantorIP("VNT0002", spareAddress), halvik::status::NoError);
    EXPECT_EQ(simulator->device(1).address(), spareAddress);
    VantorMap changed = allThree;
    changed["VNT0002"] = spareAddress;
    EXPECT_EQ(manager->GetVantors(), changed);

    // The device now answers from its new address.
    manager->ClearVantors();
    EXPECT_EQ(manager->FindVantors(1500, true, nullptr), halvik::status::Timeout);
    EXPECT_EQ(manager->GetVantors(), changed);
}

TEST_F(BroadcastTest, FailedQuerySendLeavesTheClientIdle)
{
    run("ip route del default");
    EXPECT_THROW(manager->FindVantors(1500, false, nullptr), boost::system::system_error);
    // A client left pending would answer busy here, without sending.
    EXPECT_THROW(manager->FindVantors(1500, true, nullptr), boost::system::system_error);
    run(std::string("ip route add default dev v0 src ") + clientAddress);

    EXPECT_EQ(manager->FindVantors(1500, true, nullptr), halvik::status::Timeout);
    EXPECT_EQ(manager->GetVantors(), allThree);
}

} // namespace
