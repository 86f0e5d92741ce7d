#include "commandline.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/system/system_error.hpp>

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

namespace halvik::sim {

namespace {

template <typename T> bool parseNumber(const std::string& text, T& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool parseFraction(const std::string& text, double& value)
{
    return parseNumber(text, value) && value >= 0.0 && value <= 1.0;
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args)
{
    CommandLine cl;
    cl.simulator.devices = 1;
    cl.simulator.port = 4365;
    SimulatorOptions& o = cl.simulator;

    const std::map<std::string, std::function<bool()>> flags = {
        {"--help", [&] { return cl.help = true; }},
        {"-h", [&] { return cl.help = true; }},
        {"--version", [&] { return cl.version = true; }},
        {"--verbose", [&] { return cl.verbose = true; }},
        {"--require-home", [&] { return o.requireHome = true; }},
        {"--no-broadcast", [&] { return !(o.listenBroadcast = false); }},
        {"--silent", [&] { return o.faults.silent = true; }},
    };
    using Setter = std::function<bool(const std::string&)>;
    const std::map<std::string, Setter> valued = {
        {"--devices",
         [&](const std::string& v) {
             return parseNumber(v, o.devices) && o.devices >= 1 && o.devices <= 250;
         }},
        {"--first-address",
         [&](const std::string& v) {
             boost::system::error_code ec;
             boost::asio::ip::make_address_v4(v, ec);
             o.firstAddress = v;
             return !ec;
         }},
        {"--port", [&](const std::string& v) { return parseNumber(v, o.port); }},
        {"--serial-prefix", [&](const std::string& v) { return !(o.serialPrefix = v).empty(); }},
        {"--drop", [&](const std::string& v) { return parseFraction(v, o.faults.dropFraction); }},
        {"--delay-ms", [&](const std::string& v) { return parseNumber(v, o.faults.delayMs); }},
        {"--duplicate",
         [&](const std::string& v) { return parseFraction(v, o.faults.duplicateFraction); }},
        {"--wrong-code",
         [&](const std::string& v) { return parseFraction(v, o.faults.wrongCodeFraction); }},
        {"--junk", [&](const std::string& v) { return parseFraction(v, o.faults.junkFraction); }},
        {"--seed", [&](const std::string& v) { return parseNumber(v, o.faults.seed); }},
        {"--backlash",
         [&](const std::string& v) {
             return parseNumber(v, o.backlash) && o.backlash >= 0.0 && std::isfinite(o.backlash);
         }},
        {"--offset",
         [&](const std::string& v) {
             const auto comma = v.find(',');
             return comma != std::string::npos &&
                    parseNumber(v.substr(0, comma), o.offset.azimuth) &&
                    parseNumber(v.substr(comma + 1), o.offset.elevation) &&
                    std::isfinite(o.offset.azimuth) && std::isfinite(o.offset.elevation);
         }},
        {"--noise",
         [&](const std::string& v) {
             return parseNumber(v, o.readbackNoise) && o.readbackNoise >= 0.0 &&
                    std::isfinite(o.readbackNoise);
         }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (const auto f = flags.find(name); f != flags.end() && !hasValue) {
            f->second();
            continue;
        }
        const auto s = valued.find(name);
        if (s == valued.end()) {
            cl.error = "unknown option " + args[i];
            return cl;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                cl.error = name + " needs a value";
                return cl;
            }
            value = args[++i];
        }
        if (!s->second(value)) {
            cl.error = "bad value for " + name + ": " + value;
            return cl;
        }
    }
    // The last device must still be an address that exists.
    if (cl.error.empty()) {
        const auto first = boost::asio::ip::make_address_v4(o.firstAddress).to_uint();
        if (first > std::numeric_limits<std::uint32_t>::max() - static_cast<unsigned>(o.devices)) {
            cl.error = "too many devices after " + o.firstAddress;
        }
    }
    return cl;
}

std::string CommandLine::usage()
{
    return R"(Usage: vantor_sim [options]

Simulated Vantor pointing devices on loopback. Device i (from 0) listens on
<first-address>+i:<port> and answers HOME, SEAA, TRAA, SEAC, GEAA, CQRE and SIPC;
one socket on 0.0.0.0:<port> receives discovery and IP-change broadcasts
(127.255.255.255 on loopback) for all of them. Runs until SIGINT or SIGTERM.

Motion: the speed field (speed x 360 on the wire) is read as field / 3.6 deg/s, so
speed 10 moves at 1000 deg/s; the acceleration field is deg/s^2 (10000 until the
first SEAC). Both axes follow a trapezoidal profile; HOME goes to az 0, el 0
at 1000 deg/s. GEAA reads back the position with a small seeded noise.

Options:
  --devices N          number of devices, 1 to 250 (default 1)
  --first-address A    address of the first device (default 127.0.0.2)
  --port P             UDP port of every device; 0 picks a free one (default 4365)
  --serial-prefix S    serials are S0001, S0002, ... (default VNT)
  --require-home       refuse SEAA and TRAA with status 4 until the first HOME
  --no-broadcast       no 0.0.0.0 listener: no answers to broadcasts
  --noise DEG          peak read-back noise in degrees (default 0.02)
  --backlash DEG       reversal dead zone of both axes: the read-back lags by
                       DEG/2 in the direction of the axis's last move (default 0)
  --offset AZ,EL       fixed pointing offset added to the read-back (default 0,0)
  --verbose            one line per request and reply on standard error: UTC
                       time, device, peer, header, payload in hex, what it did

Faults (fractions from 0 to 1, applied to replies, reproducible with --seed):
  --drop F             leave out a fraction of replies
  --delay-ms N         send every reply N ms late
  --duplicate F        send a fraction of replies twice
  --wrong-code F       answer a fraction with another command code
  --junk F             precede a fraction of replies with random bytes
  --silent             answer nothing
  --seed N             seed of the faults and noise (default 1; device i uses N+i)
  --help               this text
  --version            the version
)";
}

} // namespace halvik::sim
