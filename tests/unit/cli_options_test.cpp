// The command line of vrk: what it accepts, and every kind of bad input refused as a usage error
// before any port is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        {{"info", "--repeat"}, "--repeat goes with download or compare"},
        {{"compare", "x.vr4", "--no-verify"}, "--no-verify goes with download"},
        {{"--port", "a", "--port", "b", "--record", "m.vbm", "info"}, "one --port"},
        {{"--port", "a", "--port", "a", "info"}, "given twice"},
        {{"--simulate", "--port", "a", "info"}, "cannot be used together"},
        {{"--simulate", "--simulate-flash-out", "f.bin", "info"}, "", Command::info},
        {{"--simulate-flash-out", "f.bin", "info"}, "needs --simulate"},
        {{"--simulate", "info", "--simulate-flash-out"}, "needs a file"},
        {{"--link-timeout", "0", "info"}, "--link-timeout"},
        {{"--port"}, "--port needs a device"},
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

}  // namespace
}  // namespace vrk::test
