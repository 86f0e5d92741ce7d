#pragma once

#include <string>

namespace halvik::bench {

/// The whole-number value after the option `name` on the command line, or fallback.
int argument(int argc, char** argv, const std::string& name, int fallback);

} // namespace halvik::bench
