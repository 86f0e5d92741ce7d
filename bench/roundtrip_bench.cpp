// Command round trip: halvik::Vantor::GetApertureAngles against a minimal responder, beside the
// machine's limit (a blocking ping-pong on one thread), the least a receive-thread design can
// cost (the reply handed over through a mutex and a condition variable) and a Python script,
// all against the same responder in the same run. Many short rounds interleave the four clients,
// so that load from elsewhere on the machine falls on all of them alike; rates and ratios are
// medians over rounds, latencies percentiles over every round trip. The client CPU per round
// trip (process CPU without the responder's thread) is the figure that load disturbs least.

#include "support/arguments.h"
#include "support/geaaresponder.h"
#include "support/stats.h"
#include "support/table.h"

#include <halvik/vantor.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <netinet/in.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
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

/// One client's figures from one round.
struct Round
{
    double rate = 0.0;      ///< round trips per second
    double cpuUs = 0.0;     ///< client CPU per round trip, microseconds
    std::vector<double> us; ///< each round trip, microseconds
};

/// One client's rounds.
struct Series
{
    std::vector<double> rates;
    std::vector<double> cpuUs;
    std::vector<double> latencies;
    int failures = 0;

    void add(const Round& r)
    {
        rates.push_back(r.rate);
        cpuUs.push_back(r.cpuUs);
        latencies.insert(latencies.end(), r.us.begin(), r.us.end());
    }
};

double processCpuSeconds()
{
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

template <typename RoundTrip>
Round measure(RoundTrip&& roundTrip, int iterations, GeaaResponder& responder)
{
    Round r;
    r.us.resize(static_cast<std::size_t>(iterations));
    const double cpu0 = processCpuSeconds() - responder.cpuSeconds();
    const auto started = Clock::now();
    for (double& latency : r.us) {
        const auto t0 = Clock::now();
        roundTrip();
        latency = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const double cpu = processCpuSeconds() - responder.cpuSeconds() - cpu0;
    r.rate = iterations / elapsed;
    r.cpuUs = cpu * 1e6 / iterations;
    return r;
}

sockaddr_in endpointOf(const GeaaResponder& responder)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(responder.port());
    ::inet_pton(AF_INET, responder.address().c_str(), &to.sin_addr);
    return to;
}

/// A UDP socket bound to 127.0.0.1:0, so that a receive can start before the first send.
int openClientSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error(std::string("client socket: ") + std::strerror(errno));
    }
    return fd;
}

