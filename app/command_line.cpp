#include "app/command_line.h"

namespace vrk::app {

CommandLine parse_command_line(const std::vector<std::string>& arguments, const PortWords& words) {
    CommandLine line;
    const std::string port_needed =
        "--port needs a device, for example --port " + std::string(words.example);
    bool options_ended = false;
    const auto add_image_word = [&line](const std::string& word) {
        if (!line.image.empty()) line.image += ' ';
        line.image += word;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            add_image_word(arg);
        } else if (arg == "--") {
            options_ended = true;
        } else if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--simulate") {
            line.simulate = true;
        } else if (arg == "--simulate-flash-out" || arg == "--simulate-log") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                line.error = arg + " needs a file, for example " + arg + " unit.txt";
                return line;
            }
            (arg == "--simulate-log" ? line.simulate_log : line.simulate_flash_out) =
                arguments[++i];
        } else if (arg == "--self-test") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                line.error =
                    "--self-test needs a file for the picture, for example --self-test linked.png";
                return line;
            }
            line.self_test = arguments[++i];
        } else if (arg == "--port") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                line.error = port_needed;
                return line;
            }
            line.port = arguments[++i];
        } else if (arg.rfind("--port=", 0) == 0) {
            if (arg.size() == 7) {
                line.error = port_needed;
                return line;
            }
            line.port = arg.substr(7);
        } else {
            line.error = "unknown option " + arg;
            return line;
        }
    }
    if (line.simulate && line.port) line.error = "--port and --simulate cannot be used together";
    if ((!line.simulate_flash_out.empty() || !line.simulate_log.empty()) && !line.simulate)
        line.error = "--simulate-flash-out and --simulate-log need --simulate";
    return line;
}

std::string usage_text(const std::string& program, const PortWords& words) {
    return "Usage: " + program +
           " [--port DEVICE | --simulate] [IMAGE.vr4]\n"
           "Configures a VRK 700 unit on a serial line and downloads firmware into it.\n"
           "\n"
           "  --port DEVICE  open this serial device (for example " +
           std::string(words.example) +
           ") without asking\n"
           "  --simulate     start a built-in simulated unit and connect to it\n"
           "  --simulate-flash-out FILE\n"
           "                 with --simulate: write the simulated unit's flash to FILE at exit\n"
           "  --simulate-log FILE\n"
           "                 with --simulate: one line per message the unit takes, in hex\n"
           "  --self-test PNG  run until the unit's settings are shown, save a picture of the\n"
           "                 window to PNG and exit: 0 when linked, 1 when no unit answered\n"
           "                 within 60 s\n"
           "  --version      show the program's version\n"
           "  --help         show this text\n"
           "  IMAGE.vr4      preselect this firmware image; named with its folder, the window\n"
           "                 works in that folder and lists its images\n"
           "\n" +
           std::string(words.list_note);
}

}  // namespace vrk::app
