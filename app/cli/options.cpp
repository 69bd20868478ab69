#include "app/cli/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "app/cli/common/utc_time.h"
#include "app/cli/station/id_scheme.h"
#include "app/cli/station/report_output.h"
#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/controls_model.h"
#include "platform/hex_text.h"

namespace vrk::cli {

namespace {

// The longest wait for a unit that makes sense to ask for: a day.
constexpr double MAX_LINK_TIMEOUT_S = 86'400;

std::optional<double> parse_seconds(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> parse_count(std::string_view text, std::uint64_t min,
                                         std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min ||
        value > max)
        return std::nullopt;
    return value;
}

bool plain_text(std::string_view text) {
    if (!platform::is_valid_utf8(text)) return false;
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

constexpr CommandSpec COMMANDS[] = {
    {"ports", Command::ports, 0, 0, "ports"},
    {"info", Command::info, 0, 0, "info"},
    {"download", Command::download, 1, 1, "download IMAGE [--no-verify]"},
    {"compare", Command::compare, 1, 1, "compare IMAGE"},
    {"set-id", Command::set_id, 1, 1, "set-id ID"},
    {"set", Command::set, 2, 2, "set gps|internal|external VALUE"},
    {"qb7", Command::qb7, 0, 0, "qb7"},
    {"run", Command::run, 0, 0, "run"},
    {"program", Command::program, 0, 1, "program [IMAGE] [--recipe FILE] [RECIPE OPTIONS]"},
    {"log", Command::log, 0, 0, "log [--format csv|jsonl] [--since TIME] [--serial N] [--id ID]"},
    {"report", Command::report, 0, 0,
     "report [--since TIME] [--until TIME] [--by GROUP] [--format text|csv|json]"},
    {"import", Command::import_records, 1, 1, "import FILE.db --db URI"},
    {"ids", Command::ids, 0, 0,
     "ids [--format csv|jsonl] [--id ID] [--serial N] [--state reserved|bound|spent]"},
};

}  // namespace

struct ParseState {
    Options& options;
    std::optional<std::string> id_option;  // --id, until the command says whose it is
    bool no_verify = false;
    std::string error;
    std::optional<std::string> format;  // --format, until the command says which it takes

