// vrk: the VRK 700 from the command line, for scripts, service benches and production lines. The
// same engine as the window (a session per port), without Qt, so it runs on a machine without a
// display.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/job_plan.h"
#include "app/cli/json_line.h"
#include "app/cli/json_reporter.h"
#include "app/cli/line_tally.h"
#include "app/cli/options.h"
#include "app/cli/output.h"
#include "app/cli/port_job.h"
#include "app/cli/station/recipe.h"
#include "app/cli/station/station_commands.h"
#include "app/cli/station/station_store.h"
#include "app/session_commands.h"
#include "platform/system_services.h"
#include "sim/built_in_unit.h"

namespace {

using namespace vrk;
using namespace vrk::cli;

int usage_error(const std::string& message) {
    std::fprintf(stderr, "vrk: %s\nTry 'vrk --help' for the commands and options.\n",
                 message.c_str());
    return EXIT_USAGE;
}

// An error found before any port is used: on standard error, and as a JSON object too.
int early_error(Output& output, bool json, std::string_view result, int code,
                const std::string& message) {
    if (json)
        output.json(json_event_without_port("error")
                        .add("result", result)
                        .add("exit_code", code)
                        .add("message", message)
                        .text());
    output.error("vrk: " + message);
    return code;
}

std::string_view port_state(platform::PortError error) {
    switch (error) {
        case platform::PortError::none:
            return "free";
        case platform::PortError::busy:
            return "busy";
        case platform::PortError::access_denied:
            return "no_permission";
        case platform::PortError::not_found:
            return "not_found";
        case platform::PortError::not_a_serial:
            return "not_a_serial";
        case platform::PortError::io_failure:
            break;
    }
    return "unusable";
}

std::string_view port_state_text(platform::PortError error) {
    switch (error) {
        case platform::PortError::none:
            return "free";
        case platform::PortError::busy:
            return "busy (another program holds it)";
        case platform::PortError::access_denied:
            return "no permission (join the port's group, usually dialout)";
        case platform::PortError::not_found:
            return "not found";
        case platform::PortError::not_a_serial:
            return "not a serial port";
        case platform::PortError::io_failure:
            break;
    }
    return "cannot be opened";
}

int list_ports(const Options& options, platform::PortProvider& provider, Output& output) {
    // What the system knows of each port (free, busy or no permission, and its hardware).
    std::vector<platform::PortInfo> ports = provider.list_ports();
    if (!options.ports.empty()) {
        // Only the devices named, each as found in the list or, when not there (a pseudo-
        // terminal, a name the list does not offer), as its open says.
        std::vector<platform::PortInfo> named;
        for (const std::string& device : options.ports) {
            const auto it = std::find_if(ports.begin(), ports.end(), [&](const auto& p) {
                return p.device == device || p.stable_name == device;
            });
            if (it != ports.end()) {
                named.push_back(*it);
                continue;
            }
            platform::OpenResult opened = provider.open(device);
            if (opened.port) opened.port->close();
            named.push_back({device, device, "", opened.error});
        }
        ports = std::move(named);
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.device < b.device; });
    if (ports.empty()) output.note(1, "vrk: no serial ports found");
    std::string lines;
    for (const platform::PortInfo& port : ports) {
        output.json(json_event("port", port.device)
                        .add("state", port_state(port.access))
                        .add("stable_name", port.stable_name)
                        .add("description", port.description)
                        .text());
        lines += port.device + "  " + std::string(port_state_text(port.access));
        if (!port.description.empty()) lines += "  " + port.description;
        lines += "\n";
    }
    output.result(lines);
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParsedCommandLine parsed = parse_command_line(arguments);
    if (!parsed.error.empty()) return usage_error(parsed.error);
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.version) {
        std::printf("vrk %s\n", TOOL_VERSION);
        return EXIT_OK;
    }

    if (options.command == Command::program || options.command == Command::log) {
        if (!station_store_available())
            return usage_error(std::string(options.command == Command::log ? "log" : "program") +
                               " needs the station database (SQLite), which this build of vrk "
                               "does not have");
        if (options.command == Command::log) return run_log(options, stdout, stderr);
    }

    const platform::SystemServices system = platform::make_system_services();
    platform::Console& console = *system.console;
    platform::PortProvider& provider = *system.ports;
    platform::TickClock& clock = *system.clock;
    platform::FileSystem& files = *system.files;

    OutputSettings settings;
    settings.json = options.json;
    settings.verbosity = options.verbosity == Verbosity::quiet     ? 0
                         : options.verbosity == Verbosity::verbose ? 2
                                                                   : 1;
    // A bar only for a person watching: never into a file, a pipe or between JSON lines.
    settings.bars = console.is_terminal(platform::StandardStream::error) && !options.json &&
                    settings.verbosity > 0;
    settings.columns = console.columns(platform::StandardStream::error).value_or(80);

    if (options.command == Command::ports) {
        Output output(settings, stdout, stderr);
        return list_ports(options, provider, output);
    }

    if (options.command == Command::download || options.command == Command::compare) {
        // A bad image is told at once, not after a unit has been found.
        const device::Result image = app::check_image(files, options.image);
        if (image != device::Result::success) {
            Output output(settings, stdout, stderr);
            return early_error(output, options.json, device::result_name(image), EXIT_BAD_IMAGE,
                               "the image " + options.image + " " + image_problem(image));
        }
    }

    if (options.command == Command::program) {
        // The recipe, then the station's records: a mistake in either is told before any port
        // is opened, and no unit is touched.
        ProgramStart start = start_program(options, files);
        Output output(settings, stdout, stderr);
        if (!start.store)
            return early_error(output, options.json, start.result, start.exit_code, start.error);
        return early_error(output, options.json, "not_available", EXIT_USAGE,
                           "program: the recipe is checked and the station database is open, "
                           "but this build of vrk cannot carry a recipe out on units yet");
    }

    std::vector<std::string> ports = options.ports;
    std::unique_ptr<sim::BuiltInUnit> simulated;
    if (options.simulate) {
        sim::UnitConfig unit;
        unit.flash_out = options.simulate_flash_out.value_or("");
        simulated = sim::make_built_in_unit(unit, provider);
        std::string error;
        if (!simulated->start(&error)) {
            std::fprintf(stderr, "vrk: the simulated unit could not be started: %s\n",
                         error.c_str());
            return EXIT_NO_LINK;
        }
        ports = {simulated->port_name()};
    }
    if (ports.empty()) {
        std::vector<std::string> found = provider.candidate_ports();
        std::sort(found.begin(), found.end());
        if (found.size() != 1) {
            std::string list;
            for (const auto& port : found) list += "\n  " + port;
            return usage_error(found.empty()
                                   ? "no serial port found; name one with --port DEVICE"
                                   : "several serial ports; choose with --port DEVICE:" + list);
        }
        ports = found;
    }

    settings.bar_rows = ports.size();
    Output output(settings, stdout, stderr);

    std::unique_ptr<SharedLineFile> trace;
    if (options.trace) {
        platform::FileError error = platform::FileError::none;
        auto file = files.create(*options.trace, &error);
        if (!file)
            return early_error(output, options.json, "trace_failed", EXIT_USAGE,
                               "the trace file " + *options.trace + " cannot be created");
        trace = std::make_unique<SharedLineFile>(std::move(file));
    }

    console.watch_interrupt();
    platform::PortProvider& job_ports = simulated ? simulated->ports() : provider;
    const JobPlan plan = make_plan(options);
    LineTally line(ports.size(), options.count, options.max_failures);
    const JobServices services{job_ports, clock,       files,           console,       output,
                               line,      trace.get(), clock.tick_ms(), options.record};
    std::vector<std::unique_ptr<PortJob>> jobs;
    for (std::size_t i = 0; i < ports.size(); ++i)
        jobs.push_back(std::make_unique<PortJob>(plan, ports[i], i, services));
    std::vector<int> codes(jobs.size(), EXIT_OK);
    if (jobs.size() == 1) {
        codes[0] = jobs[0]->run();
    } else {
        // A port read waits up to 50 ms for the unit: one thread per port keeps every unit at
        // the speed of its own line.
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < jobs.size(); ++i)
            threads.emplace_back([&codes, &jobs, i] { codes[i] = jobs[i]->run(); });
        for (auto& thread : threads) thread.join();
    }
    int code = *std::max_element(codes.begin(), codes.end());
    // The simulated unit's flash, written out as it stops (--simulate-flash-out): a run whose
    // flash cannot be checked has failed.
    if (std::string error; simulated && !simulated->stop(&error)) {
        output.error("vrk: " + error);
        code = std::max(code, EXIT_FAILED);
    }
    return code;
}
