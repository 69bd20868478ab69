// Prints vrk's table of options for the bash completion's test, which checks that the
// completion offers each command exactly the options the parser takes with it:
//   command NAME OPTION...    the long options that go with the command
//   general OPTION...         the options listed before any command
//   value OPTION COMMAND      an option that takes a value, and a command it goes with
#include <cstdio>
#include <string>

#include "app/cli/options.h"

int main() {
    using namespace vrk::cli;
    for (const CommandSpec& command : command_table()) {
        std::string line = "command " + std::string(command.name);
        for (const OptionRow& option : option_table())
            if (option.commands.has(command.command)) line += " " + std::string(option.name);
        std::puts(line.c_str());
    }
    std::string general = "general";
    for (const OptionRow& option : option_table()) {
        if (option.group == OptionGroup::general) general += " " + std::string(option.name);
        if (option.value.empty()) continue;
        for (const CommandSpec& command : command_table()) {
            if (!option.commands.has(command.command)) continue;
            std::printf("value %s %s\n", std::string(option.name).c_str(),
                        std::string(command.name).c_str());
            break;
        }
    }
    std::puts(general.c_str());
    return 0;
}
