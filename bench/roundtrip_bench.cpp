// Command round trip: halvik::Vantor::GetApertureAngles against a minimal responder, beside the
// machine's limit (a blocking ping-pong on one thread), the least a receive-thread design can
// cost (the reply handed over through a mutex and a condition variable) and a Python script,
// all against the same responder in the same run. Rounds interleave the clients, so that load
// from elsewhere on the machine falls on all of them alike; figures are medians over rounds.

#include "support/geaaresponder.h"
#include "support/stats.h"
#include "support/table.h"

#include <halvik/vantor.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef HALVIK_BENCH_PYTHON_CLIENT
#error "HALVIK_BENCH_PYTHON_CLIENT names the Python client script"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using halvik::bench::GeaaResponder;

constexpr const char* responderAddress = "127.0.70.1";
const char request[] = {'V', 'N', 'G', 'E', 'A', 'A'};

struct Sample
{
    double rate = 0.0; ///< round trips per second
    double p50us = 0.0;
    double p99us = 0.0;
};

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

Sample summarise(const std::vector<double>& latenciesUs, double elapsedSeconds)
{
    Sample s;
    s.rate = elapsedSeconds > 0.0 ? static_cast<double>(latenciesUs.size()) / elapsedSeconds : 0.0;
    s.p50us = halvik::bench::percentile(latenciesUs, 0.50);
    s.p99us = halvik::bench::percentile(latenciesUs, 0.99);
    return s;
}

template <typename RoundTrip> Sample measure(RoundTrip&& roundTrip, int iterations, int warmup)
{
    for (int i = 0; i < warmup; ++i) {
        roundTrip();
    }
    std::vector<double> latencies(static_cast<std::size_t>(iterations));
    const auto started = Clock::now();
    for (auto& latency : latencies) {
        const auto t0 = Clock::now();
        roundTrip();
        latency = microseconds(Clock::now() - t0);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    return summarise(latencies, elapsed);
}

sockaddr_in endpointOf(const GeaaResponder& responder)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(responder.port());
    ::inet_pton(AF_INET, responder.address().c_str(), &to.sin_addr);
    return to;
}

int openClientSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    // A lost reply must not hang the benchmark; the limit costs nothing per call.
    timeval timeout{0, 500000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

/// (a) Send and receive on the caller's thread with blocking calls: the machine's limit.
class RawClient
{
public:
    explicit RawClient(const GeaaResponder& responder)
        : fd(openClientSocket())
        , to(endpointOf(responder))
    {}
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void roundTrip()
    {
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (::recv(fd, buffer, sizeof buffer, 0) < 6) {
            ++failures;
        }
    }

    int failures = 0;

private:
    int fd;
    sockaddr_in to;
    char buffer[1024];
};

/// (b) The caller sends and waits on a condition variable; a receive thread blocks in recv and
/// hands the reply over under a mutex. The same exchange as (a) with one thread hand-off.
class HandoffClient
{
public:
    explicit HandoffClient(const GeaaResponder& responder)
        : fd(openClientSocket())
        , to(endpointOf(responder))
    {
        timeval none{0, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        receiver = std::thread([this] { receive(); });
    }
    ~HandoffClient()
    {
        stopping = true;
        // A datagram to its own port wakes the blocking receive.
        sockaddr_in self{};
        socklen_t length = sizeof self;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length);
        ::sendto(fd, "XXSTOP", 6, 0, reinterpret_cast<sockaddr*>(&self), length);
        receiver.join();
        ::close(fd);
    }
    HandoffClient(const HandoffClient&) = delete;
    HandoffClient& operator=(const HandoffClient&) = delete;

    void roundTrip()
    {
        std::unique_lock<std::mutex> lock(mutex);
        pending = true;
        // Sent under the lock, as ours does, so the reply cannot be handed over before the wait.
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        if (!replied.wait_until(lock, deadline, [this] { return !pending; })) {
            pending = false;
            ++failures;
        }
    }

    int failures = 0;

private:
    void receive()
    {
        char buffer[1024];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (stopping) {
                return;
            }
            if (n < 6) {
                continue;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                pending = false;
            }
            replied.notify_one();
        }
    }

    int fd;
    sockaddr_in to;
    std::mutex mutex;
    std::condition_variable replied;
    bool pending = false;
    std::atomic<bool> stopping{false};
    std::thread receiver;
};

