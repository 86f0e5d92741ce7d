#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halvik::vantorctl::rotctl {

/// Hamlib's error numbers, as they travel in "RPRT n" (negated).
namespace hamlib {
constexpr int Ok = 0;
constexpr int InvalidArgument = 1;
constexpr int NotImplemented = 4;
constexpr int Timeout = 5;
constexpr int Io = 6;
constexpr int Rejected = 9;
constexpr int BusBusy = 14;
} // namespace hamlib

enum class Verb
{
    None, ///< an empty line: no reply
    SetPosition,
    GetPosition,
    Stop,
    Park,
    GetInfo,
    DumpState,
    Quit,
    Unknown
};

/// One request line of the rotctld protocol.
struct Request
{
    Verb verb = Verb::None;
    /// Hamlib's long name of the command ("set_pos"); the first word for an unknown one.
    std::string name;
    /// The arguments as sent; the extended reply echoes them.
    std::vector<std::string> arguments;
    /// 0 for the plain reply; otherwise the separator of the extended reply ('\n' for '+').
    char separator = 0;
    /// SetPosition: the angles as sent, read with a decimal point or comma.
    double azimuth = 0.0;
    double elevation = 0.0;
    /// The arguments do not fit the command (count, or a number that is not one).
    bool badArguments = false;
};

/// Parses one line without its line end. Short ("P 10 20") and long ("\set_pos 10 20") forms,
/// each with an optional extended-response prefix (+ ; | ,).
Request parseRequest(std::string_view line);

/// A finite decimal number with '.' or ',' as the decimal separator, read without the locale.
bool parseAngle(std::string_view text, double& value);

/// Hamlib's error number for a status of halvik::Vantor.
int hamlibError(int deviceStatus);

/// Fixed-point text with the given decimals, a point whatever the locale.
std::string fixed(double value, int decimals);

/// The reply to a request. `values` are (label, text) pairs of a get command that succeeded
/// ("Azimuth", "12.30"); the plain reply of a get lists only the texts and no RPRT line.
std::string formatReply(const Request& request, int error,
                        const std::vector<std::pair<std::string, std::string>>& values = {});

/// The limits that \dump_state announces: Hamlib's client refuses positions outside them
/// itself.
struct AnnouncedLimits
{
    double minAzimuth;
    double maxAzimuth;
    double minElevation;
    double maxElevation;
};

/// The reply to \dump_state: protocol version 1, then tag=value lines up to "done".
std::string dumpStateReply(const Request& request, const AnnouncedLimits& limits);

} // namespace halvik::vantorctl::rotctl
