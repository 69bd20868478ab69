// The command line of vrk, parsed without touching the system, so that every command, option
// and mistake can be checked without a port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/station/device_codes.h"
#include "app/cli/station/report_output.h"
#include "device/events.h"

namespace vrk::cli {

enum class Command {
    none,
    ports,
    info,
    download,
    compare,
    set_id,
    set,
    qb7,
    run,
    program,
    log,
    report
};

enum class Verbosity { quiet, normal, verbose };

// What a unit is left doing at the end of program: in its configuration (none), running its
// application, or in QB7 mode.
enum class FinalMode { none, run, qb7 };

enum class LogFormat { csv, jsonl };

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

    // program: each is nullopt (or empty) when not given; the recipe file, if any, fills in
    // what the command line leaves out (see make_recipe).
    std::optional<std::string> recipe;     // --recipe FILE
    std::optional<std::string> fixed_id;   // --id: a station ID (letters upper case)
    std::optional<std::string> id_format;  // --id-format: checked once the station is known
    std::optional<std::uint64_t> id_start;
    bool new_id = false;
    DeviceCodes settings;           // --set gps=VALUE, internal=, external=: resolved codes
    std::optional<FinalMode> then;  // --then run|qb7
    std::optional<std::uint32_t> station_number;  // report: chooses rows by it
    std::string operator_name;           // --operator, empty by default; report chooses by it
    std::optional<std::string> lot;      // --lot: program records it; log, report choose by it
    std::optional<std::string> db;       // program, log, report: --db FILE
    std::optional<std::uint32_t> count;  // program --repeat: stop after this many units
    std::optional<std::uint32_t> max_failures;

    // log
    LogFormat log_format = LogFormat::csv;
    std::optional<std::string> since;  // normalised: "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::optional<std::int32_t> serial_number;
    std::optional<std::string> id_filter;  // --id

    // report
    std::optional<std::string> until;  // as since
    ReportBy report_by = ReportBy::none;
    bool utc = false;
    ReportFormat report_format = ReportFormat::text;
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

// A device setting's value as vrk set takes it: the whole text of a list item (any case,
// blanks at either end ignored, in the unit's code page or UTF-8) or its code in decimal or as
// 0x.. hex. nullopt, with the reason and the valid values in *error, when it names no item or
// several.
[[nodiscard]] std::optional<std::uint8_t> resolve_setting(device::Setting setting,
                                                          std::string_view value,
                                                          std::string* error);
// "gps", "internal", "external".
[[nodiscard]] std::optional<device::Setting> setting_named(std::string_view name);

// A time in ISO 8601, UTC: "2025-03-01", "2025-03-01T12:30", "2025-03-01T12:30:15" or with
// fractions of a second, optionally ending in "Z"; as the records write times
// ("2025-03-01T12:30:15.000Z"), so that the text compares as the time does. nullopt when it
// is not such a time (another time zone included).
[[nodiscard]] std::optional<std::string> utc_time_text(std::string_view text);

// The exit codes.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;     // the unit answered but the operation failed
inline constexpr int EXIT_USAGE = 2;      // unknown command or option, bad value
inline constexpr int EXIT_NO_LINK = 3;    // port not opened or lost, no unit within the time-out
inline constexpr int EXIT_BAD_IMAGE = 4;  // the image is missing, unreadable, empty or too large
inline constexpr int EXIT_DATABASE = 5;   // the station database cannot be opened or written

}  // namespace vrk::cli
