#pragma once

#include <halvik/simulatoroptions.h>

#include <string>
#include <vector>

namespace halvik::sim {

/// The options of vantor_sim, parsed without the locale.
struct CommandLine
{
    SimulatorOptions simulator;
    bool verbose = false;
    bool help = false;
    /// --version was given.
    bool version = false;
    /// Set when the arguments cannot be used; the program prints it and the usage.
    std::string error;

    /// Parses the arguments after the program name.
    static CommandLine parse(const std::vector<std::string>& args);
    /// The --help text.
    static std::string usage();
};

} // namespace halvik::sim
