// The command line of vrk: what it accepts, and every kind of bad input refused as a usage error
// before any port is touched.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/common/utc_time.h"
#include "app/cli/options.h"

namespace vrk::test {
namespace {

using cli::Command;

TEST(VrkCommandLine, AcceptsOrRefuses) {
    struct Case {
        std::vector<std::string> args;
        std::string error;  // a part of the usage error; empty when the line is good
        Command command = Command::none;
        std::string value = {};  // image, ID or the setting's code in decimal
    };
    const std::vector<Case> cases = {
        {{"--json", "download", "app.vr4", "--port", "/dev/a", "--no-verify"},
         "",
         Command::download,
         "app.vr4"},
        {{"--", "compare", "-odd.vr4"}, "", Command::compare, "-odd.vr4"},
        {{"set-id", "ab12"}, "", Command::set_id, "AB12"},
        {{"set", "internal", " phone @ 19200 "}, "", Command::set, "9"},
        {{"set", "internal", "0x09"}, "", Command::set, "9"},
        {{"set", "internal", "9"}, "", Command::set, "9"},
        {{"set", "external", "\u05E8\u05D1 \u05D1\u05E8\u05D9\u05D7"}, "", Command::set, "50"},
        {{"set-id", "abcdefghi"}, "longer than 8"},
        {{"set-id", ""}, "empty"},
        {{"set", "gps", "SiRF @"}, "unknown value 'SiRF @'; the valid values are:"},
        {{"set", "gps", "0x100"}, "unknown value"},
        {{"set", "modem", "1"}, "unknown setting"},
        {{"frobnicate"}, "unknown command"},
        {{}, "no command"},
        {{"info", "--bogus"}, "unknown option --bogus"},
        {{"download"}, "download IMAGE"},
        {{"info", "--repeat"}, "--repeat goes with download, compare or program only"},
        {{"compare", "x.vr4", "--no-verify"}, "--no-verify goes with download"},
        {{"--port", "a", "--port", "b", "--record", "m.vbm", "info"}, "one --port"},
        {{"--port", "a", "--port", "a", "info"}, "given twice"},
        {{"--simulate", "--port", "a", "info"}, "cannot be used together"},
        {{"--simulate", "--simulate-flash-out", "f.bin", "info"}, "", Command::info},
        {{"--simulate-flash-out", "f.bin", "info"}, "needs --simulate"},
        {{"--simulate", "info", "--simulate-flash-out"}, "needs a file"},
        // 0 is no limit, as the message says; below it is refused.
        {{"--link-timeout", "0", "info"}, "", Command::info},
        {{"--link-timeout", "-1", "info"}, "expects seconds from 0 to 86400"},
        {{"--link-timeout", "86401", "info"}, "expects seconds from 0 to 86400"},
        {{"--port"}, "--port needs a device"},
        // A value given to a flag is refused, for every flag alike.
        {{"--quiet=x", "info"}, "--quiet takes no value"},
        {{"--help=x"}, "--help takes no value"},
        {{"--version=1"}, "--version takes no value"},
        {{"download", "i", "--no-verify="}, "--no-verify takes no value"},
    };
    for (const Case& c : cases) {
        const auto parsed = cli::parse_command_line(c.args);
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        if (!c.error.empty()) {
            EXPECT_NE(parsed.error.find(c.error), std::string::npos)
                << line << "-> '" << parsed.error << "'";
            continue;
        }
        EXPECT_EQ(parsed.error, "") << line;
        EXPECT_EQ(parsed.options.command, c.command) << line;
        const auto& o = parsed.options;
        const std::string value = c.command == Command::set      ? std::to_string(o.code)
                                  : c.command == Command::set_id ? o.id
                                                                 : o.image;
        EXPECT_EQ(value, c.value) << line;
    }
    const auto download = cli::parse_command_line(cases[0].args).options;
    EXPECT_FALSE(download.verify);
    EXPECT_TRUE(download.json);
    EXPECT_EQ(download.ports, (std::vector<std::string>{"/dev/a"}));
}

TEST(VrkCommandLine, ProgramAndLogOptions) {
    using cli::Options;
    struct Case {
        std::vector<std::string> args;
        std::string error;  // a part of the usage error; empty when the line is good
        std::function<void(const Options&)> check = {};
    };
    const std::vector<Case> cases = {
        {{"program",
          "app.vr4",
          "--id-format",
          "L{station}{:05}",
          "--id-start",
          "7",
          "--station-number",
          "2",
          "--set",
          "gps=sirf @ 19200",
          "--set=internal=0x09",
          "--then",
          "qb7",
          "--operator",
          "Dana K",
          "--db",
          "s.db",
          "--repeat",
          "--count",
          "10",
          "--max-failures",
          "2",
          "--new-id",
          "--no-verify"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.command, Command::program);
             EXPECT_EQ(o.image, "app.vr4");
             EXPECT_EQ(o.id_format, "L{station}{:05}");
             EXPECT_EQ(o.id_start, 7u);
             EXPECT_EQ(o.station_number, 2u);
             EXPECT_EQ(o.settings, (cli::DeviceCodes{3, 9, std::nullopt}));
             EXPECT_EQ(o.then, cli::FinalMode::qb7);
             EXPECT_EQ(o.operator_name, "Dana K");
             EXPECT_EQ(o.db, "s.db");
             EXPECT_EQ(o.count, 10u);
             EXPECT_EQ(o.max_failures, 2u);
             EXPECT_TRUE(o.new_id && o.repeat && !o.verify);
         }},
        {{"program", "--recipe", "station.toml", "--id", "ab-1"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.recipe, "station.toml");
             EXPECT_EQ(o.image, "");
             EXPECT_EQ(o.fixed_id, "AB-1");
         }},
        {{"log", "--format", "jsonl", "--since", "2025-03-01T14:30", "--serial", "-5", "--id", "l1",
          "--lot", "WO 7"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.lot, "WO 7");
             EXPECT_EQ(o.log_format, cli::LogFormat::jsonl);
             EXPECT_EQ(o.since, "2025-03-01T14:30:00.000Z");
             EXPECT_EQ(o.serial_number, -5);
             EXPECT_EQ(o.id_filter, "l1");
             EXPECT_EQ(o.fixed_id, std::nullopt);
         }},
        {{"report", "--since", "2025-03-01", "--until", "2025-03-02T06:00", "--lot", "WO-1",
          "--station-number", "2", "--operator", "Dana", "--by", "hour", "--utc", "--format",
          "json", "--db", "s.db"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.command, Command::report);
             EXPECT_EQ(o.since, "2025-03-01T00:00:00.000Z");
             EXPECT_EQ(o.until, "2025-03-02T06:00:00.000Z");
             EXPECT_EQ(o.lot, "WO-1");
             EXPECT_EQ(o.station_number, 2u);
             EXPECT_EQ(o.operator_name, "Dana");
             EXPECT_EQ(o.report_by, cli::ReportBy::hour);
             EXPECT_TRUE(o.utc);
             EXPECT_EQ(o.report_format, cli::ReportFormat::json);
             EXPECT_EQ(o.db, "s.db");
         }},
        {{"ids", "--format", "jsonl", "--id", "k1", "--serial", "7", "--state", "spent"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.command, Command::ids);
             EXPECT_EQ(o.log_format, cli::LogFormat::jsonl);
             EXPECT_EQ(o.id_filter, "k1");
             EXPECT_EQ(o.serial_number, 7);
             EXPECT_EQ(o.id_state, cli::IdState::spent);
         }},
        {{"report"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.report_by, cli::ReportBy::none);
             EXPECT_EQ(o.report_format, cli::ReportFormat::text);
         }},
        // A fixed ID is one unit's: never several ports, never a line of units.
        {{"--port", "a", "--port", "b", "set-id", "X"}, "set-id gives one unit its ID"},
        {{"--port", "a", "--port", "b", "program", "i", "--id", "X"}, "a fixed --id goes to one"},
        {{"program", "i", "--id", "X", "--repeat"}, "a fixed --id goes to one"},
        {{"program", "i", "--id", "X", "--id-format", "L{}"}, "cannot be used together"},
        {{"program", "i", "--id", "A B"}, "--id: the ID 'A B' holds a character"},
        {{"program", "i", "--id", "123456789"}, "longer than 8"},
        {{"program", "a", "b"}, "usage: vrk [OPTIONS] program [IMAGE]"},
        {{"program", "i", "--set", "gps"}, "--set expects gps=VALUE"},
        {{"program", "i", "--set", "modem=1"}, "--set expects gps=VALUE"},
        {{"program", "i", "--set", "gps=Galileo"}, "--set gps: unknown value 'Galileo'"},
        {{"program", "i", "--set", "gps=0", "--set", "gps=1"}, "--set gps given twice"},
        {{"program", "i", "--then", "reboot"}, "--then expects run"},
        {{"program", "i", "--id-start", "-1"}, "--id-start expects"},
        {{"program", "i", "--id-start", "100000000"}, "--id-start expects"},
        {{"program", "i", "--station-number", "1000000"}, "--station-number expects"},
        {{"program", "i", "--operator", "a\tb"}, "--operator needs a name"},
        {{"program", "i", "--lot", "a\nb"}, "--lot needs a work order"},
        {{"program", "i", "--lot="}, "--lot needs a work order"},
        {{"info", "--lot", "W1"}, "--lot goes with program"},
        {{"program", "i", "--count", "0", "--repeat"}, "--count expects"},
        {{"program", "i", "--on-unit-timeout", "0"}, "--on-unit-timeout expects"},
        {{"program", "i", "--on-unit", ""}, "--on-unit needs a command"},
        {{"download", "i", "--on-unit", "lp"}, "--on-unit goes with program only"},
        {{"program", "i", "--count", "3"}, "--count counts the units of --repeat"},
        {{"download", "i", "--id-format", "L{}"}, "--id-format goes with program only"},
        {{"set", "gps", "0", "--set", "gps=1"}, "--set goes with program only (vrk set"},
        {{"info", "--db", "x.db"}, "--db goes with program, log, report, import or ids only"},
        {{"import", "station.db", "--db", "postgresql://vrk@line/vrk"},
         "",
         [](const Options& o) {
             EXPECT_EQ(o.command, Command::import_records);
             EXPECT_EQ(o.image, "station.db");
             EXPECT_EQ(o.db, "postgresql://vrk@line/vrk");
         }},
        {{"import"}, "usage: vrk [OPTIONS] import FILE.db --db URI"},
        {{"program", "i", "--format", "csv"}, "--format goes with log, report or ids only"},
        {{"log", "extra"}, "usage: vrk [OPTIONS] log"},
        {{"log", "--format", "xml"}, "--format expects csv or jsonl"},
        {{"log", "--json"}, "--format jsonl"},
        {{"log", "--port", "a"}, "--port does not go with it"},
        {{"log", "--serial", "12x"}, "--serial expects"},
        {{"log", "--since", "2025-02-30"}, "--since expects"},
        {{"log", "--since", "2025-03-01T12:00+01:00"}, "--since expects"},
        {{"log", "--format", "json"}, "--format expects csv or jsonl"},
        {{"report", "--format", "jsonl"}, "--format expects text, csv or json"},
        {{"report", "--by", "week"}, "--by expects station, port"},
        {{"report", "--utc=yes"}, "--utc takes no value"},
        {{"report", "--until", "yesterday"}, "--until expects a UTC time"},
        {{"report", "--since", "2025-03-02", "--until", "2025-03-02"}, "--until must be later"},
        {{"report", "--json"}, "--format json"},
        {{"report", "--simulate"}, "report reads the station database"},
        {{"report", "--serial", "5"}, "--serial goes with log or ids only"},
        {{"log", "--by", "day"}, "--by goes with report only"},
        {{"ids", "--state", "free"}, "--state expects reserved, bound or spent"},
        {{"log", "--state", "bound"}, "--state goes with ids only"},
        {{"ids", "--since", "2025-03-01"}, "--since goes with log or report only"},
        {{"ids", "--json"}, "--format jsonl"},
        {{"ids", "--format", "json"}, "--format expects csv or jsonl"},
        {{"program", "i", "--until", "2025-03-01"}, "--until goes with report only"},
    };
    for (const Case& c : cases) {
        const auto parsed = cli::parse_command_line(c.args);
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        if (!c.error.empty()) {
            EXPECT_NE(parsed.error.find(c.error), std::string::npos)
                << line << "-> '" << parsed.error << "'";
            continue;
        }
        ASSERT_EQ(parsed.error, "") << line;
        c.check(parsed.options);
    }
}

