#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace halvik::vantorctl {

/// Runs vantorctl with the arguments after the program name, writing to out and err, and
/// returns the exit status (exitstatus.h). Creates an offscreen QGuiApplication for plot when
/// the process has none.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace halvik::vantorctl
