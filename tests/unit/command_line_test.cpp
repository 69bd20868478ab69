#include "app/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vrk::app {
namespace {

struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool help;
    bool simulate;
    std::optional<std::string> port;
    std::string image;
    bool error;
};

TEST(CommandLine, OptionsAndTheImageName) {
    const Case cases[] = {
        {"nothing", {}, false, false, std::nullopt, "", false},
        {"port", {"--port", "/dev/ttyUSB0"}, false, false, "/dev/ttyUSB0", "", false},
        {"port with equals", {"--port=/dev/pts/3"}, false, false, "/dev/pts/3", "", false},
        {"port without device", {"--port"}, false, false, std::nullopt, "", true},
        {"port with empty device", {"--port="}, false, false, std::nullopt, "", true},
        {"simulate", {"--simulate", "app.vr4"}, false, true, std::nullopt, "app.vr4", false},
        {"simulate and port",
         {"--simulate", "--port", "/dev/ttyS0"},
         false,
         true,
         "/dev/ttyS0",
         "",
         true},
        {"help", {"--help"}, true, false, std::nullopt, "", false},
        {"short help", {"-h"}, true, false, std::nullopt, "", false},
        {"unknown option", {"--baud", "9600"}, false, false, std::nullopt, "", true},
        {"image after port",
         {"--port", "/dev/ttyS0", "main.vr4"},
         false,
         false,
         "/dev/ttyS0",
         "main.vr4",
         false},
        {"quotes stay",
         {"\"/home/u/fw/main.vr4\""},
         false,
         false,
         std::nullopt,
         "\"/home/u/fw/main.vr4\"",
         false},
        {"split name joined", {"my", "main.vr4"}, false, false, std::nullopt, "my main.vr4", false},
        {"dash dash ends options", {"--", "--port"}, false, false, std::nullopt, "--port", false},
        {"lone dash is a name", {"-"}, false, false, std::nullopt, "-", false},
    };
    for (const Case& c : cases) {
        const CommandLine line = parse_command_line(c.arguments, {"/dev/ttyUSB0", ""});
        EXPECT_EQ(line.help, c.help) << c.name;
        EXPECT_EQ(line.simulate, c.simulate) << c.name;
        EXPECT_EQ(!line.error.empty(), c.error) << c.name << ": " << line.error;
        if (!c.error) {
            EXPECT_EQ(line.port, c.port) << c.name;
            EXPECT_EQ(line.image, c.image) << c.name;
        }
    }
}

TEST(CommandLine, VersionAndTheSimulatedUnitsFiles) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool version;
        std::string flash_out;
        std::string log;
        bool error;
    } cases[] = {
        {"version", {"--version"}, true, "", "", false},
        {"flash out", {"--simulate", "--simulate-flash-out", "f.bin"}, false, "f.bin", "", false},
        {"both, before --simulate",
         {"--simulate-log", "u.txt", "--simulate-flash-out", "f.bin", "--simulate"},
         false,
         "f.bin",
         "u.txt",
         false},
        {"flash out without simulate", {"--simulate-flash-out", "f.bin"}, false, "", "", true},
        {"log without simulate", {"--simulate-log", "u.txt"}, false, "", "", true},
        {"flash out without file", {"--simulate", "--simulate-flash-out"}, false, "", "", true},
    };
    for (const auto& c : cases) {
        const CommandLine line = parse_command_line(c.arguments, {"COM1", ""});
        EXPECT_EQ(line.version, c.version) << c.name;
        EXPECT_EQ(!line.error.empty(), c.error) << c.name << ": " << line.error;
        if (!c.error) {
            EXPECT_EQ(line.simulate_flash_out, c.flash_out) << c.name;
            EXPECT_EQ(line.simulate_log, c.log) << c.name;
        }
    }
}

}  // namespace
}  // namespace vrk::app
