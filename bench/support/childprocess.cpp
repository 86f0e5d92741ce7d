#include "childprocess.h"

#include <halvik/simulateddevice.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace halvik::bench {

namespace {
double seconds(const timeval& tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}
} // namespace

std::unique_ptr<ChildProcess> ChildProcess::spawn(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::vector<std::string>& environment,
                                                  const std::string& outputFile)
{
    // Everything the child needs is built before fork: after it only async-signal-safe calls.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    for (const std::string& entry : environment) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (auto it = envStrings.begin(); it != envStrings.end();) {
            it = it->compare(0, name.size(), name) == 0 ? envStrings.erase(it) : it + 1;
        }
        envStrings.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        throw std::runtime_error("cannot open " + outputFile + ": " + std::strerror(errno));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

std::unique_ptr<ChildProcess> ChildProcess::forkSimulatedDevice(const sim::DeviceOptions& options)
{
    int ready[2];
    if (::pipe(ready) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::close(ready[0]);
        char answer = '0';
        try {
            sim::SimulatedDevice device(options);
            answer = '1';
            (void)!::write(ready[1], &answer, 1);
            for (;;) {
                ::pause(); // until SIGTERM ends the process
            }
        } catch (...) {
            (void)!::write(ready[1], &answer, 1);
            ::_exit(1);
        }
    }
    ::close(ready[1]);
    char answer = '0';
    const ssize_t n = ::read(ready[0], &answer, 1);
    ::close(ready[0]);
    std::unique_ptr<ChildProcess> child(new ChildProcess(pid));
    if (n != 1 || answer != '1') {
        child->stop();
        throw std::runtime_error("the simulated device at " + options.address + ":" +
                                 std::to_string(options.port) + " could not bind");
    }
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!reaped) {
        stop();
    }
}

double ChildProcess::cpuSeconds() const
{
    std::ifstream file("/proc/" + std::to_string(childPid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    // The command name in parentheses may hold spaces; the fields after it are plain numbers.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0.0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3..13 come first; utime and stime are fields 14 and 15 of the whole line.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoull(field);
        } else if (index == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool ChildProcess::running()
{
    if (!reaped) {
        reap(WNOHANG);
    }
    return !reaped;
}

ChildProcess::Usage ChildProcess::stop()
{
    if (!reaped) {
        ::kill(childPid, SIGTERM);
        reap(0);
    }
    return usage;
}

void ChildProcess::reap(int options)
{
    int status = 0;
    rusage ru{};
    pid_t result = -1;
    do {
        result = ::wait4(childPid, &status, options, &ru);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        return; // still running
    }
    reaped = true;
    usage.cpuSeconds = seconds(ru.ru_utime) + seconds(ru.ru_stime);
    usage.maxResidentKb = ru.ru_maxrss;
}

} // namespace halvik::bench
