// Load: a command client that keeps working under a flood of junk datagrams, and one discovery
// that hears a thousand devices answering at the same moment.

#include <halvik/simulator.h>
#include <halvik/statuscode.h>
#include <halvik/vantor.h>
#include <halvik/vantormanager.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using boost::asio::ip::udp;
using halvik::Vantor;
using halvik::VantorManager;
using halvik::sim::Simulator;
using halvik::sim::SimulatorOptions;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

namespace {

namespace status = halvik::status;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/// Datagrams the kernel dropped because this local UDP port's receive queue was full.
long kernelDrops(std::uint16_t port)
{
    std::ifstream udp("/proc/net/udp");
    std::string line;
    std::getline(udp, line);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote;
        fields >> slot >> local;
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0) {
            continue;
        }
        std::string field;
        std::vector<std::string> rest;
        while (fields >> field) {
            rest.push_back(field);
        }
        return rest.empty() ? 0 : std::stol(rest.back());
    }
    return -1;
}

/// Hostile traffic for a command client: random bytes of every length from 0 to 1500, and
/// well-formed datagrams the client must ignore (other clients' answers, requests, replies to
/// codes never asked). None carries the code of a command the client sends: a datagram with
/// that code would be taken as the device's reply, as any other host on the segment can make
/// happen (the protocol has no authentication).
std::string junkDatagram(std::mt19937& random)
{
    static const char* const foreign[] = {"ERCQRE", "ERSIPC", "EESIPC",     "EAPPPP", "VNGEAA",
                                          "VNHOME", "EAXXXX", "ER\0\0\0\0", "EEZZZZ"};
    const unsigned pick = random() % 8;
    std::string bytes;
    if (pick < 3) {
        bytes = std::string(foreign[random() % std::size(foreign)], 6);
    }
    const std::size_t length = random() % (pick == 0 ? 1501 : 64);
    while (bytes.size() < length) {
        bytes.push_back(static_cast<char>(random() & 0xff));
    }
    static const char* const asked[] = {"GEAA", "TRAA", "SEAC"};
    for (const char* code : asked) {
        if (bytes.size() >= 6 && bytes.compare(2, 4, code) == 0) {
            bytes[2] = 'x';
        }
    }
    return bytes;
}

