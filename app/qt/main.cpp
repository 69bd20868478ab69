// vrkcfg: finds a VRK 700 on a serial line, shows and changes its settings and downloads
// firmware into it.
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/qt/icons.h"
#include "app/qt/qt_dialog_runner.h"
#include "app/qt/qt_host_services.h"
#include "app/simulated_unit.h"
#include "app/startup.h"
#include "platform/posix/posix_platform.h"
#include "sim/built_in_unit.h"
#include "vrk_version.h"

namespace {

std::string program_name(const char* argv0) {
    const std::string path = argv0 != nullptr ? argv0 : "vrkcfg";
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr vrk::app::PortWords PORT_WORDS{
    "/dev/ttyUSB0",
    "Without --port, the program lists the serial devices that can be opened.\n"
    "Opening a device needs membership of its group (usually dialout).\n"};

std::vector<std::string> arguments_after_name(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = program_name(argc > 0 ? argv[0] : nullptr);
    {
        // --help and --version must work without a display, before Qt looks for one.
        const vrk::app::CommandLine early =
            vrk::app::parse_command_line(arguments_after_name(argc, argv), PORT_WORDS);
        if (early.help) {
            std::fputs(vrk::app::usage_text(name, PORT_WORDS).c_str(), stdout);
            return 0;
        }
        if (early.version && early.error.empty()) {
            std::printf("%s %s\n", name.c_str(), VRK_VERSION_TEXT);
            return 0;
        }
    }

    QApplication application(argc, argv);  // takes Qt's own options (-platform, -style, ...)
    // The dialogs run their own loops; closing one must not end the program between them.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("vrkcfg"));
    QApplication::setWindowIcon(vrk::qt::resource_icon(vrk::qt::APPLICATION_ICON));

    const vrk::app::CommandLine line =
        vrk::app::parse_command_line(arguments_after_name(argc, argv), PORT_WORDS);
    if (!line.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", name.c_str(), line.error.c_str(),
                     vrk::app::usage_text(name, PORT_WORDS).c_str());
        return 2;
    }

    vrk::qt::QtHostServices host;
    vrk::app::StartupOptions options;
    options.port = line.port;
    options.command_line = line.image;

    vrk::platform::PosixPortProvider system_ports;
    vrk::platform::PortProvider* ports = &system_ports;
    std::unique_ptr<vrk::sim::BuiltInUnit> simulated;
    if (line.simulate) {
        vrk::sim::UnitConfig unit;
        unit.flash_out = line.simulate_flash_out;
        unit.log_path = line.simulate_log;
        vrk::app::SimulatedUnit started =
            vrk::app::start_simulated_unit(unit, system_ports, name);
        if (!started.unit) {
            std::fprintf(stderr, "%s\n", started.error.c_str());
            return vrk::app::SIMULATED_UNIT_FAILED_EXIT;
        }
        simulated = std::move(started.unit);
        ports = &simulated->ports();
        options.port = simulated->port_name();
    }

    vrk::platform::PosixTickClock clock;
    vrk::platform::PosixFileSystem files;
    vrk::qt::SelfTest self_test;
    if (line.self_test) self_test.screenshot_path = *line.self_test;
    vrk::qt::QtDialogRunner runner(line.self_test ? &self_test : nullptr);
    const int code = vrk::app::run_program(*ports, clock, files, host, runner, options);
    // The simulated unit's flash, written out as it stops (--simulate-flash-out): a run whose
    // flash a test cannot read has failed.
    bool flash_written = true;
    if (simulated) {
        std::string error;
        flash_written = simulated->stop(&error);
        if (!flash_written) std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    }
    if (line.self_test) {
        std::fprintf(stdout, "%s: %s\n", name.c_str(),
                     self_test.linked ? "linked, picture saved" : "no unit answered");
        return self_test.linked && flash_written ? 0 : 1;
    }
    return flash_written ? code : 1;
}