// The arguments that make each command complete, and a value each option takes.
std::vector<std::string> command_words(const cli::CommandSpec& command) {
    std::vector<std::string> words{std::string(command.name)};
    for (std::size_t i = 0; i < command.min_arguments; ++i)
        words.push_back(command.command == Command::set && i == 0 ? "gps" : "0");
    return words;
}

std::string sample_value(std::string_view option) {
    const std::map<std::string_view, std::string> values = {
        {"--set", "gps=0"},        {"--then", "run"},       {"--format", "csv"},
        {"--since", "2025-03-01"}, {"--link-timeout", "1"}, {"--id-format", "L{}"},
    };
    const auto found = values.find(option);
    return found != values.end() ? found->second : "1";
}

TEST(VrkOptionTable, EveryOptionGoesOnlyWithItsCommands) {
    for (const cli::OptionRow& option : cli::option_table()) {
        for (const cli::CommandSpec& command : cli::command_table()) {
            std::vector<std::string> args = command_words(command);
            args.emplace_back(option.name);
            if (!option.value.empty()) args.push_back(sample_value(option.name));
            const auto parsed = cli::parse_command_line(args);
            const std::string line = std::string(command.name) + " " + std::string(option.name);
            if (!option.commands.has(command.command)) {
                EXPECT_NE(parsed.error, "") << line;
            } else {
                // Taken, or refused for another reason than the command.
                EXPECT_EQ(parsed.error.find("go with"), std::string::npos)
                    << line << " -> '" << parsed.error << "'";
                EXPECT_EQ(parsed.error.find("does not go"), std::string::npos) << line;
            }
        }
        if (option.value.empty()) {
            const auto parsed = cli::parse_command_line({std::string(option.name) + "=x", "info"});
            EXPECT_EQ(parsed.error, std::string(option.name) + " takes no value");
        }
    }
}

