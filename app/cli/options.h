// The command line of vrk, parsed without touching the system, so that every command, option
// and mistake can be checked without a port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/events.h"

namespace vrk::cli {

enum class Command { none, ports, info, download, compare, set_id, set, qb7, run };

enum class Verbosity { quiet, normal, verbose };

struct Options {
    Command command = Command::none;
    std::vector<std::string> ports;  // --port, in order given
    bool simulate = false;
    std::optional<std::string> simulate_flash_out;  // with simulate: the unit's flash, at exit
    double link_timeout_s = 10;
    bool repeat = false;
    bool json = false;
    std::optional<std::string> trace;
    std::optional<std::string> record;
    Verbosity verbosity = Verbosity::normal;
    bool help = false;
    bool version = false;

    std::string image;   // download, compare
    bool verify = true;  // download: --no-verify turns it off
    std::string id;      // set-id: the ID in the unit's code page, at most 8 characters
    device::Setting setting = device::Setting::gps_type;  // set
    std::uint8_t code = 0;                                // set: the value, resolved
};

struct ParsedCommandLine {
    Options options;
    std::string error;  // non-empty: a usage error, to be shown with the usage text
};

// Reads the arguments that follow the program's name. Options may stand before or after the
// command; "--" ends them (an image whose name begins with '-').
[[nodiscard]] ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments);

// The --help text: commands, options, exit codes and the JSON events.
[[nodiscard]] std::string usage_text();

// The exit codes.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;     // the unit answered but the operation failed
inline constexpr int EXIT_USAGE = 2;      // unknown command or option, bad value
inline constexpr int EXIT_NO_LINK = 3;    // port not opened or lost, no unit within the time-out
inline constexpr int EXIT_BAD_IMAGE = 4;  // the image is missing, unreadable, empty or too large

}  // namespace vrk::cli
