#include "app/cli/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "app/cli/station/id_scheme.h"
#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/controls_model.h"
#include "platform/hex_text.h"

namespace vrk::cli {

namespace {

// The longest wait for a unit that makes sense to ask for: a day.
constexpr double MAX_LINK_TIMEOUT_S = 86'400;
constexpr std::size_t ID_MAX_CHARS = 8;

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<unsigned> parse_code(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || value > 0xFF)
        return std::nullopt;
    return value;
}

std::optional<double> parse_seconds(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The ID as the window sends it: the unit's code page, letters upper case (as the ID box
// turns them). Longer than 8 characters is refused, not cut: a cut ID is some other unit's.
std::optional<std::string> unit_id(std::string_view text, std::string* error) {
    if (!platform::is_valid_utf8(text)) {
        *error = "the ID is not valid text";
        return std::nullopt;
    }
    const std::u32string chars = platform::utf8_to_unicode(text);
    if (chars.empty()) {
        *error = "the ID is empty";
        return std::nullopt;
    }
    if (chars.size() > ID_MAX_CHARS) {
        *error = "the ID '" + std::string(text) + "' is longer than 8 characters";
        return std::nullopt;
    }
    std::string bytes;
    for (char32_t c : chars) {
        const auto byte = platform::unicode_to_windows1255(c);
        if (!byte || *byte < 0x20 || *byte == 0x7F) {
            *error = "the ID '" + std::string(text) + "' holds a character the unit cannot store";
            return std::nullopt;
        }
        char b = static_cast<char>(*byte);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        bytes += b;
    }
    return bytes;
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

// The counter of an ID scheme never needs more than 8 digits: IDs have at most 8 characters.
constexpr std::uint64_t MAX_ID_START = 99'999'999;

struct CommandName {
    std::string_view name;
    Command command;
    std::size_t min_arguments, max_arguments;
    std::string_view form;  // how it is used, for a usage error
};

constexpr CommandName COMMANDS[] = {
    {"ports", Command::ports, 0, 0, "ports"},
    {"info", Command::info, 0, 0, "info"},
    {"download", Command::download, 1, 1, "download IMAGE [--no-verify]"},
    {"compare", Command::compare, 1, 1, "compare IMAGE"},
    {"set-id", Command::set_id, 1, 1, "set-id ID"},
    {"set", Command::set, 2, 2, "set gps|internal|external VALUE"},
    {"qb7", Command::qb7, 0, 0, "qb7"},
    {"run", Command::run, 0, 0, "run"},
    {"program", Command::program, 0, 1, "program [IMAGE] [--recipe FILE] [RECIPE OPTIONS]"},
    {"log", Command::log, 0, 0,
     "log [--format csv|jsonl] [--since TIME] [--serial N] [--id ID] [--lot TEXT]"},
    {"report", Command::report, 0, 0,
     "report [--since TIME] [--until TIME] [--lot TEXT] [--station-number N] [--operator NAME] "
     "[--by station|port|operator|lot|hour|day] [--utc] [--format text|csv|json]"},
};

// The options that belong to some commands only, and which.
struct OptionScope {
    std::string_view option;
    std::array<Command, 3> commands;  // Command::none fills the rest
    std::string_view which;
    std::string_view hint = {};
};

const OptionScope OPTION_SCOPES[] = {
    {"--no-verify", {Command::download, Command::program}, "download or program"},
    {"--repeat",
     {Command::download, Command::compare, Command::program},
     "download, compare or program"},
    {"--recipe", {Command::program}, "program"},
    {"--id-format", {Command::program}, "program"},
    {"--id-start", {Command::program}, "program"},
    {"--new-id", {Command::program}, "program"},
    {"--set", {Command::program}, "program", " (vrk set changes one setting)"},
    {"--then", {Command::program}, "program"},
    {"--station-number", {Command::program, Command::report}, "program or report"},
    {"--operator", {Command::program, Command::report}, "program or report"},
    {"--lot", {Command::program, Command::log, Command::report}, "program, log or report"},
    {"--count", {Command::program}, "program --repeat"},
    {"--max-failures", {Command::program}, "program --repeat"},
    {"--id", {Command::program, Command::log}, "program or log", " (vrk set-id ID sets one)"},
    {"--db", {Command::program, Command::log, Command::report}, "program, log or report"},
    {"--format", {Command::log, Command::report}, "log or report"},
    {"--since", {Command::log, Command::report}, "log or report"},
    {"--serial", {Command::log}, "log"},
    {"--until", {Command::report}, "report"},
    {"--by", {Command::report}, "report"},
    {"--utc", {Command::report}, "report"},
};

}  // namespace

std::optional<std::uint8_t> resolve_setting(device::Setting setting, std::string_view value,
                                            std::string* error) {
    const auto choices = app::setting_choices(setting);
    const std::string_view wanted = trim(value);
    std::vector<const app::SettingChoice*> found;
    const auto code = parse_code(wanted);
    for (const auto& choice : choices) {
        // The texts are compared as the list compares them, and in UTF-8 too, so the Hebrew
        // row can be typed as a terminal sends it.
        const bool by_text =
            !wanted.empty() && (platform::compare_list_text(trim(choice.text), wanted) == 0 ||
                                platform::compare_list_text(trim(choice.text_utf8), wanted) == 0);
        const bool by_code = code && *code == choice.code;
        if (by_text || by_code) found.push_back(&choice);
    }
    if (found.size() == 1) return found.front()->code;
    std::string list;
    for (const auto& choice : choices)
        list +=
            "\n  " + platform::hex_code(choice.code) + "  " + std::string(trim(choice.text_utf8));
    *error = std::string(found.empty() ? "unknown" : "ambiguous") + " value '" +
             std::string(value) + "'; the valid values are:" + list;
    return std::nullopt;
}

std::optional<device::Setting> setting_named(std::string_view name) {
    if (name == "gps") return device::Setting::gps_type;
    if (name == "internal") return device::Setting::internal_device;
    if (name == "external") return device::Setting::external_device;
    return std::nullopt;
}

std::optional<std::string> utc_time_text(std::string_view text) {
    std::size_t at = 0;
    const auto number = [&](std::size_t digits) -> std::optional<unsigned> {
        if (at + digits > text.size()) return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        at += digits;
        return value;
    };
    const auto literal = [&](char c) {
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    };
    const auto year = number(4);
    if (!year || !literal('-')) return std::nullopt;
    const auto month = number(2);
    if (!month || !literal('-')) return std::nullopt;
    const auto day = number(2);
    if (!day) return std::nullopt;
    unsigned hour = 0, minute = 0, second = 0, millisecond = 0;
    if (literal('T')) {
        const auto h = number(2);
        if (!h || !literal(':')) return std::nullopt;
        const auto m = number(2);
        if (!m) return std::nullopt;
        hour = *h;
        minute = *m;
        if (literal(':')) {
            const auto sec = number(2);
            if (!sec) return std::nullopt;
            second = *sec;
            if (literal('.')) {
                // Milliseconds, as the records keep them; finer digits are cut.
                std::size_t digits = 0;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
                    if (digits < 3)
                        millisecond = millisecond * 10 + static_cast<unsigned>(text[at] - '0');
                if (digits == 0) return std::nullopt;
                for (; digits < 3; ++digits) millisecond *= 10;
            }
        }
    }
    (void)literal('Z');
    if (at != text.size()) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                           std::chrono::month(*month), std::chrono::day(*day)};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    char out[32];
    std::snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", *year, *month, *day, hour,
                  minute, second, millisecond);
    return std::string(out);
}

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    std::vector<std::string> words;
    std::vector<std::string> given;  // the options used, for the commands they belong to
    std::optional<std::string> id_option;
    std::optional<std::string> format;  // log and report know different ones
    bool no_verify = false;
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
        given.push_back(arg);
        const auto value = [&](std::string& out) -> bool {
            if (inline_value) {
                out = *inline_value;
            } else {
                if (i + 1 >= arguments.size()) return false;
                out = arguments[++i];
            }
            return !out.empty();
        };
        const auto flag = [&](bool& out) {
            out = true;
            return !inline_value;
        };
        std::string text;
        if (arg == "--port") {
            if (!value(text)) return fail("--port needs a device, for example --port /dev/ttyUSB0");
            o.ports.push_back(text);
        } else if (arg == "--link-timeout") {
            if (!value(text)) return fail("--link-timeout needs a number of seconds");
            const auto seconds = parse_seconds(text);
            // 0: no limit (a station waits for its units as long as it takes).
            if (!seconds || *seconds < 0 || *seconds > MAX_LINK_TIMEOUT_S)
                return fail("--link-timeout expects seconds from 0 to 86400, not '" + text + "'");
            o.link_timeout_s = *seconds;
        } else if (arg == "--trace") {
            if (!value(text)) return fail("--trace needs a file");
            o.trace = text;
        } else if (arg == "--record") {
            if (!value(text)) return fail("--record needs a macro file, for example unit.vbm");
            o.record = text;
        } else if (arg == "--simulate") {
            if (!flag(o.simulate)) return fail("--simulate takes no value");
        } else if (arg == "--simulate-flash-out") {
            if (!value(text)) return fail("--simulate-flash-out needs a file");
            o.simulate_flash_out = text;
        } else if (arg == "--repeat") {
            if (!flag(o.repeat)) return fail("--repeat takes no value");
        } else if (arg == "--json") {
            if (!flag(o.json)) return fail("--json takes no value");
        } else if (arg == "--no-verify") {
            if (!flag(no_verify)) return fail("--no-verify takes no value");
        } else if (arg == "--recipe") {
            if (!value(text)) return fail("--recipe needs a file, for example station.toml");
            o.recipe = text;
        } else if (arg == "--id") {
            if (!value(text)) return fail("--id needs an ID");
            id_option = text;
        } else if (arg == "--id-format") {
            if (!value(text)) return fail("--id-format needs a template, for example 'L1{:05}'");
            o.id_format = text;
        } else if (arg == "--id-start") {
            const bool has = value(text);
            const auto start = parse_count(text, 0, MAX_ID_START);
            if (!has || !start)
                return fail("--id-start expects a whole number from 0 to 99999999, not '" + text +
                            "'");
            o.id_start = *start;
        } else if (arg == "--new-id") {
            if (!flag(o.new_id)) return fail("--new-id takes no value");
        } else if (arg == "--set") {
            if (!value(text)) return fail("--set needs a setting and its value, as gps=SiRF");
            const auto eq = text.find('=');
            const auto setting = setting_named(text.substr(0, eq));
            if (eq == std::string::npos || !setting)
                return fail("--set expects gps=VALUE, internal=VALUE or external=VALUE, not '" +
                            text + "'");
            std::string error;
            const auto code = resolve_setting(*setting, text.substr(eq + 1), &error);
            if (!code) return fail("--set " + text.substr(0, eq) + ": " + error);
            auto& slot = *setting == device::Setting::gps_type          ? o.settings.gps
                         : *setting == device::Setting::internal_device ? o.settings.internal
                                                                        : o.settings.external;
            if (slot) return fail("--set " + text.substr(0, eq) + " given twice");
            slot = *code;
        } else if (arg == "--then") {
            if (!value(text) || (text != "run" && text != "qb7"))
                return fail("--then expects run (start the application) or qb7, not '" + text +
                            "'");
            o.then = text == "run" ? FinalMode::run : FinalMode::qb7;
        } else if (arg == "--station-number") {
            const bool has = value(text);
            const auto number = parse_count(text, 0, STATION_NUMBER_MAX);
            if (!has || !number)
                return fail("--station-number expects a whole number from 0 to " +
                            std::to_string(STATION_NUMBER_MAX) + ", not '" + text + "'");
            o.station_number = static_cast<std::uint32_t>(*number);
        } else if (arg == "--operator") {
            if (!value(text) || !plain_text(text))
                return fail("--operator needs a name (text without control characters)");
            o.operator_name = text;
        } else if (arg == "--lot") {
            if (!value(text) || !plain_text(text))
                return fail("--lot needs a work order (text without control characters)");
            o.lot = text;
        } else if (arg == "--db") {
            if (!value(text)) return fail("--db needs a file, for example station.db");
            o.db = text;
        } else if (arg == "--count" || arg == "--max-failures") {
            const bool has = value(text);
            const auto number = parse_count(text, 1, UINT32_MAX);
            if (!has || !number)
                return fail(arg + " expects a whole number from 1, not '" + text + "'");
            (arg == "--count" ? o.count : o.max_failures) = static_cast<std::uint32_t>(*number);
        } else if (arg == "--format") {
            (void)value(text);
            format = text;
        } else if (arg == "--since" || arg == "--until") {
            const bool has = value(text);
            const auto time = utc_time_text(text);
            if (!has || !time)
                return fail(arg +
                            " expects a UTC time in ISO 8601, as 2025-03-01 or "
                            "2025-03-01T14:30:00Z, not '" +
                            text + "'");
            (arg == "--since" ? o.since : o.until) = *time;
        } else if (arg == "--by") {
            const bool has = value(text);
            const auto by = report_by_named(text);
            if (!has || !by)
                return fail("--by expects station, port, operator, lot, hour or day, not '" + text +
                            "'");
            o.report_by = *by;
        } else if (arg == "--utc") {
            if (!flag(o.utc)) return fail("--utc takes no value");
        } else if (arg == "--serial") {
            const bool has = value(text);
            std::int32_t serial = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), serial);
            if (!has || error != std::errc{} || end != text.data() + text.size())
                return fail("--serial expects a serial number, not '" + text + "'");
            o.serial_number = serial;
        } else if (arg == "-q" || arg == "--quiet") {
            o.verbosity = Verbosity::quiet;
        } else if (arg == "-v" || arg == "--verbose") {
            o.verbosity = Verbosity::verbose;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            return fail("unknown option " + arguments[i]);
        }
    }
    if (o.help || o.version) return parsed;

    if (words.empty()) return fail("no command given");
    const auto named = std::find_if(std::begin(COMMANDS), std::end(COMMANDS),
                                    [&](const CommandName& c) { return c.name == words[0]; });
    if (named == std::end(COMMANDS)) return fail("unknown command '" + words[0] + "'");
    o.command = named->command;
    if (words.size() - 1 < named->min_arguments || words.size() - 1 > named->max_arguments)
        return fail("usage: vrk [OPTIONS] " + std::string(named->form));

    for (const OptionScope& scope : OPTION_SCOPES) {
        const bool used = std::find(given.begin(), given.end(), scope.option) != given.end();
        const auto& allowed = scope.commands;
        if (used && std::find(allowed.begin(), allowed.end(), o.command) == allowed.end())
            return fail(std::string(scope.option) + " goes with " + std::string(scope.which) +
                        " only" + std::string(scope.hint));
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
        case Command::set_id:
            if (auto id = unit_id(words[1], &error)) {
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
    if (id_option && o.command == Command::program) {
        const auto id = station_id(*id_option, &error);
        if (!id) return fail("--id: " + error);
        o.fixed_id = *id;
    }
    if (id_option && o.command == Command::log) o.id_filter = *id_option;
    if (format && o.command == Command::log) {
        if (*format != "csv" && *format != "jsonl")
            return fail("--format expects csv or jsonl, not '" + *format + "'");
        o.log_format = *format == "csv" ? LogFormat::csv : LogFormat::jsonl;
    }
    if (format && o.command == Command::report) {
        if (*format != "text" && *format != "csv" && *format != "json")
            return fail("--format expects text, csv or json, not '" + *format + "'");
        o.report_format = *format == "text"  ? ReportFormat::text
                          : *format == "csv" ? ReportFormat::csv
                                             : ReportFormat::json;
    }
    if (o.since && o.until && *o.until <= *o.since)
        return fail("--until must be later than --since: no run starts in between");

    o.verify = !no_verify;
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
    if (o.command == Command::log || o.command == Command::report) {
        const bool log = o.command == Command::log;
        if (o.json)
            return fail(log ? "log writes its records itself: --format jsonl for JSON Lines"
                            : "report writes its numbers itself: --format json for JSON");
        const char* port_option = !o.ports.empty() ? "--port"
                                  : o.simulate     ? "--simulate"
                                  : o.trace        ? "--trace"
                                  : o.record       ? "--record"
                                                   : nullptr;
        if (port_option != nullptr)
            return fail(std::string(log ? "log" : "report") +
                        " reads the station database and talks to no unit: " + port_option +
                        " does not go with it");
    }
    for (std::size_t i = 0; i < o.ports.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (o.ports[i] == o.ports[j]) return fail("--port " + o.ports[i] + " given twice");
    return parsed;
}

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
  report                    the line's numbers from the records: units, yield, first-pass
                            yield, failures by result and by step, durations

Recipe (program; the file gives what the command line leaves out):
  --recipe FILE             a TOML recipe: image (relative to the file), image_sha256, verify,
                            id or id_format and id_start, [settings] gps, internal, external,
                            then ("run" or "qb7"), [checks] flash_type (a code), min_version
  --no-verify               no compare after the download
  --id ID                   this ID for the one unit (one --port, no --repeat)
  --id-format TEMPLATE      number the units: literal text, one counter {} or {:0N} (zero-
                            padded to N digits) and {station}, as 'L{station}{:05}'
  --id-start N              the counter starts at N, or is raised to it (default 1)
  --new-id                  a unit the database knows gets a new ID all the same
  --set gps|internal|external=VALUE
                            a device setting, as vrk set takes it (repeat for each)
  --then run|qb7            start the application, or enter QB7 mode, at the end
  --station-number N        this station's number, for {station} and the records
  --operator NAME           who works the station, for the records
  --lot TEXT                the work order (lot) the units belong to, for the records
  --count N, --max-failures M
                            with --repeat: stop after N units, or after M failures
  --db FILE                 the station database (program, log, report); by default
                            $XDG_DATA_HOME/vrk/station.db (~/.local/share/vrk/station.db)

Log (log):
  --format csv|jsonl        CSV with a header row (the default) or JSON Lines
  --since TIME              runs started at or after a UTC time, as 2025-03-01T14:30:00Z
  --serial N                one unit's runs, by its serial number
  --id ID                   the runs of units that had or got this ID
  --lot TEXT                the runs of one work order

Report (report; a unit counts once, by its last run in the range):
  --since TIME, --until TIME
                            runs started at or after, and before, UTC times as for log
  --lot TEXT, --station-number N, --operator NAME
                            only the runs of one work order, station or operator
  --by station|port|operator|lot|hour|day
                            a row per group (hours and days in this machine's time zone)
  --utc                     hours and days in UTC
  --format text|csv|json    an aligned table (the default), CSV, or one JSON object

Options (before or after the command):
  --port DEVICE             the serial port (repeat it to work on several units at once);
                            without it, the only serial port there is
  --simulate                a built-in simulated unit instead of a port
  --simulate-flash-out FILE with --simulate: write the simulated unit's flash to FILE at exit
  --link-timeout SECONDS    how long to look for the unit and for its identity (its ID and
                            version reports asked again until two agree) (default 10; 0: no
                            limit)
  --repeat                  with download, compare or program: after each unit, wait for
                            the next one on the same port (a unit with another serial number,
                            or one plugged in after the port went), until Ctrl+C; a port that
                            is not there yet is waited for; a summary over all ports at the end
  --json                    JSON Lines on standard output, one object per event
  --trace FILE              a timed trace of every frame on the line, both ways
  --record FILE.vbm         record the requests sent into a macro file (one port only)
  -q, --quiet               only errors on standard error
  -v, --verbose             the status of every step on standard error
  -h, --help                this text
  --version                 the program's version

On a terminal, standard error shows the operator's board: a line per port (waiting,
linking, programming 43 %, verifying, retrying page N (k), PASS with the ID, FAIL with the
reason, remove unit) with its counters, and a total line with the yield; a bell on failure.
Standard output has one line per unit, passed or failed.

Exit codes (with several ports, the highest of theirs):
  0  everything asked for succeeded (for download, including the verify)
  1  the unit answered but the operation failed: a mismatch in compare or verify, the unit
     stopped responding, a change was not confirmed, its identity did not agree, refused by
     the recipe's checks, a fixed --id another unit holds, or Ctrl+C interrupted it
  2  usage error: unknown command or option, a bad value, an ID too long, a mistake in the
     recipe (named by file and line), an ID scheme with no ID left
  3  no link: the port cannot be opened or was lost, or no unit answered in time
  4  the image does not exist, cannot be read, is empty or too large, or changed on the disk
  5  the station database cannot be opened, is not one, is read-only or the disk is full
     (a unit whose record cannot be written is never shown passed; every port stops)

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
Results: success, mismatch, not_responding, link_lost, port_lost, interrupted,
  file_not_found, file_unreadable, file_empty, file_too_large, no_link, port_unavailable,
  not_confirmed, record_failed, identity_unconfirmed, refused, id_taken, ids_exhausted,
  image_changed, database_unusable, usage, trace_failed.
The README describes every field.
)";
}

}  // namespace vrk::cli