// The option rows of a manual page's OPTIONS section: the first line after each .TP, with
// groff's "\-" read as '-'.
std::vector<std::string> man_page_option_lines(const std::string& path) {
    std::ifstream file(path);
    EXPECT_TRUE(file) << path;
    std::vector<std::string> rows;
    std::string line;
    bool in_options = false, tagged = false;
    while (std::getline(file, line)) {
        if (line.rfind(".SH", 0) == 0) in_options = line == ".SH OPTIONS";
        if (in_options && tagged) {
            std::string row;
            for (std::size_t i = 0; i < line.size(); ++i)
                if (!(line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-')) row += line[i];
            rows.push_back(row);
        }
        tagged = line == ".TP";
    }
    return rows;
}

TEST(VrkOptionTable, ManualPageListsEveryOptionAndNoOther) {
    const auto rows = man_page_option_lines(VRK_SOURCE_DIR "/doc/man/vrk.1");
    std::set<std::string> in_page;
    for (const std::string& row : rows) {
        std::istringstream words(row);
        for (std::string word; words >> word;) {
            const auto start = word.find('-');
            if (start == std::string::npos) continue;
            std::string name = word.substr(start);
            while (!name.empty() && (name.back() == ',' || name.back() == '"')) name.pop_back();
            if (name.size() > 1 && name[1] != ' ') in_page.insert(name);
        }
    }
    std::set<std::string> in_table;
    for (const cli::OptionRow& option : cli::option_table()) {
        in_table.insert(std::string(option.name));
        if (!option.short_name.empty()) in_table.insert(std::string(option.short_name));
        // The value as --help names it stands beside the option's name.
        if (option.value.empty()) continue;
        bool beside = false;
        for (const std::string& row : rows)
            beside = beside || (row.find(std::string(option.name) + " \"") != std::string::npos &&
                                row.find(option.value) != std::string::npos);
        EXPECT_TRUE(beside) << option.name << " " << option.value;
    }
    EXPECT_EQ(in_page, in_table);
}

TEST(VrkCommandLine, UtcTimesAsTheRecordsWriteThem) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"2025-03-01", "2025-03-01T00:00:00.000Z"},
        {"2025-03-01T14:30", "2025-03-01T14:30:00.000Z"},
        {"2025-03-01T14:30:15Z", "2025-03-01T14:30:15.000Z"},
        {"2025-03-01T14:30:15.5", "2025-03-01T14:30:15.500Z"},
        {"2025-03-01T14:30:15.123456Z", "2025-03-01T14:30:15.123Z"},
        {"2024-02-29", "2024-02-29T00:00:00.000Z"},
        {"2025-02-29", std::nullopt},
        {"2025-13-01", std::nullopt},
        {"2025-03-01T24:00", std::nullopt},
        {"2025-03-01T14:60", std::nullopt},
        {"2025-03-01T14", std::nullopt},
        {"2025-03-01T14:30:15.", std::nullopt},
        {"2025-3-1", std::nullopt},
        {"2025-03-01 14:30", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(cli::utc_time_text(text), expected) << text;
}

}  // namespace
}  // namespace vrk::test