/// (a) Send and receive on the caller's thread with blocking calls: the machine's limit.
class RawClient
{
public:
    explicit RawClient(const GeaaResponder& responder)
        : fd(openClientSocket())
        , to(endpointOf(responder))
    {
        // A lost reply must not hang the benchmark; the limit costs nothing per call.
        timeval timeout{0, 500000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool roundTrip()
    {
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return ::recv(fd, buffer, sizeof buffer, 0) >= 6;
    }

private:
    int fd;
    sockaddr_in to;
    char buffer[1024];
};

/// (b) The caller sends and waits on a condition variable; a receive thread blocks in recv and
/// hands the reply over under a mutex, notifying after it unlocked. The same exchange as (a)
/// with one thread hand-off, as cheap as such a hand-off gets.
class HandoffClient
{
public:
    /// spin: how long the caller watches for its reply before it blocks (0: blocks at once).
    explicit HandoffClient(const GeaaResponder& responder,
                           std::chrono::microseconds spin = std::chrono::microseconds(0))
        : fd(openClientSocket())
        , to(endpointOf(responder))
        , spin(spin)
        , receiver([this] { receive(); })
    {}
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

    bool roundTrip()
    {
        std::unique_lock<std::mutex> lock(mutex);
        pending = true;
        // Sent under the lock, as ours does, so the reply cannot be handed over before the wait.
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        if (spin.count() > 0) {
            const auto spinEnd = Clock::now() + spin;
            lock.unlock();
            while (pending.load(std::memory_order_acquire) && Clock::now() < spinEnd) {
                std::this_thread::yield();
            }
            lock.lock();
        }
        if (!replied.wait_until(lock, deadline, [this] { return !pending; })) {
            pending = false;
            return false;
        }
        return true;
    }

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
    std::atomic<bool> pending{false};
    std::chrono::microseconds spin;
    std::atomic<bool> stopping{false};
    std::thread receiver;
};

/// (c) The Python script, kept running and asked for one round at a time over a pipe; it times
/// each round trip and its own CPU itself.
class PythonClient
{
public:
    explicit PythonClient(const GeaaResponder& responder)
    {
        int toChild[2];
        int fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        const std::string port = std::to_string(responder.port());
        pid = ::fork();
        if (pid == 0) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            ::close(toChild[1]);
            ::close(fromChild[0]);
            ::execlp("python3", "python3", HALVIK_BENCH_PYTHON_CLIENT, responder.address().c_str(),
                     port.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input = ::fdopen(toChild[1], "w");
        output = ::fdopen(fromChild[0], "r");
    }
    ~PythonClient()
    {
        std::fclose(input); // end of input ends the script
        std::fclose(output);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::free(line);
    }
    PythonClient(const PythonClient&) = delete;
    PythonClient& operator=(const PythonClient&) = delete;

    /// False when the script failed or answered something else.
    bool run(int iterations, Round& r)
    {
        if (pid < 0 || std::fprintf(input, "%d\n", iterations) < 0 || std::fflush(input) != 0 ||
            ::getline(&line, &capacity, output) < 0) {
            return false;
        }
        char* cursor = line;
        char* end = nullptr;
        const double elapsedNs = std::strtod(cursor, &end);
        cursor = end;
        const double cpuNs = std::strtod(cursor, &end);
        cursor = end;
        r.us.clear();
        for (double v = std::strtod(cursor, &end); end != cursor; v = std::strtod(cursor, &end)) {
            r.us.push_back(v / 1e3);
            cursor = end;
        }
        if (r.us.size() != static_cast<std::size_t>(iterations) || elapsedNs <= 0.0) {
            return false;
        }
        r.rate = iterations / (elapsedNs / 1e9);
        r.cpuUs = cpuNs / 1e3 / iterations;
        return true;
    }

private:
    pid_t pid = -1;
    FILE* input = nullptr;
    FILE* output = nullptr;
    char* line = nullptr;
    std::size_t capacity = 0;
};

/// The machine's wake-up cost: from a notify to the moment a thread that slept on the condition
/// variable runs, p50 in us. The sleeper has been idle a millisecond before each notify, as a
/// caller is while its reply travels.
double wakeUpCostUs(int samples)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool go = false;
    bool quit = false;
    Clock::time_point notified;
    std::vector<double> us;
    std::thread sleeper([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            cv.wait(lock, [&] { return go || quit; });
            if (quit) {
                return;
            }
            us.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - notified).count());
            go = false;
        }
    });
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        {
            const std::lock_guard<std::mutex> lock(mutex);
            go = true;
            notified = Clock::now();
        }
        cv.notify_one();
        while (true) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!go) {
                break;
            }
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    cv.notify_one();
    sleeper.join();
    return halvik::bench::percentile(us, 0.5);
}

std::string describe(const Series& s)
{
    using namespace halvik::bench;
    return grouped(median(s.rates)) + " /s, p50 " + fixed(percentile(s.latencies, 0.5), 1) +
           " us, p99 " + fixed(percentile(s.latencies, 0.99), 1) + " us; client CPU " +
           fixed(median(s.cpuUs), 1) + " us per round trip";
}

