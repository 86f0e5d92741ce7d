#include <halvik/quorvel/pathrun.h>
#include <halvik/vantor.h>
#include <halvik/vantorctl/pathrunner.h>
#include <halvik/vantorctl/transactionstats.h>

#include <ostream>
#include <thread>

namespace halvik::vantorctl {

namespace {

constexpr int otherError = 255;

} // namespace

PathRunner::PathRunner(Vantor& device, std::vector<quorvel::PathRow> rows, RunSettings settings,
                       TransactionStats& stats, std::ostream& log)
    : device(device)
    , pathRows(std::move(rows))
    , settings(settings)
    , stats(stats)
    , logStream(log)
{}

void PathRunner::run()
{
    int index = 0;
    // Quorvel's timer starts the next tick about 1 ms after one returns; nothing else runs
    // between ticks here, so they follow each other directly.
    while (quorvel::runPathTick(*this, index) == quorvel::PathTick::Iterated) {
    }
}

template <typename Call> int PathRunner::transaction(const char* operation, Call call)
{
    std::string linkMessage;
    const int status = stats.measure(operation, [&] {
        try {
            return call();
        } catch (const std::exception& e) {
            linkMessage = e.what();
            return otherError;
        }
    });
    if (status != 0) {
        if (failureCount++ == 0) {
            firstFailureStatus = status;
            failureText = std::string(operation) + ": " +
                          (linkMessage.empty() ? Vantor::StatusText(status) : linkMessage);
        }
        linkFailure = linkFailure || !linkMessage.empty();
    }
    return status;
}

int PathRunner::rowCount() const
{
    return static_cast<int>(pathRows.size());
}

quorvel::PathRow PathRunner::row(int i) const
{
    return pathRows.at(static_cast<std::size_t>(i));
}

void PathRunner::setActual(int i, double azimuth, double elevation)
{
    quorvel::PathRow& r = pathRows.at(static_cast<std::size_t>(i));
    r.set(quorvel::ActualAz, quorvel::formatNumber(azimuth));
    r.set(quorvel::ActualEl, quorvel::formatNumber(elevation));
}

double PathRunner::fallbackSpeed() const
{
    return settings.speed;
}

int PathRunner::fallbackFirstWaitMs() const
{
    return static_cast<int>(settings.delayMs);
}

int PathRunner::fallbackSecondWaitMs() const
{
    return static_cast<int>(settings.delay2Ms);
}

bool PathRunner::wait(int ms)
{
    if (ms > 0) {
        // Sleeps on the monotonic clock: no polling, and midnight or a clock change does not
        // shorten it.
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(ms));
    }
    return true;
}

int PathRunner::readAngles(double& azimuth, double& elevation)
{
    return transaction("GetApertureAngles",
                       [&] { return device.GetApertureAngles(azimuth, elevation); });
}

int PathRunner::point(double azimuth, double elevation, double speed)
{
    if (settings.set) {
        return transaction("SetApertureAngles",
                           [&] { return device.SetApertureAngles(azimuth, elevation, speed); });
    }
    return transaction("TrackApertureAngles",
                       [&] { return device.TrackApertureAngles(azimuth, elevation, speed); });
}

QTime PathRunner::timeOfDay() const
{
    return QTime::currentTime();
}

std::chrono::steady_clock::time_point PathRunner::monotonicNow() const
{
    return std::chrono::steady_clock::now();
}

void PathRunner::log(const std::string& line)
{
    logStream << line << std::endl;
}

} // namespace halvik::vantorctl
