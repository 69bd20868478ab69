// The program's command line, after Qt has taken its own options out of it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vrk::qt {

struct CommandLine {
    bool help = false;
    bool simulate = false;                 // start the built-in simulated unit and open its port
    std::optional<std::string> port;       // open this device, without asking
    std::string image;                     // the image file to preselect, exactly as given
    std::optional<std::string> self_test;  // picture to save once linked, then exit
    std::string error;                     // non-empty: the line is wrong, say this and the usage
};

// Reads the arguments that follow the program's name. Options: --port DEVICE (or
// --port=DEVICE), --simulate, --help (-h); "--" ends the options. The other arguments are the
// image's name: a name with blanks that the shell split is put back together with single
// blanks, and quotes that reached the program stay as they are (the main window drops a
// leading and trailing pair).
[[nodiscard]] CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The usage text for --help and for a wrong command line.
[[nodiscard]] std::string usage_text(const std::string& program);

}  // namespace vrk::qt
