#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace halvik::sim {

/// vantor_sim: parses the arguments, serves the devices until SIGINT or SIGTERM and returns the
/// exit code (0, or 2 for bad arguments, 1 when a socket cannot be bound).
int runSimulatorProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace halvik::sim
