// Path waits: Quorvel's window runs a 100-row path with 20 ms dwell times offscreen against a
// simulated device in a child process; beside it, in the same process and run, the same waits
// done the literal way (poll the clock, process events for at most 1 ms, again). Reports the CPU
// this process used during each run and how late each wait ended, from the window's own timing
// log (stamped here as each line is written) and from a clock around each literal wait. A thread
// that only sleeps beside the window's runs shows how late any wait is on this machine then.

#include "support/arguments.h"
#include "support/childprocess.h"
#include "support/stats.h"
#include "support/table.h"

#include <halvik/quorvel/mainwindow.h>
#include <halvik/vantor.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QEventLoop>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTextStream>
#include <QtCore/QTime>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* deviceAddress = "127.0.80.2";
constexpr int rows = 100;
constexpr int dwellMs = 20;

/// Standard output's replacement during the runs: keeps each line with the time its line end
/// was written.
class StampedLines : public std::streambuf
{
public:
    struct Line
    {
        Clock::time_point when;
        std::string text;
    };

    std::vector<Line> lines;

protected:
    int_type overflow(int_type c) override
    {
        if (c != traits_type::eof()) {
            put(static_cast<char>(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        for (std::streamsize i = 0; i < n; ++i) {
            put(s[i]);
        }
        return n;
    }

private:
    void put(char c)
    {
        if (c == '\n') {
            lines.push_back({Clock::now(), std::move(pending)});
            pending.clear();
        } else {
            pending.push_back(c);
        }
    }

    std::string pending;
};

/// The machine's floor for a wait: a thread that only sleeps 20 ms at a time, beside the window's
/// run, meets the same load at the same moments. Its own CPU is taken off the process's figure.
class SleepProbe
{
public:
    SleepProbe()
        : thread([this] { run(); })
    {}
    ~SleepProbe() { stop(); }
    SleepProbe(const SleepProbe&) = delete;
    SleepProbe& operator=(const SleepProbe&) = delete;

    /// Ends the probe; lateness and cpuSeconds are complete afterwards.
    void stop()
    {
        stopping = true;
        if (thread.joinable()) {
            thread.join();
        }
    }

    std::vector<double> lateness;
    double cpuSeconds = 0.0;

private:
    void run()
    {
        while (!stopping) {
            const auto start = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(dwellMs));
            lateness.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count() - dwellMs);
        }
        timespec used{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
        cpuSeconds = static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
    }

    std::atomic<bool> stopping{false};
    std::thread thread;
};

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto s = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct RunFigures
{
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    /// Actual minus asked wait, ms; negative when a wait ended early.
    std::vector<double> lateness;
    /// The probe's sleeps during the run (window runs only).
    std::vector<double> floorLateness;

    double cpuShare() const { return wallSeconds > 0.0 ? cpuSeconds / wallSeconds : 0.0; }
};

/// The waits of one window run, from its timing log: the first wait lies between "Iteration
/// started" and "Before getting position", the second between "After getting position ..." and
/// "Before moving to next target" (each span also holds a few microseconds of table reading).
std::vector<double> windowLateness(const std::vector<StampedLines::Line>& lines)
{
    std::vector<double> lateness;
    Clock::time_point mark{};
    bool marked = false;
    for (const auto& line : lines) {
        const std::string& t = line.text;
        if (t.find("Iteration started") != std::string::npos ||
            t.find("After getting position") != std::string::npos) {
            mark = line.when;
            marked = true;
        } else if (marked && (t.find("Before getting position") != std::string::npos ||
                              t.find("Before moving to next target") != std::string::npos)) {
            lateness.push_back(msBetween(mark, line.when) - dwellMs);
            marked = false;
        }
    }
    return lateness;
}

RunFigures runWindow(halvik::quorvel::MainWindow& window, QPushButton& execute,
                     StampedLines& capture)
{
    capture.lines.clear();
    RunFigures figures;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    SleepProbe probe;
    execute.click();
    while (window.pathRunning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    probe.stop();
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    figures.cpuSeconds = cpuSeconds() - cpu0 - probe.cpuSeconds;
    figures.floorLateness = std::move(probe.lateness);
    figures.lateness = windowLateness(capture.lines);
    return figures;
}

/// The wait as first written: compare times of day, process events for at most 1 ms, repeat.
void literalWait(int ms)
{
    const QTime deadline = QTime::currentTime().addMSecs(ms);
    while (QTime::currentTime() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

RunFigures runLiteral(halvik::Vantor& vantor)
{
    RunFigures figures;
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    const auto timedWait = [&] {
        const auto start = Clock::now();
        literalWait(dwellMs);
        figures.lateness.push_back(msBetween(start, Clock::now()) - dwellMs);
    };
    for (int i = 0; i < rows; ++i) {
        timedWait();
        double azimuth = 0.0;
        double elevation = 0.0;
        vantor.GetApertureAngles(azimuth, elevation);
        timedWait();
        vantor.TrackApertureAngles(10.0 + i % 20, (i % 10) - 5.0, 10.0);
    }
    figures.wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    figures.cpuSeconds = cpuSeconds() - cpu0;
    return figures;
}

std::string share(const std::vector<RunFigures>& runs)
{
    std::vector<double> shares;
    std::vector<double> cpu;
    std::vector<double> wall;
    for (const auto& r : runs) {
        shares.push_back(r.cpuShare());
        cpu.push_back(r.cpuSeconds);
        wall.push_back(r.wallSeconds);
    }
    using namespace halvik::bench;
    return fixed(100.0 * median(shares), 1) + " % of a core (" + fixed(median(cpu), 3) +
           " CPU s in " + fixed(median(wall), 2) + " s)";
}

std::vector<double> allLateness(const std::vector<RunFigures>& runs,
                                std::vector<double> RunFigures::*which = &RunFigures::lateness)
{
    std::vector<double> all;
    for (const auto& r : runs) {
        all.insert(all.end(), (r.*which).begin(), (r.*which).end());
    }
    return all;
}

std::string distribution(const std::vector<double>& lateness)
{
    using namespace halvik::bench;
    return "min " + fixed(percentile(lateness, 0.0), 2) + ", p50 " +
           fixed(percentile(lateness, 0.5), 2) + ", p99 " + fixed(percentile(lateness, 0.99), 2) +
           ", max " + fixed(percentile(lateness, 1.0), 2) + " ms (" +
           std::to_string(lateness.size()) + " waits)";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace halvik::bench;
    const int runs = argument(argc, argv, "--runs", 3);

    // The device lives in a child, so that this process's CPU is the window's alone. Forked
    // before any thread of this process exists.
    halvik::sim::DeviceOptions options;
    options.address = deviceAddress;
    options.port = 4365;
    options.serial = "BENCH0001";
    const auto device = ChildProcess::forkSimulatedDevice(options);

    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    QTemporaryDir workDir; // the window writes its results file into the current directory
    QDir::setCurrent(workDir.path());
    const QString pathFile = workDir.filePath(QStringLiteral("path.csv"));
    {
        QFile file(pathFile);
        file.open(QIODevice::WriteOnly | QIODevice::Text);
        QTextStream out(&file);
        for (int i = 0; i < rows; ++i) {
            out << 10 + i % 20 << ',' << (i % 10) - 5 << ",10," << dwellMs << '\n';
        }
    }

    StampedLines capture;
    std::streambuf* const original = std::cout.rdbuf(&capture);
    std::vector<RunFigures> windowRuns;
    std::vector<RunFigures> literalRuns;
    {
        halvik::quorvel::MainWindow window(
            {QStringLiteral("quorvel"), QString::fromLatin1(deviceAddress)});
        window.show();
        window.findChild<QRadioButton*>(QStringLiteral("trackApertureAnglesRadioButton"))
            ->setChecked(true);
        window.loadPathFile(pathFile);
        auto* execute = window.findChild<QPushButton*>(QStringLiteral("executePathPushButton"));
        halvik::Vantor literalClient(deviceAddress);
        for (int r = 0; r < runs; ++r) {
            std::cerr << "path waits: run " << r + 1 << " of " << runs << std::endl;
            windowRuns.push_back(runWindow(window, *execute, capture));
            literalRuns.push_back(runLiteral(literalClient));
        }
    }
    std::cout.rdbuf(original);

    const std::string what = "Path waits, " + std::to_string(rows) + " rows x 2 waits of " +
                             std::to_string(dwellMs) + " ms";
    std::vector<double> windowShares;
    std::vector<double> literalShares;
    for (int r = 0; r < runs; ++r) {
        windowShares.push_back(windowRuns[r].cpuShare());
        literalShares.push_back(literalRuns[r].cpuShare());
    }
    const double windowShare = median(windowShares);
    const std::vector<double> windowLate = allLateness(windowRuns);
    const std::vector<double> literalLate = allLateness(literalRuns);
    const bool neverEarly = !windowLate.empty() && percentile(windowLate, 0.0) >= 0.0;
    const bool p99Within = !windowLate.empty() && percentile(windowLate, 0.99) <= 1.5;
    const bool allWaits = windowLate.size() == static_cast<std::size_t>(2 * rows * runs);

    printRow(what + ": Quorvel process CPU during the run (median of " + std::to_string(runs) + ")",
             share(windowRuns), "< 5 % of a core", verdict(windowShare < 0.05));
    printRow(what + ": literal 1 ms polling, same process and rows", share(literalRuns));
    printRow("Path waits: CPU Quorvel / literal", fixed(windowShare / median(literalShares), 3));
    const std::vector<double> floorLate = allLateness(windowRuns, &RunFigures::floorLateness);
    std::string lateVerdict = verdict(neverEarly && p99Within && allWaits);
    if (!allWaits) {
        lateVerdict += " (" + std::to_string(windowLate.size()) + " of " +
                       std::to_string(2 * rows * runs) + " waits logged)";
    } else if (!p99Within && percentile(floorLate, 0.99) > 1.5) {
        lateVerdict +=
            " (the bare sleeps' p99 is " + fixed(percentile(floorLate, 0.99), 2) + " ms too)";
    }
    printRow("Path waits: Quorvel lateness", distribution(windowLate), "never early, p99 <= 1.5 ms",
             lateVerdict);
    printRow("Path waits: literal lateness", distribution(literalLate));
    printRow("Path waits: bare 20 ms sleeps on a thread beside Quorvel's runs (machine floor)",
             distribution(floorLate));
    return 0;
}