    bool fail(std::string message) {
        error = std::move(message);
        return false;
    }
};

namespace {

using G = OptionGroup;

// A count from `min` to `max` into `out`, or the usage error that names the range.
bool whole_number(ParseState& p, const std::string& text, std::string_view name, std::uint64_t min,
                  std::uint64_t max, std::string_view range, std::uint64_t& out) {
    const auto number = parse_count(text, min, max);
    if (!number)
        return p.fail(std::string(name) + " expects a whole number " + std::string(range) +
                      ", not '" + text + "'");
    out = *number;
    return true;
}

// A program-wide option goes with every command; a unit's port and what is recorded of its
// line make no sense for log, report and import, which work on databases only, and ports opens
// no session.
constexpr CommandSet EVERY = CommandSet::all();
constexpr CommandSet UNIT_COMMANDS = CommandSet::all()
                                         .without(Command::log)
                                         .without(Command::report)
                                         .without(Command::import_records)
                                         .without(Command::ids);
constexpr CommandSet SESSION_COMMANDS = UNIT_COMMANDS.without(Command::ports);

constexpr OptionRow OPTIONS[] = {
    // What a production station does to every unit.
    {"--recipe",
     "",
     "FILE",
     {Command::program},
     G::recipe,
     "a TOML recipe: image (relative to the file), image_sha256, verify,\n"
     "id or id_format and id_start, [settings] gps, internal, external,\n"
     "then (\"run\" or \"qb7\"), [checks] flash_type (a code), min_version,\n"
     "db (as --db), db_wait (as --db-wait)",
     [](ParseState& p, const std::string& v) {
         p.options.recipe = v;
         return true;
     },
     "--recipe needs a file, for example station.toml",
     "program"},
    {"--no-verify",
     "",
     "",
     {Command::download, Command::program},
     G::recipe,
     "no compare after the download",
     [](ParseState& p, const std::string&) {
         p.no_verify = true;
         return true;
     },
     {},
     "download or program"},
    {"--id",
     "",
     "ID",
     {Command::program, Command::log, Command::ids},
     G::recipe,
     "this ID for the one unit (one --port, no --repeat)",
     [](ParseState& p, const std::string& v) {
         p.id_option = v;
         return true;
     },
     "--id needs an ID",
     "program, log or ids",
     " (vrk set-id ID sets one)",
     "the runs of units that had or got this ID (log); this ID (ids)"},
    {"--id-format",
     "",
     "TEMPLATE",
     {Command::program},
     G::recipe,
     "number the units: literal text, one counter {} or {:0N} (zero-\n"
     "padded to N digits) and {station}, as 'L{station}{:05}'",
     [](ParseState& p, const std::string& v) {
         p.options.id_format = v;
         return true;
     },
     "--id-format needs a template, for example 'L1{:05}'",
     "program"},
    {"--id-start",
     "",
     "N",
     {Command::program},
     G::recipe,
     "the counter starts at N, or is raised to it (default 1)",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--id-start", 0, ID_COUNTER_MAX,
                           "from 0 to " + std::to_string(ID_COUNTER_MAX), n))
             return false;
         p.options.id_start = n;
         return true;
     },
     {},
     "program"},
    {"--new-id",
     "",
     "",
     {Command::program},
     G::recipe,
     "a unit the database knows gets a new ID all the same",
     [](ParseState& p, const std::string&) {
         p.options.new_id = true;
         return true;
     },
     {},
     "program"},
    {"--set",
     "",
     "gps|internal|external=VALUE",
     {Command::program},
     G::recipe,
     "a device setting, as vrk set takes it (repeat for each)",
     [](ParseState& p, const std::string& text) {
         const auto eq = text.find('=');
         const auto setting = setting_named(text.substr(0, eq));
         if (eq == std::string::npos || !setting)
             return p.fail("--set expects gps=VALUE, internal=VALUE or external=VALUE, not '" +
                           text + "'");
         std::string error;
         const auto code = resolve_setting(*setting, text.substr(eq + 1), &error);
         if (!code) return p.fail("--set " + text.substr(0, eq) + ": " + error);
         DeviceCodes& codes = p.options.settings;
         auto& slot = *setting == device::Setting::gps_type          ? codes.gps
                      : *setting == device::Setting::internal_device ? codes.internal
                                                                     : codes.external;
         if (slot) return p.fail("--set " + text.substr(0, eq) + " given twice");
         slot = *code;
         return true;
     },
     "--set needs a setting and its value, as gps=SiRF",
     "program",
     " (vrk set changes one setting)"},
    {"--then",
     "",
     "run|qb7",
     {Command::program},
     G::recipe,
     "start the application, or enter QB7 mode, at the end",
     [](ParseState& p, const std::string& v) {
         const auto mode = final_mode_named(v);
         if (!mode)
             return p.fail("--then expects run (start the application) or qb7, not '" + v + "'");
         p.options.then = *mode;
         return true;
     },
     {},
     "program"},
    {"--station-number",
     "",
     "N",
     {Command::program, Command::report},
     G::recipe,
     "this station's number, for {station} and the records",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--station-number", 0, STATION_NUMBER_MAX,
                           "from 0 to " + std::to_string(STATION_NUMBER_MAX), n))
             return false;
         p.options.station_number = static_cast<std::uint32_t>(n);
         return true;
     },
     {},
     "program or report",
     {},
     {},
     "only the runs of this station"},
    {"--operator",
     "",
     "NAME",
     {Command::program, Command::report},
     G::recipe,
     "who works the station, for the records",
     [](ParseState& p, const std::string& v) {
         if (!plain_text(v))
             return p.fail("--operator needs a name (text without control characters)");
         p.options.operator_name = v;
         return true;
     },
     "--operator needs a name (text without control characters)",
     "program or report",
     {},
     {},
     "only the runs of this operator"},
    {"--lot",
     "",
     "TEXT",
     {Command::program, Command::log, Command::report},
     G::recipe,
     "the work order (lot) the units belong to, for the records",
     [](ParseState& p, const std::string& v) {
         if (!plain_text(v))
             return p.fail("--lot needs a work order (text without control characters)");
         p.options.lot = v;
         return true;
     },
     "--lot needs a work order (text without control characters)",
     "program, log or report",
     {},
     "the runs of one work order",
     "only the runs of one work order"},
    {"--count",
     "",
     "N",
     {Command::program},
     G::recipe,
     "with --repeat: stop after N units",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--count", 1, UINT32_MAX, "from 1", n)) return false;
         p.options.count = static_cast<std::uint32_t>(n);
         return true;
     },
     {},
     "program --repeat"},
    {"--max-failures",
     "",
     "M",
     {Command::program},
     G::recipe,
     "with --repeat: stop after M failures",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--max-failures", 1, UINT32_MAX, "from 1", n)) return false;
         p.options.max_failures = static_cast<std::uint32_t>(n);
         return true;
     },
     {},
     "program --repeat"},
    {"--on-unit",
     "",
     "COMMAND",
     {Command::program},
     G::recipe,
     "run COMMAND once each unit's row is completed, passed or\n"
     "failed: the row as JSON on its input, VRK_RESULT, VRK_ID,\n"
     "VRK_SERIAL, VRK_PORT, VRK_RUN_KEY, VRK_LOT in its environment\n"
     "(split as a shell splits words, nothing expanded: sh -c '...')",
     [](ParseState& p, const std::string& v) {
         p.options.on_unit = v;
         return true;
     },
     "--on-unit needs a command, for example \"lp -d labels label.txt\"",
     "program"},
    {"--on-unit-timeout",
     "",
     "SECONDS",
     {Command::program},
     G::recipe,
     "end a hook, and all it started, after SECONDS (30)",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--on-unit-timeout", 1, HOOK_TIMEOUT_MAX_S,
                           "from 1 to " + std::to_string(HOOK_TIMEOUT_MAX_S), n))
             return false;
         p.options.on_unit_timeout_s = static_cast<std::uint32_t>(n);
         return true;
     },
     {},
     "program"},
    {"--db",
     "",
     "FILE|URI",
     {Command::program, Command::log, Command::report, Command::import_records,
      Command::ids},
     G::recipe,
     "the station database (program, log, report, import, ids): a file, or\n"
     "a line's PostgreSQL database as postgresql://USER@HOST/DB (no\n"
     "password in it: ~/.pgpass, PGPASSFILE, PGPASSWORD or a service\n"
     "file); else the recipe's db, else $VRK_DB, else\n"
     "$XDG_DATA_HOME/vrk/station.db\n"
     "(~/.local/share/vrk/station.db; on Windows the PC's\n"
     "%ProgramData%\\vrk\\station.db)",
     [](ParseState& p, const std::string& v) {
         p.options.db = v;
         return true;
     },
     "--db needs a file or a URI, for example station.db or postgresql://vrk@line-db/vrk",
     "program, log, report, import or ids"},
    {"--db-wait",
     "",
     "SECONDS",
     {Command::program},
     G::recipe,
     "a line's database server that goes away during the run is waited\n"
     "for up to SECONDS (60; 0: the run ends at once); meanwhile no new\n"
     "unit is taken and no unit is shown passed; no effect on a file",
     [](ParseState& p, const std::string& v) {
         std::uint64_t n = 0;
         if (!whole_number(p, v, "--db-wait", 0, DB_WAIT_MAX_S,
                           "from 0 to " + std::to_string(DB_WAIT_MAX_S), n))
             return false;
         p.options.db_wait_s = static_cast<std::uint32_t>(n);
         return true;
     },
     {},
     "program"},

    // vrk log and vrk ids.
    {"--format",
     "",
     "csv|jsonl",
     {Command::log, Command::report, Command::ids},
     G::log,
     "CSV with a header row (the default) or JSON Lines",
     // log and report take different formats: checked once the command is known.
     [](ParseState& p, const std::string& v) {
         p.format = v;
         return true;
     },
     "--format needs a format",
     "log, report or ids",
     {},
     {},
     "an aligned table (the default), CSV, or one JSON object",
     "text|csv|json"},
    {"--since",
     "",
     "TIME",
     {Command::log, Command::report},
     G::log,
     "runs started at or after a UTC time, as 2025-03-01T14:30:00Z",
     [](ParseState& p, const std::string& v) {
         const auto since = utc_time_text(v);
         if (!since)
             return p.fail(
                 "--since expects a UTC time in ISO 8601, as 2025-03-01 or "
                 "2025-03-01T14:30:00Z, not '" +
                 v + "'");
         p.options.since = *since;
         return true;
     },
     {},
     "log or report",
     {},
     {},
     "runs started at or after a UTC time, as for log"},
    {"--serial",
     "",
     "N",
     {Command::log, Command::ids},
     G::log,
     "one unit's runs (log) or IDs (ids), by its serial number",
     [](ParseState& p, const std::string& v) {
         std::int32_t serial = 0;
         const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), serial);
         if (v.empty() || error != std::errc{} || end != v.data() + v.size())
             return p.fail("--serial expects a serial number, not '" + v + "'");
         p.options.serial_number = serial;
         return true;
     },
     {},
     "log or ids"},
    {"--state",
     "",
     "reserved|bound|spent",
     {Command::ids},
     G::log,
     "ids: the IDs in this state only",
     [](ParseState& p, const std::string& v) {
         const auto state = id_state_named(v);
         if (!state) return p.fail("--state expects reserved, bound or spent, not '" + v + "'");
         p.options.id_state = *state;
         return true;
     },
     {},
     "ids"},

    // vrk report (a unit counts once, by its last run in the range).
    {"--until",
     "",
     "TIME",
     {Command::report},
     G::report,
     "runs started before a UTC time, as for log",
     [](ParseState& p, const std::string& v) {
         const auto until = utc_time_text(v);
         if (!until)
             return p.fail(
                 "--until expects a UTC time in ISO 8601, as 2025-03-01 or "
                 "2025-03-01T14:30:00Z, not '" +
                 v + "'");
         p.options.until = *until;
         return true;
     },
     {},
     "report"},
    {"--by",
     "",
     "station|port|operator|lot|hour|day",
     {Command::report},
     G::report,
     "a row per group (hours and days in this machine's time zone)",
     [](ParseState& p, const std::string& v) {
         const auto by = report_by_named(v);
         if (!by)
             return p.fail("--by expects station, port, operator, lot, hour or day, not '" + v +
                           "'");
         p.options.report_by = *by;
         return true;
     },
     {},
     "report"},
    {"--utc",
     "",
     "",
     {Command::report},
     G::report,
     "hours and days in UTC",
     [](ParseState& p, const std::string&) {
         p.options.utc = true;
         return true;
     },
     {},
     "report"},

    // Before or after the command.
    {"--port", "", "DEVICE", UNIT_COMMANDS, G::general,
     "the serial port (repeat it to work on several units at once);\n"
     "without it, the only serial port there is",
     [](ParseState& p, const std::string& v) {
         p.options.ports.push_back(v);
         return true;
     },
     "--port needs a device, for example --port /dev/ttyUSB0"},
    {"--simulate", "", "", SESSION_COMMANDS, G::general,
     "a built-in simulated unit instead of a port",
     [](ParseState& p, const std::string&) {
         p.options.simulate = true;
         return true;
     }},
    {"--simulate-flash-out", "", "FILE", SESSION_COMMANDS, G::general,
     "with --simulate: write the simulated unit's flash to FILE at exit",
     [](ParseState& p, const std::string& v) {
         p.options.simulate_flash_out = v;
         return true;
     },
     "--simulate-flash-out needs a file"},
    {"--link-timeout", "", "SECONDS", EVERY, G::general,
     "how long to look for the unit and for its identity (its ID and\n"
     "version reports asked again until two agree) (default 10; 0: no\n"
     "limit)",
     [](ParseState& p, const std::string& v) {
         const auto seconds = parse_seconds(v);
         // 0: no limit (a station waits for its units as long as it takes).
         if (!seconds || *seconds < 0 || *seconds > MAX_LINK_TIMEOUT_S)
             return p.fail("--link-timeout expects seconds from 0 to 86400, not '" + v + "'");
         p.options.link_timeout_s = *seconds;
         return true;
     },
     "--link-timeout needs a number of seconds"},
    {"--repeat",
     "",
     "",
     {Command::download, Command::compare, Command::program},
     G::general,
     "with download, compare or program: after each unit, wait for\n"
     "the next one on the same port (a unit with another serial number,\n"
     "or one plugged in after the port went), until Ctrl+C; a port that\n"
     "is not there yet is waited for; a summary over all ports at the end",
     [](ParseState& p, const std::string&) {
         p.options.repeat = true;
         return true;
     },
     {},
     "download, compare or program"},
    {"--json", "", "", UNIT_COMMANDS, G::general,
     "JSON Lines on standard output, one object per event",
     [](ParseState& p, const std::string&) {
         p.options.json = true;
         return true;
     }},
    {"--trace", "", "FILE", UNIT_COMMANDS, G::general,
     "a timed trace of every frame on the line, both ways",
     [](ParseState& p, const std::string& v) {
         p.options.trace = v;
         return true;
     },
     "--trace needs a file"},
    {"--record", "", "FILE.vbm", SESSION_COMMANDS, G::general,
     "record the requests sent into a macro file (one port only)",
     [](ParseState& p, const std::string& v) {
         p.options.record = v;
         return true;
     },
     "--record needs a macro file, for example unit.vbm"},
    {"--quiet", "-q", "", EVERY, G::general, "only errors on standard error",
     [](ParseState& p, const std::string&) {
         p.options.verbosity = Verbosity::quiet;
         return true;
     }},
    {"--verbose", "-v", "", EVERY, G::general, "the status of every step on standard error",
     [](ParseState& p, const std::string&) {
         p.options.verbosity = Verbosity::verbose;
         return true;
     }},
    {"--help", "-h", "", EVERY, G::general, "this text",
     [](ParseState& p, const std::string&) {
         p.options.help = true;
         return true;
     }},
    {"--version", "", "", EVERY, G::general, "the program's version",
     [](ParseState& p, const std::string&) {
         p.options.version = true;
         return true;
     }},
};

