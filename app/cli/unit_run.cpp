#include "app/cli/unit_run.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/cli/common/image_file.h"
#include "app/cli/common/utc_time.h"
#include "app/cli/hook_queue.h"
#include "app/cli/job_plan.h"
#include "app/cli/json_reporter.h"
#include "app/cli/line_tally.h"
#include "app/cli/port_job.h"

namespace vrk::cli {

OutputSettings output_settings(const Options& options, platform::Console& console) {
    OutputSettings settings;
    settings.json = options.json;
    settings.verbosity = options.verbosity == Verbosity::quiet     ? 0
                         : options.verbosity == Verbosity::verbose ? 2
                                                                   : 1;
    settings.board = console.is_terminal(platform::StandardStream::error) && !options.json &&
                     settings.verbosity > 0;
    settings.columns = console.columns(platform::StandardStream::error).value_or(80);
    settings.columns_now = [&console] { return console.columns(platform::StandardStream::error); };
    return settings;
}

int early_error(Output& output, bool json, Result result, const std::string& message) {
    if (json) output.json(error_json(result, message));
    output.error("vrk: " + message);
    return exit_code_of(result);
}

UnitRun::UnitRun(const Options& options, RunServices services)
    : options_(options), s_(std::move(services)) {}

UnitRun::~UnitRun() = default;

std::optional<int> UnitRun::prepare() {
    Output output(output_settings(options_, s_.console), s_.out, s_.err);
    if (options_.command == Command::download || options_.command == Command::compare) {
        // A bad image is told at once, not after a unit has been found.
        const Result image = check_image(s_.files, options_.image);
        if (image != Result::success)
            return early_error(output, options_.json, image,
                               "the image " + options_.image + " " + image_problem(image));
    }
    if (options_.command == Command::program) {
        // The recipe, then the station's records: a mistake in either is told before any port
        // is opened, and no unit is touched.
        program_ = start_program(options_, s_.files, s_.open_store);
        if (!program_.store)
            return early_error(output, options_.json, program_.result, program_.error);
    }
    return std::nullopt;
}

void UnitRun::summarise_hooks(Output& output, const HookSummary& summary) const {
    output.json(json_event_without_port("hooks")
                    .add("ran", summary.ran)
                    .add("failed", summary.failed)
                    .add("not_run", summary.not_run)
                    .text());
    std::string text = "hooks: " + std::to_string(summary.ran) + " ran, " +
                       std::to_string(summary.failed) + " failed";
    if (summary.not_run != 0) text += ", " + std::to_string(summary.not_run) + " not run";
    output.result(text);
}

void UnitRun::summarise(Output& output, const LineTally& line,
                        const std::vector<std::string>& ports) const {
    // Per port, and over all of them: what a shift produced.
    std::string text;
    std::string per_port = "[";
    const auto counts = [](const Tally& t) {
        return std::to_string(t.units) + (t.units == 1 ? " unit, " : " units, ") +
               std::to_string(t.passed) + " succeeded, " + std::to_string(t.failed()) + " failed";
    };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const Tally t = line.of_port(i);
        if (i != 0) per_port += ",";
        per_port += JsonLine()
                        .add("port", ports[i])
                        .add("units", t.units)
                        .add("succeeded", t.passed)
                        .add("failed", t.failed())
                        .text();
        text += ports[i] + ": " + counts(t) + "\n";
    }
    per_port += "]";
    const Tally total = line.total();
    const std::optional<std::string> yield = total.yield_text();
    output.json(json_event_without_port("summary")
                    .add("units", total.units)
                    .add("succeeded", total.passed)
                    .add("failed", total.failed())
                    .add_raw("yield_percent", yield.value_or("null"))
                    .add_raw("ports", per_port)
                    .text());
    text += "total: " + counts(total);
    if (yield) text += ", yield " + *yield + " %";
    output.result(text);
}

int UnitRun::run(const std::vector<std::string>& ports, platform::PortProvider& provider) {
    OutputSettings settings = output_settings(options_, s_.console);
    settings.board_rows = ports.size();
    Output output(settings, s_.out, s_.err);

    std::unique_ptr<SharedLineFile> trace;
    if (options_.trace) {
        platform::FileError error = platform::FileError::none;
        auto file = s_.files.create(*options_.trace, &error);
        if (!file)
            return early_error(output, options_.json, Result::trace_failed,
                               "the trace file " + *options_.trace + " cannot be created");
        trace = std::make_unique<SharedLineFile>(std::move(file));
    }

    s_.console.watch_interrupt();
    const JobPlan plan = make_plan(options_, program_.recipe ? &*program_.recipe : nullptr);
    LineTally line(ports.size(), options_.count, options_.max_failures);
    JobServices services{provider, s_.clock,    s_.files,           s_.console,     output,
                         line,     trace.get(), s_.clock.tick_ms(), options_.record};
    for (const std::string& port : ports)
        services.port_width = std::max(services.port_width, port.size());
    services.store = program_.store.get();
    services.host = s_.host;
    std::vector<std::unique_ptr<PortJob>> jobs;
    // Declared after the jobs: ended (its thread joined) before them.
    std::unique_ptr<platform::ProcessRunner> runner;
    std::unique_ptr<HookQueue> hooks;
    if (program_.recipe && !program_.recipe->on_unit_words.empty() && program_.store) {
        runner = s_.make_runner ? s_.make_runner() : platform::make_process_runner();
        StationStore& store = *program_.store;
        hooks = std::make_unique<HookQueue>(
            *runner, program_.recipe->on_unit_words, program_.recipe->on_unit_timeout_ms,
            [&store, &jobs](const HookOutcome& outcome) {
                // The outcome beside the unit's row; a hook's record that cannot be written
                // changes nothing of the unit, whose row is complete already.
                (void)store.record_hook(hook_record(outcome, utc_time_now()));
                if (outcome.port < jobs.size()) jobs[outcome.port]->hook_ended(outcome);
            });
        services.hooks = hooks.get();
        // The first Ctrl+C ends the units; the second abandons the hooks still to run.
        s_.console.count_second_interrupt();
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        jobs.push_back(std::make_unique<PortJob>(plan, ports[i], i, services));
        for (JobObserver* observer : s_.observers) jobs.back()->add_observer(*observer);
    }
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
    std::optional<HookSummary> hook_summary;
    if (hooks) {
        // The hooks still queued run to their end, on the board as they end; a second Ctrl+C
        // abandons them.
        hook_summary = hooks->finish([this, &jobs] {
            for (auto& job : jobs) job->drain_hooks();
            return s_.console.interrupts() >= 2;
        });
        for (auto& job : jobs) job->drain_hooks();
    }
    // The board stays as the run left it, every port's last line and the total line: the
    // operator reads the results there. The summary follows below.
    output.end_board();
    if (options_.repeat) summarise(output, line, ports);
    if (hook_summary) summarise_hooks(output, *hook_summary);
    return codes.empty() ? EXIT_OK : *std::max_element(codes.begin(), codes.end());
}

}  // namespace vrk::cli