/// Median over rounds of ours' figure divided by the other's in the same round.
double pairedRatio(const std::vector<double>& ours, const std::vector<double>& other)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.size() && i < other.size(); ++i) {
        if (other[i] > 0.0) {
            ratios.push_back(ours[i] / other[i]);
        }
    }
    return halvik::bench::median(ratios);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace halvik::bench;
    const int rounds = argument(argc, argv, "--rounds", 40);
    const int iterations = argument(argc, argv, "--iterations", 2000);
    ::signal(SIGPIPE, SIG_IGN); // a failed Python client shows as a failed round instead

    GeaaResponder responder(responderAddress);
    RawClient raw(responder);
    HandoffClient handoff(responder);
    HandoffClient spinning(responder, std::chrono::microseconds(200));
    halvik::Vantor vantor(responder.address(), responder.port());
    PythonClient python(responder);

    Series rawSeries, handoffSeries, spinSeries, oursSeries, pythonSeries;
    bool pythonFailed = false;
    // Round 0 warms every client up and is not counted.
    for (int round = 0; round <= rounds; ++round) {
        if (round % 10 == 0) {
            std::cerr << "round trip: round " << round << " of " << rounds << std::endl;
        }
        const Round a = measure(
            [&] {
                if (!raw.roundTrip()) {
                    ++rawSeries.failures;
                }
            },
            iterations, responder);
        const Round b = measure(
            [&] {
                if (!handoff.roundTrip()) {
                    ++handoffSeries.failures;
                }
            },
            iterations, responder);
        const Round bSpin = measure(
            [&] {
                if (!spinning.roundTrip()) {
                    ++spinSeries.failures;
                }
            },
            iterations, responder);
        const Round ours = measure(
            [&] {
                double azimuth = 0.0;
                double elevation = 0.0;
                if (vantor.GetApertureAngles(azimuth, elevation) != 0) {
                    ++oursSeries.failures;
                }
            },
            iterations, responder);
        Round c;
        pythonFailed = pythonFailed || !python.run(iterations, c);
        if (round == 0) {
            continue;
        }
        rawSeries.add(a);
        handoffSeries.add(b);
        spinSeries.add(bSpin);
        oursSeries.add(ours);
        if (!pythonFailed) {
            pythonSeries.add(c);
        }
    }

    printRow("Round trip (a): blocking socket, one thread", describe(rawSeries), "machine limit");
    printRow("Round trip (b): receive thread, mutex + condition variable", describe(handoffSeries),
             "least cost of the design");
    printRow("Round trip (b) + spin: the caller watches 200 us, then blocks", describe(spinSeries),
             "candidate");
    printRow("Round trip ours: Vantor::GetApertureAngles (spins 200 us)", describe(oursSeries));
    printRow("Round trip (c): Python socket module", describe(pythonSeries),
             pythonFailed ? "the python3 client FAILED" : "");
    const double vsRaw = pairedRatio(oursSeries.rates, rawSeries.rates);
    const double vsHandoff = pairedRatio(oursSeries.rates, handoffSeries.rates);
    const double vsPython = pairedRatio(oursSeries.rates, pythonSeries.rates);
    printRow("Wake-up cost: a thread asleep on a condition variable, p50",
             fixed(wakeUpCostUs(2000), 1) + " us", "this machine");
    printRow("Round trips/s ours / (a)", fixed(vsRaw, 2));
    const double p50Ratio =
        percentile(oursSeries.latencies, 0.5) / percentile(rawSeries.latencies, 0.5);
    printRow("Round trip p50 ours / (a)", fixed(p50Ratio, 2), "<= 3", verdict(p50Ratio <= 3.0));
    printRow("Round trips/s (b) + spin / (b)",
             fixed(pairedRatio(spinSeries.rates, handoffSeries.rates), 2));
    printRow("Round trips/s ours / (b)", fixed(vsHandoff, 2), ">= 0.9", verdict(vsHandoff >= 0.9));
    printRow("Round trips/s ours / (c)", fixed(vsPython, 2), ">= 1",
             verdict(!pythonFailed && vsPython >= 1.0));
    printRow("Client CPU per round trip ours / (b)",
             fixed(pairedRatio(oursSeries.cpuUs, handoffSeries.cpuUs), 2));
    printRow("Client CPU per round trip (c) / ours",
             fixed(pairedRatio(pythonSeries.cpuUs, oursSeries.cpuUs), 2));
    printRow("Client CPU per round trip ours / (a)",
             fixed(pairedRatio(oursSeries.cpuUs, rawSeries.cpuUs), 2));
    const int failures =
        rawSeries.failures + handoffSeries.failures + spinSeries.failures + oursSeries.failures;
    if (failures > 0) {
        printRow("Round trips without an answer in 500 ms", std::to_string(failures), "0",
                 verdict(false));
    }
    return 0;
}
