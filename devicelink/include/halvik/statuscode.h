#pragma once

#include <string>

namespace halvik {

/// Result of every device operation: 0 success, 1-8 device errors, 253 busy, 254 time-out.
using StatusCode = int;

namespace status {
constexpr StatusCode NoError = 0;
constexpr StatusCode InvalidArgumentLength = 1;
constexpr StatusCode ArgumentOutOfRange = 2;
constexpr StatusCode NotReady = 3;
constexpr StatusCode NotHomed = 4;
constexpr StatusCode InvalidArgument = 5;
constexpr StatusCode UnknownCommand = 6;
constexpr StatusCode InvalidCommand = 7;
constexpr StatusCode ScanTooSparse = 8;
constexpr StatusCode InvalidCallback = 252;
constexpr StatusCode Busy = 253;
constexpr StatusCode Timeout = 254;
constexpr StatusCode OtherError = 255;
} // namespace status

/// "Error 0x" + two lower-case hex digits + ": " + the code's fixed text.
std::string statusCodeText(StatusCode code);

} // namespace halvik
