#pragma once

#include <map>
#include <string>

namespace halvik {

/// Discovered devices: serial (raw bytes of the answer's payload) to dotted IPv4 address,
/// ordered by the serials' bytes.
using VantorMap = std::map<std::string, std::string>;

} // namespace halvik
