#include <halvik/quorvel/pathdata.h>
#include <halvik/quorvel/pathrun.h>
#include <halvik/quorvel/pointingstats.h>
#include <halvik/quorvel/resultsfile.h>
#include <halvik/quorvel/resultsplot.h>
#include <halvik/vantor.h>
#include <halvik/vantorctl/commandline.h>
#include <halvik/vantorctl/exitstatus.h>
#include <halvik/vantorctl/pathrunner.h>
#include <halvik/vantorctl/rotctldbridge.h>
#include <halvik/vantorctl/transactionstats.h>
#include <halvik/vantorctl/vantorctl.h>
#include <halvik/vantormanager.h>

#include <QtCore/QFileInfo>
#include <QtGui/QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>

namespace halvik::vantorctl {

namespace {

constexpr int noError = 0;
constexpr int busyStatus = 253;

QString fileArgument(const std::string& text)
{
    return QString::fromLocal8Bit(text.c_str());
}

std::string local(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

/// A serial as text: printable ASCII as it is, other bytes as \xHH.
std::string printable(const std::string& bytes)
{
    std::string text;
    for (const unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            text += escape;
        }
    }
    return text;
}

/// A JSON string literal; bytes outside printable ASCII become \u00HH, one per byte.
std::string jsonString(const std::string& bytes)
{
    std::string text = "\"";
    for (const unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            text += escape;
        }
    }
    return text + "\"";
}

int discover(const CommandLine& cl, std::ostream& out, std::ostream& err)
{
    VantorManager manager(cl.broadcast, cl.port);
    // A timed discovery ends with 254 by design; only busy means it did not run.
    const int status = manager.FindVantors(cl.timeoutMs, true, nullptr);
    if (status == busyStatus) {
        err << "vantorctl: discover: " << Vantor::StatusText(status) << std::endl;
        return status;
    }
    const VantorMap devices = manager.GetVantors();
    if (cl.json) {
        out << "[";
        const char* separator = "\n";
        for (const auto& [serial, address] : devices) {
            out << separator << "  {\"serial\": " << jsonString(serial)
                << ", \"ip\": " << jsonString(address) << "}";
            separator = ",\n";
        }
        out << (devices.empty() ? "]" : "\n]") << std::endl;
    } else if (!devices.empty()) {
        std::size_t width = 6;
        for (const auto& entry : devices) {
            width = std::max(width, printable(entry.first).size());
        }
        const auto row = [&](const std::string& serial, const std::string& address) {
            out << serial << std::string(width + 2 - serial.size(), ' ') << address << '\n';
        };
        row("SERIAL", "IP");
        for (const auto& [serial, address] : devices) {
            row(printable(serial), address);
        }
        out.flush();
    }
    if (devices.empty()) {
        err << "vantorctl: discover: no Vantor answered on " << cl.broadcast << ':' << cl.port
            << " within " << cl.timeoutMs << " ms" << std::endl;
        return exitstatus::NoDevice;
    }
    return noError;
}

int setIp(const CommandLine& cl, std::ostream& out, std::ostream& err, TransactionStats& stats)
{
    VantorManager manager(cl.broadcast, cl.port);
    const int status =
        stats.measure("SetVantorIP", [&] { return manager.SetVantorIP(cl.serial, cl.newAddress); });
    out << Vantor::StatusText(status) << std::endl;
    if (status == 254) {
        err << "vantorctl: set-ip: no answer; a device that took the new address may answer "
               "from it or not at all: run discover to see where it is"
            << std::endl;
    }
    return status;
}

int pointingCommand(const CommandLine& cl, std::ostream& out, TransactionStats& stats)
{
    Vantor device(cl.address, cl.port);
    double azimuth = 0.0;
    double elevation = 0.0;
    int status = noError;
    switch (cl.command) {
    case Command::Get:
        status = stats.measure("GetApertureAngles",
                               [&] { return device.GetApertureAngles(azimuth, elevation); });
        break;
    case Command::Home:
        status = stats.measure("Home", [&] { return device.Home(); });
        break;
    case Command::Move:
        status = cl.set ? stats.measure("SetApertureAngles",
                                        [&] {
                                            return device.SetApertureAngles(cl.azimuth,
                                                                            cl.elevation, cl.speed);
                                        })
                        : stats.measure("TrackApertureAngles", [&] {
                              return device.TrackApertureAngles(cl.azimuth, cl.elevation, cl.speed);
                          });
        break;
    default:
        status = stats.measure("SetAcceleration",
                               [&] { return device.SetAcceleration(cl.acceleration); });
        break;
    }
    out << Vantor::StatusText(status) << '\n';
    if (cl.command == Command::Get && status == noError) {
        out << local(quorvel::formatNumber(azimuth)) << ' '
            << local(quorvel::formatNumber(elevation)) << '\n';
    }
    out.flush();
    return status;
}

int runPath(const CommandLine& cl, std::ostream& out, std::ostream& err, TransactionStats& stats)
{
    std::vector<quorvel::PathRow> rows;
    QString error;
    if (!quorvel::readPathFile(fileArgument(cl.inputFile), rows, &error)) {
        err << "vantorctl: run-path: cannot read " << cl.inputFile << ": " << local(error)
            << std::endl;
        return exitstatus::InputFile;
    }
    Vantor device(cl.address, cl.port);
    // Quorvel sets the acceleration when it opens the device; a device that does not take it
    // would not run the path either.
    const int status =
        stats.measure("SetAcceleration", [&] { return device.SetAcceleration(cl.acceleration); });
    if (status != noError) {
        err << "vantorctl: run-path: SetAcceleration: " << Vantor::StatusText(status)
            << "; the path was not run" << std::endl;
        return status;
    }

    PathRunner runner(device, std::move(rows),
                      RunSettings{cl.speed, cl.delayMs, cl.delay2Ms, cl.set}, stats, out);
    runner.run();

    int exit = noError;
    const QString fileName = quorvel::resultsFileName(cl.acceleration, cl.speed, cl.delayMs);
    if (!quorvel::writeResultsFile(fileName, runner.rows(), &error)) {
        err << "vantorctl: run-path: cannot write " << local(fileName) << ": " << local(error)
            << std::endl;
        exit = exitstatus::OutputFile;
    }
    // As in Quorvel, the totals are logged even without a file, so the run is not lost.
    out << quorvel::currentErrorLine(quorvel::errorTotals(runner.rows()).sum()) << std::endl;
    if (runner.failures() > 0) {
        err << "vantorctl: run-path: " << runner.failures() << " of " << stats.count()
            << " transactions failed; the first: " << runner.firstFailureText() << std::endl;
        if (exit == noError) {
            exit = runner.linkFailed() ? exitstatus::NoDevice : runner.firstFailure();
        }
    }
    return exit;
}

int plot(const CommandLine& cl, std::ostream& err)
{
    // Fonts need a QGuiApplication; the offscreen platform needs no display.
    std::unique_ptr<QGuiApplication> application;
    if (!QCoreApplication::instance()) {
        static int argc = 3;
        static char name[] = "vantorctl";
        static char platformOption[] = "-platform";
        static char platform[] = "offscreen";
        static char* argv[] = {name, platformOption, platform, nullptr};
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    std::vector<quorvel::PathRow> rows;
    QString error;
    const QString input = fileArgument(cl.inputFile);
    if (!quorvel::readResultsFile(input, rows, &error)) {
        err << "vantorctl: plot: cannot read " << cl.inputFile << ": " << local(error) << std::endl;
        return exitstatus::InputFile;
    }
    const quorvel::ResultsPlot picture(std::move(rows),
                                       QStringLiteral("Path run ") + QFileInfo(input).fileName());
    const QString output = fileArgument(cl.outputFile);
    const QSize size(cl.width, cl.height);
    const bool svg = output.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
    if (!(svg ? picture.saveSvg(output, size, &error) : picture.savePng(output, size, &error))) {
        err << "vantorctl: plot: cannot write " << cl.outputFile << ": " << local(error)
            << std::endl;
        return exitstatus::OutputFile;
    }
    return noError;
}

int pointingStatistics(const CommandLine& cl, std::ostream& out, std::ostream& err)
{
    std::vector<quorvel::PathRow> rows;
    QString error;
    if (!quorvel::readResultsFile(fileArgument(cl.inputFile), rows, &error)) {
        err << "vantorctl: stats: cannot read " << cl.inputFile << ": " << local(error)
            << std::endl;
        return exitstatus::InputFile;
    }
    const quorvel::PointingStats figures = quorvel::pointingStats(rows);
    out << (cl.json ? quorvel::pointingStatsJson(figures) : quorvel::formatPointingStats(figures))
        << std::flush;
    return noError;
}

int makePath(const CommandLine& cl, std::ostream& out)
{
    std::string text;
    std::string error;
    // The command line checked the pattern already.
    makePathText(cl.pattern, text, error);
    out << text << std::flush;
    return noError;
}

int rotctld(const CommandLine& cl, std::ostream& err)
{
    RotctldSettings settings;
    settings.deviceAddress = cl.address;
    settings.devicePort = cl.port;
    settings.listenHost = cl.listenHost;
    settings.listenPort = cl.listenPort;
    settings.set = cl.set;
    settings.speed = cl.speed;
    settings.minAzimuth = cl.minAzimuth;
    settings.maxAzimuth = cl.maxAzimuth;
    settings.minElevation = cl.minElevation;
    settings.maxElevation = cl.maxElevation;
    settings.deadband = cl.deadband;
    std::unique_ptr<RotctldBridge> bridge;
    try {
        bridge = std::make_unique<RotctldBridge>(settings, err);
    } catch (const std::exception& e) {
        err << "vantorctl: rotctld: cannot listen on " << cl.listenHost << ':' << cl.listenPort
            << " or open the device link: " << e.what() << std::endl;
        return exitstatus::NoDevice;
    }
    bridge->stopOnSignals();
    bridge->run();
    return noError;
}

} // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const CommandLine cl = CommandLine::parse(args);
    if (!cl.error.empty()) {
        err << "vantorctl: " << cl.error << "\n"
            << "Usage: vantorctl [--stats] COMMAND ARGUMENTS [OPTIONS]; vantorctl --help lists "
               "the commands and exit statuses."
            << std::endl;
        return exitstatus::Usage;
    }
    if (cl.help) {
        out << CommandLine::usage() << std::flush;
        return noError;
    }
    if (cl.version) {
        out << "vantorctl " << HALVIK_VERSION << std::endl;
        return noError;
    }

    TransactionStats stats;
    int exit = noError;
    try {
        switch (cl.command) {
        case Command::Discover:
            exit = discover(cl, out, err);
            break;
        case Command::SetIp:
            exit = setIp(cl, out, err, stats);
            break;
        case Command::RunPath:
            exit = runPath(cl, out, err, stats);
            break;
        case Command::Plot:
            exit = plot(cl, err);
            break;
        case Command::Rotctld:
            exit = rotctld(cl, err);
            break;
        case Command::Stats:
            exit = pointingStatistics(cl, out, err);
            break;
        case Command::MakePath:
            exit = makePath(cl, out);
            break;
        default:
            exit = pointingCommand(cl, out, stats);
            break;
        }
    } catch (const std::exception& e) {
        // Only the link throws: its socket cannot be opened or a datagram cannot be sent.
        err << "vantorctl: link failure: " << e.what() << std::endl;
        exit = exitstatus::NoDevice;
    }
    if (cl.stats) {
        stats.report(err);
    }
    return exit;
}

} // namespace halvik::vantorctl
