#pragma once

#include <halvik/vantorctl/pathpatterns.h>

#include <cstdint>
#include <string>
#include <vector>

namespace halvik::vantorctl {

/// The subcommands.
enum class Command
{
    None,
    Discover,
    Get,
    Home,
    Move,
    Accel,
    SetIp,
    RunPath,
    Plot,
    Rotctld,
    Stats,
    MakePath
};

/// vantorctl's arguments, parsed without the locale. Defaults are those of Quorvel's form.
struct CommandLine
{
    Command command = Command::None;
    bool help = false;
    bool version = false;
    /// Round-trip statistics on standard error at the end.
    bool stats = false;
    /// discover, stats: JSON instead of a table.
    bool json = false;
    /// move, run-path, rotctld: SetApertureAngles instead of TrackApertureAngles.
    bool set = false;

    /// Device address of get, home, move, accel, run-path and rotctld.
    std::string address;
    /// UDP port of the device, or of the broadcast for discover and set-ip.
    std::uint16_t port = 4365;
    /// discover, set-ip.
    std::string broadcast = "255.255.255.255";
    /// discover: length of the collection window.
    unsigned timeoutMs = 1500;
    /// set-ip.
    std::string serial;
    /// set-ip.
    std::string newAddress;

    /// move: degrees.
    double azimuth = 0.0;
    /// move: degrees.
    double elevation = 0.0;
    /// move, rotctld, and run-path rows without a speed.
    double speed = 10.0;
    /// accel, run-path.
    double acceleration = 10000.0;
    /// run-path: first wait of rows without a dwell time.
    double delayMs = 100.0;
    /// run-path: second wait of rows without a dwell time.
    double delay2Ms = 100.0;

    /// run-path: the path file; plot, stats: the results file.
    std::string inputFile;
    /// plot: .svg or .png.
    std::string outputFile;
    /// plot: picture size in pixels.
    int width = 1200;
    /// plot: picture size in pixels.
    int height = 900;

    /// rotctld: where it listens (port 0: any free port).
    std::string listenHost = "127.0.0.1";
    std::uint16_t listenPort = 4533;
    /// rotctld: positions taken, in the device's azimuth frame; Quorvel's tracker range.
    double minAzimuth = 0.0;
    double maxAzimuth = 360.0;
    double minElevation = -35.0;
    double maxElevation = 35.0;
    /// rotctld: set-position requests this close to the last target are not sent.
    double deadband = 0.0;

    /// make-path.
    PatternOptions pattern;

    /// Set when the arguments cannot be used; the program prints it and exits with a usage
    /// error.
    std::string error;

    /// Parses the arguments after the program name.
    static CommandLine parse(const std::vector<std::string>& args);
    /// The --help text, exit statuses included.
    static std::string usage();
    /// True for a dotted IPv4 address of four parts.
    static bool isDottedAddress(const std::string& text);
};

} // namespace halvik::vantorctl