const OptionRow* option_named(std::string_view arg) {
    for (const OptionRow& entry : OPTIONS)
        if (arg == entry.name || (!entry.short_name.empty() && arg == entry.short_name)) return &entry;
    return nullptr;
}

}  // namespace

std::span<const OptionRow> option_table() {
    return OPTIONS;
}

std::span<const CommandSpec> command_table() {
    return COMMANDS;
}

std::string_view command_name(Command command) {
    for (const CommandSpec& c : COMMANDS)
        if (c.command == command) return c.name;
    return "none";
}

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    ParseState state{o, std::nullopt, false, {}, std::nullopt};
    std::vector<std::string> words;
    std::vector<const OptionRow*> given;  // the options used, for the commands they go with
    bool options_ended = false;
    const auto fail = [&parsed](std::string error) {
        parsed.error = std::move(error);
        return parsed;
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        std::optional<std::string> inline_value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = arg.substr(eq + 1);
            arg.erase(eq);
        }
        const OptionRow* entry = option_named(arg);
        if (entry == nullptr) return fail("unknown option " + arguments[i]);
        given.push_back(entry);
        std::string value;
        if (entry->value.empty()) {
            // Every flag alike: a value after '=' is a mistake, never ignored.
            if (inline_value) return fail(std::string(entry->name) + " takes no value");
        } else if (inline_value) {
            value = *inline_value;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        if (!entry->value.empty() && value.empty() && !entry->needs.empty())
            return fail(std::string(entry->needs));
        if (!entry->apply(state, value)) return fail(state.error);
    }
    if (o.help || o.version) return parsed;

    if (words.empty()) return fail("no command given");
    const auto named = std::find_if(std::begin(COMMANDS), std::end(COMMANDS),
                                    [&](const CommandSpec& c) { return c.name == words[0]; });
    if (named == std::end(COMMANDS)) return fail("unknown command '" + words[0] + "'");
    o.command = named->command;
    if (words.size() - 1 < named->min_arguments || words.size() - 1 > named->max_arguments)
        return fail("usage: vrk [OPTIONS] " + std::string(named->form));

    for (const OptionRow* entry : given) {
        if (entry->commands.has(o.command) || entry->scope.empty()) continue;
        return fail(std::string(entry->name) + " goes with " + std::string(entry->scope) + " only" +
                    std::string(entry->hint));
    }

    std::string error;
    switch (o.command) {
        case Command::download:
        case Command::compare:
            o.image = words[1];
            break;
        case Command::program:
            if (words.size() > 1) o.image = words[1];
            break;
        case Command::import_records:
            o.image = words[1];
            break;
        case Command::set_id:
            if (auto id = unit_id(words[1], IdCharacters::code_page, &error)) {
                o.id = *id;
                break;
            }
            return fail(error);
        case Command::set: {
            const auto setting = setting_named(words[1]);
            if (!setting)
                return fail("unknown setting '" + words[1] + "': gps, internal or external");
            o.setting = *setting;
            const auto code = resolve_setting(*setting, words[2], &error);
            if (!code) return fail("set " + words[1] + ": " + error);
            o.code = *code;
            break;
        }
        default:
            break;
    }
    if (state.id_option && o.command == Command::program) {
        const auto id = station_id(*state.id_option, &error);
        if (!id) return fail("--id: " + error);
        o.fixed_id = *id;
    }
    if (state.id_option && (o.command == Command::log || o.command == Command::ids))
        o.id_filter = *state.id_option;
    if (state.format && (o.command == Command::log || o.command == Command::ids)) {
        if (*state.format != "csv" && *state.format != "jsonl")
            return fail("--format expects csv or jsonl, not '" + *state.format + "'");
        o.log_format = *state.format == "csv" ? LogFormat::csv : LogFormat::jsonl;
    }
    if (state.format && o.command == Command::report) {
        const std::string& f = *state.format;
        if (f != "text" && f != "csv" && f != "json")
            return fail("--format expects text, csv or json, not '" + f + "'");
        o.report_format = f == "text"  ? ReportFormat::text
                          : f == "csv" ? ReportFormat::csv
                                       : ReportFormat::json;
    }
    if (o.since && o.until && *o.until <= *o.since)
        return fail("--until must be later than --since: no run starts in between");

    o.verify = !state.no_verify;
    if (o.simulate && !o.ports.empty())
        return fail("--port and --simulate cannot be used together");
    if (o.simulate_flash_out && !o.simulate) return fail("--simulate-flash-out needs --simulate");
    if (o.simulate && o.command == Command::ports)
        return fail("ports lists this machine's serial ports; --simulate has none");
    if (o.record && o.command == Command::ports)
        return fail("--record needs a command that talks to a unit");
    if (o.record && o.ports.size() > 1)
        return fail("--record records one unit: give one --port only");
    // One ID in several units is exactly what a unit's ID is there to prevent.
    if (o.command == Command::set_id && o.ports.size() > 1)
        return fail(
            "set-id gives one unit its ID: give one --port only (vrk program "
            "--id-format numbers several units)");
    if (o.fixed_id && (o.ports.size() > 1 || o.repeat))
        return fail(
            "a fixed --id goes to one unit: give one --port and no --repeat, or number "
            "the units with --id-format");
    if (o.fixed_id && o.id_format) return fail("--id and --id-format cannot be used together");
    if ((o.count || o.max_failures) && !o.repeat)
        return fail(std::string(o.count ? "--count" : "--max-failures") +
                    " counts the units of --repeat: add --repeat");
    if (o.command == Command::log || o.command == Command::report || o.command == Command::ids) {
        const std::string name(command_name(o.command));
        if (o.json)
            return fail(name + " writes its output itself: --format " +
                        (o.command == Command::report ? "json for JSON" : "jsonl for JSON Lines"));
        const char* port_option = !o.ports.empty() ? "--port"
                                  : o.simulate     ? "--simulate"
                                  : o.trace        ? "--trace"
                                  : o.record       ? "--record"
                                                   : nullptr;
        if (port_option != nullptr)
            return fail(name + " reads the station database and talks to no unit: " +
                        port_option + " does not go with it");
    }
    for (std::size_t i = 0; i < o.ports.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (o.ports[i] == o.ports[j]) return fail("--port " + o.ports[i] + " given twice");
    // Whatever the checks above let through, an option never goes with a command it is not for.
    for (const OptionRow* entry : given)
        if (!entry->commands.has(o.command))
            return fail(std::string(entry->name) + " does not go with " +
                        std::string(command_name(o.command)));
    return parsed;
}

