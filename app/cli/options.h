// The command line of vrk, parsed without touching the system, so that every command, option
// and mistake can be checked without a port.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/common/results.h"
#include "app/cli/common/setting_values.h"
#include "app/cli/station/device_codes.h"
#include "app/cli/station/log_export.h"
#include "app/cli/station/recipe.h"
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
    report,
    import_records,
    ids,  // the last: CommandSet::all() counts on it
};

enum class Verbosity { quiet, normal, verbose };

// The command line; what it says of program's recipe is the base's.
struct Options : RecipeOptions {
    Command command = Command::none;
    bool simulate = false;
    std::optional<std::string> simulate_flash_out;  // with simulate: the unit's flash, at exit
    double link_timeout_s = 10;
    bool json = false;
    std::optional<std::string> trace;
    std::optional<std::string> record;
    Verbosity verbosity = Verbosity::normal;
    bool help = false;
    bool version = false;

    std::string id;  // set-id: the ID in the unit's code page, at most 8 characters
    device::Setting setting = device::Setting::gps_type;  // set
    std::uint8_t code = 0;                                // set: the value, resolved

    // log, ids
    LogFormat log_format = LogFormat::csv;
    std::optional<std::string> since;  // normalised: "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::optional<std::int32_t> serial_number;
    std::optional<std::string> id_filter;  // --id
    std::optional<IdState> id_state;       // ids: --state

    // report; --since as for log, --lot, --station-number and --operator as for program
    std::optional<std::string> until;  // normalised as --since
    ReportBy report_by = ReportBy::none;
    bool utc = false;
    ReportFormat report_format = ReportFormat::text;
};

// A set of commands: those an option goes with.
class CommandSet {
  public:
    constexpr CommandSet(std::initializer_list<Command> commands) {
        for (Command c : commands) bits_ |= bit(c);
    }
    // Every command there is.
    [[nodiscard]] static constexpr CommandSet all() {
        CommandSet set{};
        set.bits_ = bit(Command::ids) * 2 - bit(Command::ports);
        return set;
    }
    [[nodiscard]] constexpr CommandSet without(Command c) const {
        CommandSet set = *this;
        set.bits_ &= ~bit(c);
        return set;
    }
    [[nodiscard]] constexpr bool has(Command c) const { return (bits_ & bit(c)) != 0; }

  private:
    static constexpr std::uint32_t bit(Command c) { return 1u << static_cast<unsigned>(c); }
    std::uint32_t bits_ = 0;
};

// Where --help lists an option.
enum class OptionGroup { general, recipe, log, report };

// The parser's state while it reads one command line; its own.
struct ParseState;

// One option of vrk: the parser, the checks of which command it goes with and --help are all
// made from these rows (option_table()), and the manual page and the bash completion are
// checked against them.
struct OptionRow {
    std::string_view name;        // "--port"
    std::string_view short_name;  // "-q", or empty
    std::string_view value;       // what it takes, as --help names it ("DEVICE"); empty: a flag
    CommandSet commands;          // the commands it goes with
    OptionGroup group;
    std::string_view help;  // --help's text; each '\n' starts another line
    // Stores the value (empty for a flag). False, with the usage error in the state, when the
    // value is not one the option takes.
    bool (*apply)(ParseState& state, const std::string& value);
    // The usage error when the value is missing or empty; empty: apply() says what it expects.
    std::string_view needs = {};
    // For a usage error, the commands in words ("download or program") and a hint after them;
    // empty for an option whose other commands refuse it with reasons of their own.
    std::string_view scope = {};
    std::string_view hint = {};
    std::string_view log_help = {};     // listed under log too, with this text
    std::string_view report_help = {};  // listed under report too, with this text
    std::string_view report_value = {};  // what report's listing names the value, when not `value`
};

// Every option, in --help's order.
[[nodiscard]] std::span<const OptionRow> option_table();

// One command: its name, its arguments, how it is written in a usage error.
struct CommandSpec {
    std::string_view name;
    Command command;
    std::size_t min_arguments, max_arguments;
    std::string_view form;
};
[[nodiscard]] std::span<const CommandSpec> command_table();
[[nodiscard]] std::string_view command_name(Command command);

struct ParsedCommandLine {
    Options options;
    std::string error;  // non-empty: a usage error, to be shown with the usage text
};

// Reads the arguments that follow the program's name. Options may stand before or after the
// command; "--" ends them (an image whose name begins with '-').
[[nodiscard]] ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments);

// The --help text: commands, options, exit codes and the JSON events.
[[nodiscard]] std::string usage_text();

}  // namespace vrk::cli
