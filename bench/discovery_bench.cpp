// Discovery at scale: 100 and 1000 simulated devices, spread over several /24s of loopback and
// sharing one port, answer one blocking FindVantors (1500 ms window, loopback broadcast). A
// second thread polls the client's map every millisecond to see when the last answer landed.

#include "support/arguments.h"
#include "support/stats.h"
#include "support/table.h"

#include <halvik/simulator.h>
#include <halvik/vantormanager.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned windowMs = 1500;
constexpr int firstSubnet = 71; // 127.0.71.x, 127.0.72.x, ...

struct Run
{
    std::size_t found = 0;
    /// From the call of FindVantors until the map last grew.
    double lastAnswerMs = 0.0;
    /// Devices heard before the query was repeated (1000 ms).
    std::size_t foundBeforeRequery = 0;
    int status = 0;
};

double msSince(Clock::time_point start, Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(t - start).count();
}

Run discover(int devices, int subnets)
{
    std::vector<std::unique_ptr<halvik::sim::Simulator>> simulators;
    const int perSubnet = (devices + subnets - 1) / subnets;
    std::uint16_t port = 0;
    for (int k = 0, left = devices; left > 0; ++k, left -= perSubnet) {
        halvik::sim::SimulatorOptions options;
        options.devices = std::min(perSubnet, left);
        options.firstAddress = "127.0." + std::to_string(firstSubnet + k) + ".1";
        options.port = port; // 0 for the first: it takes a free port, the others share it
        options.serialPrefix = "B" + std::to_string(k) + "-";
        options.listenBroadcast = true;
        simulators.push_back(std::make_unique<halvik::sim::Simulator>(options));
        port = simulators.front()->port();
    }

    halvik::VantorManager manager("127.255.255.255", port);
    Run run;
    std::atomic<bool> finished{false};
    const auto started = Clock::now();
    const auto requeryAt = started + std::chrono::milliseconds(1000);
    Clock::time_point lastGrowth = started;
    std::thread poller([&] {
        std::size_t seen = 0;
        while (!finished) {
            const std::size_t size = manager.GetVantors().size();
            const auto now = Clock::now();
            if (size != seen) {
                seen = size;
                lastGrowth = now;
            }
            if (now < requeryAt) {
                run.foundBeforeRequery = size;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    run.status = manager.FindVantors(windowMs, true, nullptr);
    finished = true;
    poller.join();
    run.found = manager.GetVantors().size();
    run.lastAnswerMs = msSince(started, lastGrowth);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace halvik::bench;
    const int runs = argument(argc, argv, "--runs", 3);

    // A thousand devices hold a thousand sockets and more.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    struct Scale
    {
        int devices;
        int subnets;
    };
    for (const Scale scale : {Scale{100, 4}, Scale{1000, 8}}) {
        std::vector<double> found;
        std::vector<double> last;
        std::vector<double> early;
        std::size_t fewest = static_cast<std::size_t>(scale.devices);
        for (int r = 0; r < runs; ++r) {
            std::cerr << "discovery: " << scale.devices << " devices, run " << r + 1 << " of "
                      << runs << std::endl;
            const Run run = discover(scale.devices, scale.subnets);
            found.push_back(static_cast<double>(run.found));
            last.push_back(run.lastAnswerMs);
            early.push_back(static_cast<double>(run.foundBeforeRequery));
            fewest = std::min(fewest, run.found);
        }
        const std::string name = "Discovery, " + std::to_string(scale.devices) + " devices on " +
                                 std::to_string(scale.subnets) + " /24s";
        printRow(name + ": found in the 1500 ms window (fewest of " + std::to_string(runs) + ")",
                 std::to_string(fewest) + " of " + std::to_string(scale.devices),
                 "all " + std::to_string(scale.devices),
                 verdict(fewest == static_cast<std::size_t>(scale.devices)));
        printRow(name + ": found before the repeated query (median)",
                 fixed(median(early), 0) + " of " + std::to_string(scale.devices));
        printRow(name + ": time until the last answer (median)", fixed(median(last), 1) + " ms");
    }
    return 0;
}
