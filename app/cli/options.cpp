#include "app/cli/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/controls_model.h"

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

std::optional<device::Setting> setting_named(std::string_view name) {
    if (name == "gps") return device::Setting::gps_type;
    if (name == "internal") return device::Setting::internal_device;
    if (name == "external") return device::Setting::external_device;
    return std::nullopt;
}

std::string hex_code(std::uint8_t code) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[code >> 4] + digits[code & 0x0F];
}

// A value of a device setting: the whole text of a list item (case-insensitive, blanks at
// either end ignored) or its code, in decimal or as 0x.. hex. Sets *error when it names no item
// or several.
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
        list += "\n  " + hex_code(choice.code) + "  " + std::string(trim(choice.text_utf8));
    *error = std::string(found.empty() ? "unknown" : "ambiguous") + " value '" +
             std::string(value) + "'; the valid values are:" + list;
    return std::nullopt;
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

struct CommandName {
    std::string_view name;
    Command command;
    std::size_t arguments;
};

constexpr CommandName COMMANDS[] = {
    {"ports", Command::ports, 0},       {"info", Command::info, 0},
    {"download", Command::download, 1}, {"compare", Command::compare, 1},
    {"set-id", Command::set_id, 1},     {"set", Command::set, 2},
    {"qb7", Command::qb7, 0},           {"run", Command::run, 0},
};

}  // namespace

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    std::vector<std::string> words;
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
            if (!seconds || *seconds <= 0 || *seconds > MAX_LINK_TIMEOUT_S)
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
    if (words.size() - 1 != named->arguments) {
        static constexpr const char* forms[] = {"",
                                                "ports",
                                                "info",
                                                "download IMAGE [--no-verify]",
                                                "compare IMAGE",
                                                "set-id ID",
                                                "set gps|internal|external VALUE",
                                                "qb7",
                                                "run"};
        return fail(std::string("usage: vrk [OPTIONS] ") +
                    forms[static_cast<std::size_t>(o.command)]);
    }

    std::string error;
    switch (o.command) {
        case Command::download:
        case Command::compare:
            o.image = words[1];
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

    if (no_verify && o.command != Command::download)
        return fail("--no-verify goes with download only");
    o.verify = !no_verify;
    if (o.repeat && o.command != Command::download && o.command != Command::compare)
        return fail("--repeat goes with download or compare only");
    if (o.simulate && !o.ports.empty())
        return fail("--port and --simulate cannot be used together");
    if (o.simulate_flash_out && !o.simulate) return fail("--simulate-flash-out needs --simulate");
    if (o.simulate && o.command == Command::ports)
        return fail("ports lists this machine's serial ports; --simulate has none");
    if (o.record && o.command == Command::ports)
        return fail("--record needs a command that talks to a unit");
    if (o.record && o.ports.size() > 1)
        return fail("--record records one unit: give one --port only");
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

Options (before or after the command):
  --port DEVICE             the serial port (repeat it to work on several units at once);
                            without it, the only serial port there is
  --simulate                a built-in simulated unit instead of a port
  --simulate-flash-out FILE with --simulate: write the simulated unit's flash to FILE at exit
  --link-timeout SECONDS    how long to look for the unit (default 10)
  --repeat                  with download or compare: after each unit, wait for the next one
                            on the same port, until Ctrl+C
  --json                    JSON Lines on standard output, one object per event
  --trace FILE              a timed trace of every frame on the line, both ways
  --record FILE.vbm         record the requests sent into a macro file (one port only)
  -q, --quiet               only errors on standard error
  -v, --verbose             the status of every step on standard error
  -h, --help                this text
  --version                 the program's version

Exit codes (with several ports, the highest of theirs):
  0  everything asked for succeeded (for download, including the verify)
  1  the unit answered but the operation failed: a mismatch in compare or verify, the unit
     stopped responding, a change was not confirmed, or Ctrl+C interrupted it
  2  usage error: unknown command or option, a bad value, an ID too long
  3  no link: the port cannot be opened or was lost, or no unit answered in time
  4  the image does not exist, cannot be read, is empty or too large

JSON events (--json), each with "event", "port" and "time" (UTC):
  link_up {baud}, link_lost {reason}, unit {id, version, flash_type, serial_number,
  crystal, gps, internal, external}, operation_started {operation, image, size, pages},
  progress {phase, pages_done, pages, percent}, page_retried {phase, page}, setting
  {setting, code, text, confirmed}, mode {mode}, error {result, message}, finished {command,
  result, ok, exit_code, message, id, serial_number, duration_ms, tool_version, and for a
  download or compare: operation, image, image_size, image_sha256, pages_done, pages},
  summary {units, succeeded, failed} after --repeat. The README describes every field.
)";
}

}  // namespace vrk::cli