namespace {

// A row of --help: the option's name (and value) in a column of its own, its text beside it.
void append_option(std::string& text, const OptionRow& entry, std::string_view help) {
    constexpr std::size_t TEXT_COLUMN = 28;
    std::string label = "  ";
    if (!entry.short_name.empty()) label += std::string(entry.short_name) + ", ";
    label += entry.name;
    if (!entry.value.empty()) label += " " + std::string(entry.value);
    if (label.size() < TEXT_COLUMN)
        label.resize(TEXT_COLUMN, ' ');
    else
        label += "\n" + std::string(TEXT_COLUMN, ' ');
    text += label;
    for (const char c : help) {
        text += c;
        if (c == '\n') text += std::string(TEXT_COLUMN, ' ');
    }
    text += '\n';
}

std::string option_rows(OptionGroup group) {
    std::string text;
    for (const OptionRow& entry : OPTIONS) {
        if (entry.group == group) append_option(text, entry, entry.help);
        if (group == OptionGroup::log && !entry.log_help.empty())
            append_option(text, entry, entry.log_help);
        if (group == OptionGroup::report && !entry.report_help.empty()) {
            OptionRow shown = entry;
            if (!entry.report_value.empty()) shown.value = entry.report_value;
            append_option(text, shown, entry.report_help);
        }
    }
    return text;
}

}  // namespace