TEST(ReliabilityLoad, CommandClientUnderAJunkFloodKeepsEveryStatusRight)
{
    SimulatorOptions options;
    options.devices = 1;
    options.firstAddress = "127.0.13.1";
    options.listenBroadcast = false;
    options.readbackNoise = 0.0;
    Simulator simulator(options);
    auto& device = simulator.device(0);
    Vantor vantor(device.address(), simulator.port());

    // The client's own port, as the device saw it on the greeting.
    ASSERT_TRUE(device.waitForRequests("PPPP", 1, 5s));
    const std::uint16_t clientPort = device.requests("PPPP").front().senderPort;
    ASSERT_NE(clientPort, 0);

    // One running number for every transaction: the acceleration only grows, so no move is
    // ever braked harder than it was planned and the axes stay between the targets (0 to 9).
    int next = 0;
    auto transaction = [&](bool& angleInRange) {
        const int i = next++;
        angleInRange = true;
        switch (i % 3) {
        case 0:
            return vantor.TrackApertureAngles(i % 10, (i / 10) % 10, 10);
        case 1:
            return vantor.SetAcceleration(10000 + i);
        default: {
            double azimuth = -1;
            double elevation = -1;
            const int result = vantor.GetApertureAngles(azimuth, elevation);
            angleInRange =
                result != 0 || (azimuth >= 0 && azimuth <= 9 && elevation >= 0 && elevation <= 9);
            return result;
        }
        }
    };
    // Warm-up, so that the figures below see a client in its steady state.
    for (int i = 0; i < 100; ++i) {
        bool inRange = true;
        ASSERT_EQ(transaction(inRange), status::NoError);
    }
    const long rssBefore = residentKiB();
    const long dropsBefore = kernelDrops(clientPort);

    constexpr long floodTarget = 100000;
    constexpr int transactionTarget = 1000;
    std::atomic<long> sent{0};
    std::atomic<bool> done{false};
    std::thread flood([&] {
        boost::asio::io_context io;
        udp::socket socket(io, udp::endpoint(udp::v4(), 0));
        const udp::endpoint target(boost::asio::ip::make_address_v4("127.0.0.1"), clientPort);
        std::mt19937 random(4365);
        // A burst of floodTarget datagrams: a flood that went on while time-outs stretch the run
        // would leave a slow (sanitized) receive thread ever further behind, dropping ever more
        // replies, and measure the machine instead of the client.
        while (!done && sent < floodTarget) {
            boost::system::error_code ignored;
            socket.send_to(boost::asio::buffer(junkDatagram(random)), target, 0, ignored);
            ++sent;
        }
    });

    std::map<int, int> statuses;
    std::vector<Ms> answered;
    int outOfRange = 0;
    bool earlyTimeout = false;
    int count = 0;
    const auto floodStart = Clock::now();
    // At least 1,000 transactions, and as many more as it takes for the flood to reach its size.
    while (count < transactionTarget || sent < floodTarget) {
        bool inRange = true;
        const auto start = Clock::now();
        const int result = transaction(inRange);
        const auto elapsed = std::chrono::duration_cast<Ms>(Clock::now() - start);
        ++statuses[result];
        if (result == status::Timeout && elapsed < 500ms) {
            earlyTimeout = true;
        }
        if (result == status::NoError) {
            answered.push_back(elapsed);
        }
        outOfRange += inRange ? 0 : 1;
        ++count;
    }
    done = true;
    flood.join();
    const auto floodTime = std::chrono::duration_cast<Ms>(Clock::now() - floodStart);
    const long drops = kernelDrops(clientPort) - dropsBefore;

    // Let the receive thread drain what is still queued, then look at the memory.
    std::this_thread::sleep_for(200ms);
    bool inRange = true;
    EXPECT_EQ(transaction(inRange), status::NoError) << "responsive after the flood";
    const long rssAfter = residentKiB();

    std::sort(answered.begin(), answered.end());
    const Ms median = answered.empty() ? Ms(0) : answered[answered.size() / 2];
    const Ms slowest = answered.empty() ? Ms(0) : answered.back();
    std::cout << "load-flood junk " << sent << " datagrams in " << floodTime.count() << " ms, "
              << count << " transactions: " << statuses[status::NoError] << " status 0, "
              << statuses[status::Timeout] << " status 254; kernel dropped " << drops
              << " datagrams at the client; answered in median " << median.count()
              << " ms, slowest " << slowest.count() << " ms; RSS " << rssBefore << " KiB -> "
              << rssAfter << " KiB" << std::endl;

    EXPECT_GE(sent, floodTarget);
    EXPECT_GE(count, transactionTarget);
    for (const auto& [code, n] : statuses) {
        EXPECT_TRUE(code == status::NoError || code == status::Timeout || code == status::Busy)
            << n << " transactions ended with " << halvik::statusCodeText(code);
    }
    // A time-out is right only when the reply was lost: the kernel dropped datagrams at the
    // client's full receive queue, and the reply may have been one of them. Busy follows a
    // time-out when the lost transaction's late reply holds the lock at the next call.
    const int failed = statuses[status::Timeout] + statuses[status::Busy];
    if (failed > 0) {
        EXPECT_GT(drops, 0) << "time-outs although the kernel dropped nothing";
    }
    EXPECT_LE(statuses[status::Busy], statuses[status::Timeout]);
    EXPECT_LE(failed, count / 10);
    EXPECT_FALSE(earlyTimeout);
    EXPECT_EQ(outOfRange, 0) << "angles read back that the device never had";
    if (sanitized) {
        // The sanitizers keep freed memory (ASan's quarantine) and shadow memory of their own:
        // the resident size says nothing about our allocations there; LeakSanitizer does.
        std::cout << "load-flood memory growth not asserted in a sanitizer build" << std::endl;
    } else {
        EXPECT_LT(rssAfter - rssBefore, 8 * 1024) << "resident memory grew under the flood";
    }
}

TEST(ReliabilityLoad, ThousandDevicesAnsweringOneQueryAreAllFoundInTheWindow)
{
    constexpr int deviceCount = 1000;
    // One socket per device: make sure the process may hold them all.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 2 * deviceCount) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 2 * deviceCount);
        setrlimit(RLIMIT_NOFILE, &files);
    }
    SimulatorOptions options;
    options.devices = deviceCount;
    options.firstAddress = "127.1.0.1"; // up to 127.1.3.232
    options.serialPrefix = "LD";
    Simulator simulator(options);
    VantorManager manager("127.255.255.255", simulator.port());

    std::atomic<bool> running{true};
    std::atomic<long> allFoundAfterMs{-1};
    const auto start = Clock::now();
    std::thread watcher([&] {
        while (running && allFoundAfterMs < 0) {
            if (manager.GetVantors().size() >= static_cast<std::size_t>(deviceCount)) {
                allFoundAfterMs = std::chrono::duration_cast<Ms>(Clock::now() - start).count();
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    const int result = manager.FindVantors(1500, true, nullptr);
    const auto elapsed = std::chrono::duration_cast<Ms>(Clock::now() - start);
    running = false;
    watcher.join();

    const auto devices = manager.GetVantors();
    std::cout << "load-discovery " << devices.size() << " of " << deviceCount
              << " devices found, all of them " << allFoundAfterMs << " ms after the query; "
              << "window ended after " << elapsed.count() << " ms" << std::endl;
    EXPECT_EQ(result, status::Timeout);
    EXPECT_GE(elapsed, 1500ms);
    ASSERT_EQ(devices.size(), static_cast<std::size_t>(deviceCount));
    for (std::size_t i = 0; i < simulator.size(); ++i) {
        auto& device = simulator.device(i);
        const auto found = devices.find(device.serial());
        ASSERT_NE(found, devices.end()) << device.serial();
        EXPECT_EQ(found->second, device.address());
    }
}

} // namespace
