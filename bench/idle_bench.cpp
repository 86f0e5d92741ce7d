// Idle cost: the real quorvel (with a simulated device) and vantor_manager (loopback broadcast,
// a port where nothing answers) run offscreen side by side; after a warm-up, the CPU each uses
// over the idle span is read from /proc, and their peak resident memory from wait4 at the end.

#include "support/arguments.h"
#include "support/childprocess.h"
#include "support/table.h"

#include <halvik/simulator.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#ifndef HALVIK_QUORVEL_PROGRAM
#error "HALVIK_QUORVEL_PROGRAM and HALVIK_MANAGER_PROGRAM name the programs"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* deviceAddress = "127.0.81.2";

} // namespace

int main(int argc, char** argv)
{
    using namespace halvik::bench;
    const int idleSeconds = argument(argc, argv, "--seconds", 10);
    const int warmupSeconds = argument(argc, argv, "--warmup", 3);

    halvik::sim::DeviceOptions options;
    options.address = deviceAddress;
    options.port = 4365;
    options.serial = "BENCH0002";
    const auto device = ChildProcess::forkSimulatedDevice(options);

    const std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen"};
    const std::string port = std::to_string(halvik::sim::Simulator::freeUdpPort());
    struct Program
    {
        std::string name;
        std::string description;
        std::unique_ptr<ChildProcess> process;
        double cpu0 = 0.0;
        double cpu1 = 0.0;
    };
    Program programs[] = {
        {"quorvel", std::string("quorvel ") + deviceAddress + " (simulated device)",
         ChildProcess::spawn(HALVIK_QUORVEL_PROGRAM, {deviceAddress}, environment)},
        {"vantor_manager", "vantor_manager --broadcast 127.255.255.255 --port <free>",
         ChildProcess::spawn(HALVIK_MANAGER_PROGRAM,
                             {"--broadcast", "127.255.255.255", "--port", port}, environment)},
    };

    std::cerr << "idle: " << warmupSeconds << " s warm-up, then " << idleSeconds << " s idle"
              << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(warmupSeconds));
    for (Program& p : programs) {
        p.cpu0 = p.process->cpuSeconds();
    }
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    for (Program& p : programs) {
        p.cpu1 = p.process->cpuSeconds();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();

    for (Program& p : programs) {
        const bool alive = p.process->running();
        const ChildProcess::Usage usage = p.process->stop();
        const double share = (p.cpu1 - p.cpu0) / wall;
        const std::string span = " over " + std::to_string(idleSeconds) + " s idle";
        if (!alive) {
            printRow("Idle: " + p.description + ": CPU" + span, "ended before the span did",
                     "< 1 % of a core", verdict(false));
            continue;
        }
        printRow("Idle: " + p.description + ": CPU" + span,
                 fixed(100.0 * share, 2) + " % of a core (" + fixed(p.cpu1 - p.cpu0, 2) + " CPU s)",
                 "< 1 % of a core", verdict(share < 0.01));
        printRow("Idle: " + p.name + ": peak resident memory",
                 fixed(static_cast<double>(usage.maxResidentKb) / 1024.0, 1) + " MiB");
    }
    return 0;
}
