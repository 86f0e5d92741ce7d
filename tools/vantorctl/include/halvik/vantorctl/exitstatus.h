#pragma once

namespace halvik::vantorctl {

/// Exit statuses of vantorctl besides 0 and the status codes that pass through unchanged (the
/// device's codes 1-8, busy 253, time-out 254, other error 255). None of these is a device code.
namespace exitstatus {
/// Bad arguments: unknown command or option, wrong count, a number or address that is not one.
constexpr int Usage = 64;
/// An input file cannot be read, or is not a results file.
constexpr int InputFile = 66;
/// No device answered a discovery, or the link failed (socket cannot be opened, send fails).
constexpr int NoDevice = 69;
/// An output file (results file, picture) cannot be written.
constexpr int OutputFile = 73;
} // namespace exitstatus

} // namespace halvik::vantorctl
