#pragma once

#include <halvik/simulatoroptions.h>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace halvik::bench {

/// A program, or a forked simulated device, run as a child process: the benchmarks measure
/// programs from the outside, and keep simulators out of the process they measure.
class ChildProcess
{
public:
    /// What wait4 reported for the ended child.
    struct Usage
    {
        /// User plus system CPU seconds over the child's whole life.
        double cpuSeconds = 0.0;
        /// Peak resident memory, kB.
        long maxResidentKb = 0;
    };

    /// Starts program with args; environment holds extra "NAME=value" entries; the child's
    /// standard output and error go to outputFile. Throws std::runtime_error when it cannot.
    static std::unique_ptr<ChildProcess> spawn(const std::string& program,
                                               const std::vector<std::string>& args,
                                               const std::vector<std::string>& environment,
                                               const std::string& outputFile = "/dev/null");
    /// Forks a child that serves one simulated device until it is stopped; returns once the
    /// device is bound. Call it before this process starts any thread.
    static std::unique_ptr<ChildProcess> forkSimulatedDevice(const sim::DeviceOptions& options);

    /// Stops the child if it still runs.
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Its process id.
    pid_t pid() const { return childPid; }
    /// User plus system CPU seconds used so far (all threads, from /proc/<pid>/stat).
    double cpuSeconds() const;
    /// False once the child has ended (it is then reaped).
    bool running();
    /// Sends SIGTERM to a running child and reaps it; its usage over its whole life.
    Usage stop();

private:
    explicit ChildProcess(pid_t pid)
        : childPid(pid)
    {}

    void reap(int options);

    pid_t childPid = -1;
    bool reaped = false;
    Usage usage;
};

} // namespace halvik::bench