/// (c) The Python script; its own clock times each round trip.
Sample runPython(const GeaaResponder& responder, int iterations, int warmup, bool& failed)
{
    const std::string command = std::string("python3 '") + HALVIK_BENCH_PYTHON_CLIENT + "' " +
                                responder.address() + " " + std::to_string(responder.port()) + " " +
                                std::to_string(iterations) + " " + std::to_string(warmup);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        failed = true;
        return {};
    }
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(iterations));
    double elapsedSeconds = 0.0;
    char line[64];
    bool first = true;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const double ns = std::strtod(line, nullptr);
        if (first) {
            elapsedSeconds = ns / 1e9;
            first = false;
        } else {
            latencies.push_back(ns / 1e3);
        }
    }
    failed = ::pclose(pipe) != 0 || latencies.size() != static_cast<std::size_t>(iterations);
    return summarise(latencies, elapsedSeconds);
}

std::string describe(const std::vector<Sample>& samples)
{
    std::vector<double> rates;
    std::vector<double> p50;
    std::vector<double> p99;
    for (const Sample& s : samples) {
        rates.push_back(s.rate);
        p50.push_back(s.p50us);
        p99.push_back(s.p99us);
    }
    using namespace halvik::bench;
    return grouped(median(rates)) + " /s, p50 " + fixed(median(p50), 1) + " us, p99 " +
           fixed(median(p99), 1) + " us";
}

/// Median over rounds of ours' rate divided by the other's rate in the same round.
double pairedRatio(const std::vector<Sample>& ours, const std::vector<Sample>& other)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.size() && i < other.size(); ++i) {
        ratios.push_back(other[i].rate > 0.0 ? ours[i].rate / other[i].rate : 0.0);
    }
    return halvik::bench::median(ratios);
}

int argument(int argc, char** argv, const std::string& name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == name) {
            return std::stoi(argv[i + 1]);
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace halvik::bench;
    const int rounds = argument(argc, argv, "--rounds", 7);
    const int iterations = argument(argc, argv, "--iterations", 20000);
    const int pythonIterations = argument(argc, argv, "--python-iterations", iterations / 2);
    const int warmup = iterations / 10;

    GeaaResponder responder(responderAddress);
    RawClient raw(responder);
    HandoffClient handoff(responder);
    halvik::Vantor vantor(responder.address(), responder.port());
    int oursFailures = 0;
    bool pythonFailed = false;

    std::vector<Sample> rawSamples, handoffSamples, oursSamples, pythonSamples;
    for (int round = 0; round < rounds; ++round) {
        std::cerr << "round trip: round " << round + 1 << " of " << rounds << std::endl;
        rawSamples.push_back(measure([&] { raw.roundTrip(); }, iterations, warmup));
        handoffSamples.push_back(measure([&] { handoff.roundTrip(); }, iterations, warmup));
        oursSamples.push_back(measure(
            [&] {
                double azimuth = 0.0;
                double elevation = 0.0;
                if (vantor.GetApertureAngles(azimuth, elevation) != 0) {
                    ++oursFailures;
                }
            },
            iterations, warmup));
        bool failed = false;
        pythonSamples.push_back(runPython(responder, pythonIterations, warmup, failed));
        pythonFailed = pythonFailed || failed;
    }

    printRow("Round trip (a): blocking socket, one thread", describe(rawSamples), "machine limit");
    printRow("Round trip (b): receive thread, mutex + condition variable", describe(handoffSamples),
             "least cost of the design");
    printRow("Round trip ours: Vantor::GetApertureAngles", describe(oursSamples));
    printRow("Round trip (c): Python socket module", describe(pythonSamples),
             pythonFailed ? "python3 run FAILED" : "");
    const double vsRaw = pairedRatio(oursSamples, rawSamples);
    const double vsHandoff = pairedRatio(oursSamples, handoffSamples);
    const double vsPython = pairedRatio(oursSamples, pythonSamples);
    printRow("Round trips/s ours / (a)", fixed(vsRaw, 2));
    printRow("Round trips/s ours / (b)", fixed(vsHandoff, 2), ">= 0.9", verdict(vsHandoff >= 0.9));
    printRow("Round trips/s ours / (c)", fixed(vsPython, 1), ">= 5",
             verdict(!pythonFailed && vsPython >= 5.0));
    const int failures = raw.failures + handoff.failures + oursFailures;
    if (failures > 0) {
        printRow("Round trip failures (time-outs, short replies)", std::to_string(failures), "0",
                 verdict(false));
    }
    return 0;
}