std::string usage_text() {
    return R"(Usage: vrk [OPTIONS] COMMAND [ARGUMENTS]
Works with VRK 700 units on serial lines, for scripts, service benches and production lines.

Commands:
  ports                     the serial ports: device and whether it can be opened
  info                      the unit's ID, firmware version, flash type, serial number,
                            crystal and its three device settings
  download IMAGE            erase, program and verify (compare every page) the image
  download IMAGE --no-verify
                            erase and program only
  compare IMAGE             compare the unit's flash with the image
  set-id ID                 change the unit's ID (at most 8 characters, upper case)
  set gps|internal|external VALUE
                            change a device setting, by its text (as the window lists it)
                            or its code (9 or 0x09)
  qb7                       put the unit into QB7 mode
  run                       start the unit's application
  program [IMAGE]           a production station's whole recipe per unit, in one run: the
                            image downloaded and verified, the unit's ID, its settings, then
                            optionally its application started; every unit recorded in the
                            station database
  log                       the station database's records, one row per unit handled
  report                    the yield of the station database's records: units, passed,
                            first passes, failures by result and step, durations
  ids                       the IDs the station database holds: each one's state
                            (reserved, bound, spent), source, unit, station and times
  import FILE.db            a station's records brought into the line's database (--db URI):
                            rows by run key (twice adds nothing), IDs with their states,
                            counters raised; an ID the line gives another unit is listed and
                            left as the line has it (exit 1)

)" + std::string("Recipe (program; the file gives what the command line leaves out):\n") +
           option_rows(OptionGroup::recipe) + "\nLog and IDs (log, ids):\n" + option_rows(OptionGroup::log) +
           "\nReport (report; a unit counts once, by its last run in the range):\n" +
           option_rows(OptionGroup::report) + "\nOptions (before or after the command):\n" + option_rows(OptionGroup::general) +
           R"(
