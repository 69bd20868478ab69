// vrk: the VRK 700 from the command line, for scripts, service benches and production lines. The
// same engine as the window (a session per port), without Qt, so it runs on a machine without a
// display.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/job_plan.h"
#include "app/cli/json_reporter.h"
#include "app/cli/options.h"
#include "app/cli/output.h"
#include "app/cli/port_job.h"
#include "app/cli/station/station_commands.h"
#include "app/cli/station/station_store.h"
#include "app/cli/unit_run.h"
#include "app/simulated_unit.h"
#include "platform/machine.h"
#include "platform/system_services.h"
#include "sim/built_in_unit.h"
#include "vrk_version.h"

namespace {

using namespace vrk;
using namespace vrk::cli;

int usage_error(const std::string& message, bool json) {
    // A script reading JSON gets the mistake as an object too.
    if (json) {
        OutputSettings settings;
        settings.json = true;
        Output output(settings, stdout, stderr);
        output.json(error_json(Result::usage, message));
    }
    std::fprintf(stderr, "vrk: %s\nTry 'vrk --help' for the commands and options.\n",
                 message.c_str());
    return exit_code_of(Result::usage);
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

static_assert(app::SIMULATED_UNIT_FAILED_EXIT == EXIT_NO_LINK,
              "a simulated unit that cannot start is a port that cannot be opened");

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParsedCommandLine parsed = parse_command_line(arguments);
    const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    if (!parsed.error.empty()) return usage_error(parsed.error, json);
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return EXIT_OK;
    }
    if (options.version) {
        std::printf("vrk %s\n", VRK_VERSION_TEXT);
        return EXIT_OK;
    }

    if (options.command == Command::log) {
        const LogRequest request{
            options.db,
            {options.since, options.serial_number, options.id_filter, options.lot},
            options.log_format};
        return run_log(request, stdout, stderr);
    }
    if (options.command == Command::import_records)
        return run_import(ImportRequest{options.image, options.db}, stdout, stderr);
    if (options.command == Command::ids) {
        const IdsRequest request{
            options.db, {options.id_filter, options.serial_number, options.id_state},
            options.log_format};
        return run_ids(request, stdout, stderr);
    }
    if (options.command == Command::report) {
        ReportRequest request;
        request.db = options.db;
        request.query.since = options.since;
        request.query.until = options.until;
        request.query.lot = options.lot;
        request.query.station_number = options.station_number;
        if (!options.operator_name.empty()) request.query.operator_name = options.operator_name;
        request.query.by = options.report_by;
        request.query.utc = options.utc;
        request.format = options.report_format;
        return run_report(request, stdout, stderr);
    }

    const platform::SystemServices system = platform::make_system_services();
    platform::Console& console = *system.console;
    platform::PortProvider& provider = *system.ports;

    if (options.command == Command::ports) {
        Output output(output_settings(options, console), stdout, stderr);
        return list_ports(options, provider, output);
    }

    RunServices services{*system.clock, *system.files, console};
    if (options.command == Command::program) services.host = platform::host_name();
    UnitRun run(options, services);
    if (const auto code = run.prepare()) return *code;

    std::vector<std::string> ports = options.ports;
    std::unique_ptr<sim::BuiltInUnit> simulated;
    if (options.simulate) {
        sim::UnitConfig unit;
        unit.flash_out = options.simulate_flash_out.value_or("");
        app::SimulatedUnit started = app::start_simulated_unit(unit, provider, "vrk");
        if (!started.unit) {
            std::fprintf(stderr, "%s\n", started.error.c_str());
            return app::SIMULATED_UNIT_FAILED_EXIT;
        }
        simulated = std::move(started.unit);
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
                                   : "several serial ports; choose with --port DEVICE:" + list,
                               json);
        }
        ports = found;
    }

    // The simulated unit's port, when there is one, is where the jobs open theirs.
    int code = run.run(ports, simulated ? simulated->ports() : provider);
    // The simulated unit's flash, written out as it stops (--simulate-flash-out): a run whose
    // flash cannot be checked has failed.
    if (std::string error; simulated && !simulated->stop(&error)) {
        std::fprintf(stderr, "vrk: %s\n", error.c_str());
        code = std::max(code, EXIT_FAILED);
    }
    return code;
}
