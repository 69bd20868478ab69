// The window program's command line (vrkcfg, and vrkcfg.exe on Windows), after a toolkit has
// taken its own options out of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::app {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool simulate = false;                 // start the built-in simulated unit and open its port
    std::string simulate_flash_out;        // with simulate: write the unit's flash here at exit
    std::string simulate_log;              // with simulate: one hex line per message it takes
    std::optional<std::string> port;       // open this device, without asking
    std::string image;                     // the image file to preselect, exactly as given
    std::optional<std::string> self_test;  // picture to save once linked, then exit
    std::string error;                     // non-empty: the line is wrong, say this and the usage
};

// What the texts show of the system the program runs on.
struct PortWords {
    std::string_view example;    // a port name as people type it: "/dev/ttyUSB0", "COM1"
    std::string_view list_note;  // how the program finds ports and what opening one needs
};

// Reads the arguments that follow the program's name. Options: --port DEVICE (or
// --port=DEVICE), --simulate, --simulate-flash-out FILE and --simulate-log FILE (only with
// --simulate), --self-test PNG, --version, --help (-h); "--" ends the options. The other
// arguments are the image's name: a name with blanks that the shell split is put back together
// with single blanks, and quotes that reached the program stay as they are (the main window
// drops a leading and trailing pair).
[[nodiscard]] CommandLine parse_command_line(const std::vector<std::string>& arguments,
                                             const PortWords& words);

// The usage text for --help and for a wrong command line.
[[nodiscard]] std::string usage_text(const std::string& program, const PortWords& words);

}  // namespace vrk::app
