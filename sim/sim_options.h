// The command line of the vrk-sim program, parsed without touching the system so that every
// option and every mistake can be tested.
#pragma once

#include <string>
#include <vector>

#include "sim/simulator.h"

namespace vrk::sim {

struct SimOptions {
    UnitConfig unit;
    std::string link;        // a symbolic link to create that points at the terminal
    std::string demo_image;  // write the demo image here and exit
    bool help = false;
    bool version = false;  // the program's own version
};

struct ParseResult {
    SimOptions options;
    std::string error;  // empty when the command line was good
};

// Parses the arguments that follow the program name.
[[nodiscard]] ParseResult parse_sim_options(const std::vector<std::string>& args);

// The --help text.
[[nodiscard]] std::string sim_usage();

}  // namespace vrk::sim