On a terminal, standard error shows the operator's board: a line per port (waiting,
linking, programming 43 %, verifying, retrying page N (k of n done), PASS with the ID and
serial number or FAIL with the reason, kept until the next unit, remove unit) with its
counters, and a total line with the yield; a bell on failure. It stays on the screen when
the run ends. Standard output has one line per unit, passed or failed.

Exit codes (with several ports, the highest of theirs), and the results that end with each:
)" + exit_code_text() +
           R"(
JSON (--json): one object per line, each with "schema" (1), "event", "port" (null for the
run as a whole) and "time" (UTC, ISO 8601):
  port {state, stable_name, description}          the ports command
  waiting {for: port|next_unit}                   --repeat
  link_up {baud}, link_lost {reason: modem_lines|mode_report|port_lost}
  unit {id, version, flash_type, flash_type_code, serial_number, crystal, crystal_hz, gps,
       internal, external}                        once its identity agreed
  remove_unit {id, serial_number}                 the unit handled is still there
  record {run_key, state: begun|completed, database, result}
  id_reserved {id, source: scheme|fixed|carried, serial_number, run_key}
  id_from_records {id, id_before, serial_number, run_key}
  ids_running_out {scheme, left}                  90 % of the ID scheme used, once per run
  operation_started {operation, image, size, pages, resumed}
  progress {phase, pages_done, pages, percent}    at most one per percent
  page_retried {phase, page}
  setting {setting, code, text, confirmed}
  step {step: download|id|settings|then, result, message}
  mode {mode: qb7|application_running}
  error {result, exit_code, message}              before any port is used; usage errors
  finished {command, result, ok, exit_code, message, id, serial_number, version,
       flash_type, settings, duration_ms, tool_version; download, compare and program:
       operation, image, image_size, image_sha256, pages_done, pages; program: run_key,
       id_before, id_after, steps}
  summary {units, succeeded, failed, yield_percent, ports}   after --repeat
The README describes every field.
)";
}

}  // namespace vrk::cli
