#include "rotctlprotocol.h"

#include <array>
#include <charconv>
#include <cmath>

namespace halvik::vantorctl::rotctl {

namespace {

struct CommandForm
{
    char shortForm; // 0: long form only
    const char* longForm;
    Verb verb;
    std::size_t argumentCount;
};

// Hamlib's own names, so that both forms and the extended reply read as rotctld's.
constexpr std::array<CommandForm, 8> commandForms{{
    {'P', "set_pos", Verb::SetPosition, 2},
    {'p', "get_pos", Verb::GetPosition, 0},
    {'S', "stop", Verb::Stop, 0},
    {'K', "park", Verb::Park, 0},
    {'_', "get_info", Verb::GetInfo, 0},
    {0, "dump_state", Verb::DumpState, 0},
    {'q', "quit", Verb::Quit, 0},
    {'Q', "quit", Verb::Quit, 0},
}};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> result;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !isSpace(text[i])) {
            ++i;
        }
        if (i > start) {
            result.emplace_back(text.substr(start, i - start));
        }
    }
    return result;
}

std::string replyEnd(int error)
{
    return "RPRT " + std::to_string(error == 0 ? 0 : -error) + "\n";
}

} // namespace

bool parseAngle(std::string_view text, double& value)
{
    // Trackers running under a decimal-comma locale print "174,46".
    std::string number(text);
    if (number.find('.') == std::string::npos) {
        if (const auto comma = number.find(','); comma != std::string::npos) {
            number[comma] = '.';
        }
    }
    if (!number.empty() && number.front() == '+') {
        number.erase(0, 1);
    }
    double parsed = 0.0;
    const char* end = number.data() + number.size();
    const auto result = std::from_chars(number.data(), end, parsed);
    if (number.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

Request parseRequest(std::string_view line)
{
    Request request;
    std::size_t i = 0;
    while (i < line.size() && isSpace(line[i])) {
        ++i;
    }
    if (i == line.size()) {
        return request;
    }
    const char prefix = line[i];
    if (prefix == '+' || prefix == ';' || prefix == '|' || prefix == ',') {
        request.separator = prefix == '+' ? '\n' : prefix;
        ++i;
    }
    std::string command;
    if (i < line.size() && line[i] == '\\') {
        const std::size_t start = ++i;
        while (i < line.size() && !isSpace(line[i])) {
            ++i;
        }
        command = std::string(line.substr(start, i - start));
    } else if (i < line.size()) {
        command = std::string(1, line[i++]);
    }
    request.arguments = words(line.substr(i));
    request.verb = Verb::Unknown;
    request.name = command;
    for (const CommandForm& form : commandForms) {
        if ((command.size() == 1 && command[0] == form.shortForm && form.shortForm != 0) ||
            command == form.longForm) {
            request.verb = form.verb;
            request.name = form.longForm;
            request.badArguments = request.arguments.size() != form.argumentCount;
            break;
        }
    }
    if (request.verb == Verb::SetPosition && !request.badArguments) {
        request.badArguments = !parseAngle(request.arguments[0], request.azimuth) ||
                               !parseAngle(request.arguments[1], request.elevation);
    }
    return request;
}

int hamlibError(int deviceStatus)
{
    switch (deviceStatus) {
    case 0:
        return hamlib::Ok;
    case 253:
        return hamlib::BusBusy;
    case 254:
        return hamlib::Timeout;
    case 255:
        return hamlib::Io;
    default:
        // The device's own error replies (1-8 and any other code it sends).
        return hamlib::Rejected;
    }
}

std::string fixed(double value, int decimals)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("nan");
}

std::string formatReply(const Request& request, int error,
                        const std::vector<std::pair<std::string, std::string>>& values)
{
    const bool get = request.verb == Verb::GetPosition || request.verb == Verb::GetInfo;
    if (request.separator == 0) {
        if (!get || error != 0) {
            return replyEnd(error);
        }
        std::string text;
        for (const auto& value : values) {
            text += value.second + '\n';
        }
        return text;
    }
    std::string text = request.name + ':';
    for (const std::string& argument : request.arguments) {
        text += ' ' + argument;
    }
    text += request.separator;
    if (error == 0) {
        for (const auto& value : values) {
            text += value.first + ": " + value.second + request.separator;
        }
    }
    return text + replyEnd(error);
}

std::string dumpStateReply(const Request& request, const AnnouncedLimits& limits)
{
    const std::string minAz = fixed(limits.minAzimuth, 6);
    const std::string maxAz = fixed(limits.maxAzimuth, 6);
    const std::string minEl = fixed(limits.minElevation, 6);
    const std::string maxEl = fixed(limits.maxElevation, 6);
    // Model 2 is Hamlib's network rotator, the backend that reads this.
    if (request.separator == 0) {
        return "1\n2\nmin_az=" + minAz + "\nmax_az=" + maxAz + "\nmin_el=" + minEl +
               "\nmax_el=" + maxEl + "\nsouth_zero=0\nrot_type=AzEl\ndone\n";
    }
    const char s = request.separator;
    return std::string("dump_state:") + s + "rotctld Protocol Ver: 1" + s + "Rotor Model: 2" + s +
           "Minimum Azimuth: " + minAz + s + "Maximum Azimuth: " + maxAz + s +
           "Minimum Elevation: " + minEl + s + "Maximum Elevation: " + maxEl + s + "South Zero: 0" +
           s + "rot_type=AzEl" + s + "done" + s + replyEnd(0);
}

} // namespace halvik::vantorctl::rotctl
