#include <halvik/statuscode.h>

#include <cstdio>

namespace halvik {

namespace {

const char* fixedText(StatusCode code)
{
    switch (code) {
    case 0:
        return "No Error.";
    case 1:
        return "Invalid Argument Length";
    case 2:
        return "Argument Out Of Range";
    case 3:
        return "Not Ready";
    case 4:
        return "Not Homed";
    case 5:
        return "Invalid Argument";
    case 6:
        return "Unknown Command";
    case 7:
        return "Invalid Command";
    case 8:
        return "Scan Too Sparse";
    case 252:
        return "Invalid Callback";
    case 253:
        return "Vantor driver busy";
    case 254:
        return "Timeout when attempting to communicate with vantor.";
    case 255:
        return "Other Error";
    default:
        return "Unknown Error Code";
    }
}

} // namespace

std::string statusCodeText(StatusCode code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(code));
    return std::string("Error 0x") + hex + ": " + fixedText(code);
}

} // namespace halvik
