#include <halvik/vantorctl/commandline.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/system/error_code.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

namespace halvik::vantorctl {

namespace {

template <typename T> bool parseNumber(const std::string& text, T& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

/// A decimal number within [low, high]; from_chars never looks at the locale.
bool parseInRange(const std::string& text, double low, double high, double& value)
{
    double parsed = 0.0;
    if (!parseNumber(text, parsed) || !std::isfinite(parsed) || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

std::string rangeText(double low, double high)
{
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, low).ptr;
    std::string text(buffer, end);
    end = std::to_chars(buffer, buffer + sizeof buffer, high).ptr;
    return text + " to " + std::string(buffer, end);
}

struct Limits
{
    double low;
    double high;
};

// What the wire carries without wrapping: azimuth and speed travel as 16-bit fields (azimuth
// unsigned, hundredths of a degree; speed times 360), elevation as a signed one. The
// acceleration range is that of Quorvel's form.
constexpr Limits azimuthLimits{0.0, 655.35};
constexpr Limits elevationLimits{-327.68, 327.67};
constexpr Limits speedLimits{0.01, 182.04};
constexpr Limits accelerationLimits{0.01, 5000000.0};
constexpr Limits delayLimits{0.0, 3600000.0};
constexpr Limits circleLimits{0.0, 360.0};

struct CommandSyntax
{
    Command command;
    std::vector<const char*> positionals;
    std::set<std::string> options;
};

const std::map<std::string, CommandSyntax>& commands()
{
    static const std::map<std::string, CommandSyntax> table = {
        {"discover", {Command::Discover, {}, {"--broadcast", "--port", "--timeout", "--json"}}},
        {"get", {Command::Get, {"ADDR"}, {"--port", "--stats"}}},
        {"home", {Command::Home, {"ADDR"}, {"--port", "--stats"}}},
        {"move", {Command::Move, {"ADDR", "AZ", "EL"}, {"--speed", "--set", "--port", "--stats"}}},
        {"accel", {Command::Accel, {"ADDR", "A"}, {"--port", "--stats"}}},
        {"set-ip", {Command::SetIp, {"SERIAL", "NEWADDR"}, {"--broadcast", "--port", "--stats"}}},
        {"run-path",
         {Command::RunPath,
          {"ADDR", "FILE"},
          {"--speed", "--accel", "--delay", "--delay2", "--set", "--port", "--stats"}}},
        {"plot", {Command::Plot, {"RESULTS"}, {"--output", "--size"}}},
        {"stats", {Command::Stats, {"RESULTS"}, {"--json"}}},
        {"make-path",
         {Command::MakePath,
          {"PATTERN"},
          {"--az", "--el", "--targets", "--passes", "--bidirectional", "--overshoot", "--center",
           "--sizes", "--speed", "--dwell"}}},
        {"rotctld",
         {Command::Rotctld,
          {"ADDR"},
          {"--listen", "--set", "--speed", "--port", "--az-min", "--az-max", "--el-min", "--el-max",
           "--deadband"}}},
    };
    return table;
}

const std::set<std::string> flagOptions = {"--set", "--json", "--stats", "--help",
                                           "--bidirectional"};

} // namespace

bool CommandLine::isDottedAddress(const std::string& text)
{
    // The discovery client's rule: exactly four dotted parts that the platform converts, and
    // nothing else (Winsock's conversion also takes a ":port" suffix).
    if (text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    boost::system::error_code ec;
    boost::asio::ip::make_address_v4(text, ec);
    return !ec && std::count(text.begin(), text.end(), '.') == 3;
}

CommandLine CommandLine::parse(const std::vector<std::string>& args)
{
    CommandLine cl;
    std::size_t i = 0;
    for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            cl.help = true;
        } else if (args[i] == "--version") {
            cl.version = true;
        } else if (args[i] == "--stats") {
            cl.stats = true;
        } else {
            cl.error = "unknown option " + args[i];
            return cl;
        }
    }
    if (i == args.size()) {
        if (!cl.help && !cl.version) {
            cl.error = "no command given";
        }
        return cl;
    }
    const std::string name = args[i++];
    const auto found = commands().find(name);
    if (found == commands().end()) {
        cl.error = "unknown command " + name;
        return cl;
    }
    const CommandSyntax& syntax = found->second;
    cl.command = syntax.command;
    if (cl.stats && !syntax.options.count("--stats")) {
        cl.error = "--stats applies to the device commands and run-path, not to " + name;
        return cl;
    }

    const auto fail = [&](const std::string& text) {
        cl.error = name + ": " + text;
        return cl;
    };

    // Only "--name" (and -o, -h) are options, so a negative angle such as -5 stays positional.
    std::vector<std::string> positionals;
    for (; i < args.size(); ++i) {
        std::string option = args[i];
        if (option == "-o") {
            option = "--output";
        } else if (option == "-h") {
            option = "--help";
        }
        if (option.rfind("--", 0) != 0) {
            positionals.push_back(option);
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const auto eq = option.find('='); eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            hasValue = true;
        }
        if (option == "--help") {
            cl.help = true;
            continue;
        }
        if (!syntax.options.count(option)) {
            return fail("unknown option " + option);
        }
        if (flagOptions.count(option)) {
            if (hasValue) {
                return fail(option + " takes no value");
            }
            if (option == "--set") {
                cl.set = true;
            } else if (option == "--bidirectional") {
                cl.pattern.bidirectional = true;
            } else if (option == "--json") {
                cl.json = true;
            } else {
                cl.stats = true;
            }
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                return fail(option + " needs a value");
            }
            value = args[++i];
        }
        const auto limited = [&](Limits limits, double& target) {
            return parseInRange(value, limits.low, limits.high, target)
                       ? std::string()
                       : option + " must be a number from " + rangeText(limits.low, limits.high) +
                             ", not \"" + value + "\"";
        };
        std::string problem;
        if (option == "--speed") {
            problem = limited(speedLimits, cl.speed);
            cl.pattern.speed = cl.speed;
        } else if (option == "--accel") {
            problem = limited(accelerationLimits, cl.acceleration);
        } else if (option == "--delay") {
            problem = limited(delayLimits, cl.delayMs);
        } else if (option == "--delay2") {
            problem = limited(delayLimits, cl.delay2Ms);
        } else if (option == "--port") {
            if (!parseNumber(value, cl.port) || cl.port == 0) {
                problem = "--port must be a UDP port from 1 to 65535, not \"" + value + "\"";
            }
        } else if (option == "--timeout") {
            if (!parseNumber(value, cl.timeoutMs) || cl.timeoutMs == 0 || cl.timeoutMs > 3600000) {
                problem = "--timeout must be milliseconds from 1 to 3600000, not \"" + value + "\"";
            }
        } else if (option == "--broadcast") {
            cl.broadcast = value;
            if (!isDottedAddress(value)) {
                problem = "--broadcast must be a dotted IPv4 address, not \"" + value + "\"";
            }
        } else if (option == "--listen") {
            const auto colon = value.rfind(':');
            cl.listenHost = value.substr(0, colon == std::string::npos ? 0 : colon);
            if (colon == std::string::npos || !isDottedAddress(cl.listenHost) ||
                !parseNumber(value.substr(colon + 1), cl.listenPort)) {
                problem = "--listen must be HOST:PORT with a dotted IPv4 address and a TCP port "
                          "from 0 to 65535, not \"" +
                          value + "\"";
            }
        } else if (option == "--az") {
            cl.pattern.azimuthRange = value;
        } else if (option == "--el") {
            cl.pattern.elevationRange = value;
        } else if (option == "--targets") {
            cl.pattern.targets = value;
        } else if (option == "--center") {
            cl.pattern.center = value;
        } else if (option == "--sizes") {
            cl.pattern.sizes = value;
        } else if (option == "--passes") {
            if (!parseNumber(value, cl.pattern.passes) || cl.pattern.passes < 1 ||
                cl.pattern.passes > 10000) {
                problem = "--passes must be a whole number from 1 to 10000, not \"" + value + "\"";
            }
        } else if (option == "--overshoot") {
            problem = limited(Limits{0.01, 360.0}, cl.pattern.overshoot);
        } else if (option == "--dwell") {
            int dwell = 0;
            if (!parseNumber(value, dwell) || dwell < 0 || dwell > 3600000) {
                problem =
                    "--dwell must be whole milliseconds from 0 to 3600000, not \"" + value + "\"";
            }
            cl.pattern.dwellMs = dwell;
        } else if (option == "--az-min") {
            problem = limited(circleLimits, cl.minAzimuth);
        } else if (option == "--az-max") {
            problem = limited(circleLimits, cl.maxAzimuth);
        } else if (option == "--el-min") {
            problem = limited(elevationLimits, cl.minElevation);
        } else if (option == "--el-max") {
            problem = limited(elevationLimits, cl.maxElevation);
        } else if (option == "--deadband") {
            problem = limited(circleLimits, cl.deadband);
        } else if (option == "--output") {
            cl.outputFile = value;
        } else if (option == "--size") {
            const auto x = value.find('x');
            if (x == std::string::npos || !parseNumber(value.substr(0, x), cl.width) ||
                !parseNumber(value.substr(x + 1), cl.height) || cl.width < 200 || cl.height < 200 ||
                cl.width > 10000 || cl.height > 10000) {
                problem =
                    "--size must be WIDTHxHEIGHT, each from 200 to 10000, not \"" + value + "\"";
            }
        }
        if (!problem.empty()) {
            return fail(problem);
        }
    }
    if (cl.help) {
        return cl;
    }

    if (positionals.size() != syntax.positionals.size()) {
        std::string expected;
        for (const char* p : syntax.positionals) {
            expected += std::string(" ") + p;
        }
        return fail("expects" + (expected.empty() ? std::string(" no arguments") : expected) +
                    ", got " + std::to_string(positionals.size()) + " argument" +
                    (positionals.size() == 1 ? "" : "s"));
    }
    const auto number = [&](std::size_t index, Limits limits, double& target) {
        if (parseInRange(positionals[index], limits.low, limits.high, target)) {
            return true;
        }
        cl.error = name + ": " + syntax.positionals[index] + " must be a number from " +
                   rangeText(limits.low, limits.high) + ", not \"" + positionals[index] + "\"";
        return false;
    };
    const auto address = [&](const std::string& text, const char* what) {
        if (isDottedAddress(text)) {
            return true;
        }
        cl.error = name + ": " + what + " must be a dotted IPv4 address, not \"" + text + "\"";
        return false;
    };

    switch (cl.command) {
    case Command::Get:
    case Command::Home:
    case Command::Move:
    case Command::Accel:
    case Command::RunPath:
    case Command::Rotctld:
        cl.address = positionals[0];
        if (!address(cl.address, "ADDR")) {
            return cl;
        }
        break;
    default:
        break;
    }
    switch (cl.command) {
    case Command::Move:
        if (!number(1, azimuthLimits, cl.azimuth) || !number(2, elevationLimits, cl.elevation)) {
            return cl;
        }
        break;
    case Command::Accel:
        number(1, accelerationLimits, cl.acceleration);
        break;
    case Command::SetIp:
        cl.serial = positionals[0];
        cl.newAddress = positionals[1];
        if (cl.serial.empty()) {
            return fail("SERIAL must not be empty");
        }
        address(cl.newAddress, "NEWADDR");
        break;
    case Command::RunPath:
        cl.inputFile = positionals[1];
        break;
    case Command::Rotctld:
        if (cl.minAzimuth >= cl.maxAzimuth) {
            return fail("--az-min must be below --az-max");
        }
        if (cl.minElevation >= cl.maxElevation) {
            return fail("--el-min must be below --el-max");
        }
        break;
    case Command::Stats:
        cl.inputFile = positionals[0];
        break;
    case Command::MakePath: {
        cl.pattern.pattern = positionals[0];
        std::string text;
        std::string problem;
        if (!makePathText(cl.pattern, text, problem)) {
            return fail(problem);
        }
        break;
    }
    case Command::Plot: {
        cl.inputFile = positionals[0];
        std::string lower = cl.outputFile;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto endsWith = [&](const char* suffix) {
            const std::string s(suffix);
            return lower.size() > s.size() &&
                   lower.compare(lower.size() - s.size(), s.size(), s) == 0;
        };
        if (cl.outputFile.empty()) {
            return fail("-o FILE.svg or -o FILE.png is required");
        }
        if (!endsWith(".svg") && !endsWith(".png")) {
            return fail("the output file must end in .svg or .png, not \"" + cl.outputFile + "\"");
        }
        break;
    }
    default:
        break;
    }
    return cl;
}

std::string CommandLine::usage()
{
    return R"(Usage: vantorctl [--stats] COMMAND ARGUMENTS [OPTIONS]
       vantorctl --help | --version

Command-line client of the Vantor pointing device (UDP/IPv4, device port 4365).
Device commands print the status text of the device library on standard output,
for instance "Error 0x00: No Error.", and exit with the status code.

Commands:
  discover [--broadcast ADDR] [--port P] [--timeout MS] [--json]
      Broadcast the discovery query (default 255.255.255.255, port 4365) and list
      the devices that answer within MS milliseconds (default 1500): serial and IP,
      as a table or as a JSON array of {"serial": ..., "ip": ...}.
  get ADDR
      Read the aperture angles; prints the status text, then "AZ EL" in degrees.
  home ADDR
      Move to the home position.
  move ADDR AZ EL [--speed S] [--set]
      Point at AZ (0 to 655.35) and EL (-327.68 to 327.67) degrees with speed S
      (0.01 to 182.04, default 10): TrackApertureAngles, which is answered at once,
      or with --set SetApertureAngles, which is answered when the device is there.
  accel ADDR A
      Set the acceleration (0.01 to 5000000).
  set-ip SERIAL NEWADDR [--broadcast ADDR] [--port P]
      Ask the device with this serial, by broadcast, to take the IPv4 address
      NEWADDR. A device that changes its address may not answer (time-out, 254):
      run discover to see where it is.
  run-path ADDR FILE.csv [--speed S] [--accel A] [--delay MS] [--delay2 MS] [--set]
      Set the acceleration A (default 10000), then run the path file as Quorvel's
      Execute Path does: rows without a speed use S (default 10), rows without a
      dwell time wait MS (default 100) before reading the position and MS2
      (--delay2, default 100) before the next command; a dwell time replaces both.
      Writes the timing log on standard output, the results file
      a<A>_s<S>_d<MS>ms.csv in the current directory and "Current error: " with the
      summed pointing errors. Exits with the first failed transaction's status.
  plot RESULTS.csv -o FILE.svg|FILE.png [--size WxH]
      Draw a results file: targets and actual positions on an azimuth/elevation
      chart with each row's error between them, and the per-row errors below
      (default size 1200x900 pixels). Needs no display.
  stats RESULTS.csv [--json]
      Pointing statistics of a results file: rows read back; per axis (azimuth
      the short way round, and cross-elevation: azimuth x cos(elevation)) the
      bias (mean of actual - target), standard deviation, RMS and largest error;
      the file's two sums as the "Current error: " line adds them; the angle on
      the sky between target and actual (mean, RMS, 95th percentile, max); and
      for every target visited more than once its repeatability (2 x standard
      deviation) and, when approached from both sides, its reversal error
      (mean from above - mean from below). A table, or one JSON object.
  make-path PATTERN [options] > path.csv
      Write a test pattern as a path file for Load Path and run-path:
        grid --az FROM:TO:STEP --el FROM:TO:STEP     serpentine raster
        repeat --targets AZ,EL;AZ,EL;... [--passes N] [--bidirectional
               [--overshoot DEG]]   N passes (default 3) over the targets; with
               --bidirectional each is approached from both sides through
               points DEG (default 1) beyond it on each axis, the first on the
               side away from the previous target
        steps --center AZ,EL --sizes S1,S2,...     steps away and back on each
               axis in both directions, for settle time
      --speed S and --dwell MS (whole ms, needs --speed) add those columns. The
      last point is written twice: a run reads the last row's position at once
      after its command, and the repeated row makes that reading a settled one.
  rotctld ADDR [--listen HOST:PORT] [--set] [--speed S] [--az-min DEG]
          [--az-max DEG] [--el-min DEG] [--el-max DEG] [--deadband DEG]
      Serve Hamlib's rotctld protocol on HOST:PORT (default 127.0.0.1:4533) and
      drive the device at ADDR with it, so that Gpredict, rotctl (-m 2) and other
      Hamlib programs point it. Set position is TrackApertureAngles at speed S
      (default 10), or SetApertureAngles with --set (answered on arrival, which
      may take longer than a client waits); get position GetApertureAngles; park
      Home; stop reads the position and tracks to it. Azimuth -180 to 0 is taken
      as 180 to 360. Positions outside az 0 to 360 and el -35 to 35 (or the
      limits given, azimuth 0 to 360) are refused with nothing sent. Requests
      closer than --deadband degrees (default 0) to the last target on both axes
      are answered without being sent. Runs until Ctrl+C; one line per connection
      and per failed device command on standard error. Anyone who can reach the
      listening port can point the device: listen on another address than
      127.0.0.1 only on a network you trust.

Options:
  --port P     device port of get, home, move, accel, run-path and rotctld
               (default 4365); broadcast port of discover and set-ip
  --stats      after a device command or run-path, write to standard error the
               round-trip time of its transactions (p50, p99, max, per operation)
               and the count of time-outs and busy answers
  --help, -h   this text
  --version    the version

Numbers are read and written with a decimal point whatever the locale.

Exit status:
  0      success
  1-8    the device's status code (its error reply; any other code a device
         sends passes through unchanged)
  64     usage error: unknown command or option, wrong arguments, a value out of
         range, an address that is not dotted IPv4
  66     an input file cannot be read, or is not a results file
  69     no device answered the discovery, or the link failed (socket, send), or
         rotctld cannot listen on its port
  73     an output file (results file, picture) cannot be written
  253    busy: the client had a transaction in progress
  254    time-out: no answer from the device
  255    another error of the client
)";
}

} // namespace halvik::vantorctl
