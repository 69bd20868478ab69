// What vrk tells of its units, in virtual time against the simulated unit: the JSON objects a
// script reads, the lines a shift's log keeps, and the operator's board on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/demo_image.h"
#include "tests/support/job_rig.h"

namespace vrk::test {
namespace {

using Json = nlohmann::json;

struct ReportCase {
    std::string name;
    std::vector<std::string> args;  // "{db}" stands for the test's database
    bool unit = true;               // a unit is in the socket
    std::function<void(sim::UnitConfig&)> configure = {};
    bool terminal = false;     // standard error is a terminal: the board
    bool interrupted = false;  // Ctrl+C came before the run
    int exit_code = 0;
    std::vector<std::string> out = {};      // parts of standard output
    std::vector<std::string> err = {};      // parts of standard error
    std::vector<std::string> not_err = {};  // parts standard error must not have
    std::function<void(const JobRun&)> also = {};
};

void PrintTo(const ReportCase& c, std::ostream* out) {
    *out << c.name;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The events of a run in order, without those that repeat (link, progress).
std::vector<std::string> events(const JobRun& run) {
    std::vector<std::string> names;
    for (const Json& o : run.objects) {
        const std::string name = o["event"];
        if (name == "progress" || name == "link_up" || name == "link_lost" ||
            name == "operation_started" || name == "mode" || name == "setting")
            continue;
        names.push_back(name == "step" ? "step " + o["step"].get<std::string>() +
                                             (o["result"] == "success" ? "" : " failed")
                        : name == "record" ? "record " + o["state"].get<std::string>()
                                           : name);
    }
    return names;
}

const std::vector<ReportCase>& cases() {
    static const std::vector<ReportCase> table = {
        {.name = "program_tells_its_steps_ids_and_records_as_events",
         .args = {"--json", "program", "app.vr4", "--db", "{db}", "--id-format", "L1{:05}", "--set",
                  "gps=SiRF", "--then", "qb7"},
         .also =
             [](const JobRun& run) {
                 EXPECT_EQ(events(run),
                           (std::vector<std::string>{"unit", "record begun", "step download",
                                                     "id_reserved", "step id", "step settings",
                                                     "step then", "record completed", "finished"}));
                 const Json reserved = run.of("id_reserved").at(0);
                 EXPECT_EQ(reserved["id"], "L100001");
                 EXPECT_EQ(reserved["source"], "scheme");
                 EXPECT_EQ(reserved["serial_number"], 70012);
                 const Json finished = run.of("finished").at(0);
                 EXPECT_EQ(finished["run_key"], reserved["run_key"]);
                 EXPECT_EQ(run.of("record").at(1)["run_key"], reserved["run_key"]);
                 EXPECT_EQ(finished["id_before"], "VRK00042");
                 EXPECT_EQ(finished["id_after"], "L100001");
                 EXPECT_EQ(finished["version"], "2.15");
                 EXPECT_EQ(finished["flash_type"], "2 Meg");
                 EXPECT_EQ(finished["settings"]["gps"]["text"], "SiRF");
                 EXPECT_EQ(finished["steps"]["settings"], "success");
                 EXPECT_EQ(finished["operation"], "download_and_verify");
             }},
        {.name = "every_object_has_the_schema_and_progress_comes_once_a_percent",
         .args = {"--json", "download", "big.vr4"},
         .also =
             [](const JobRun& run) {
                 for (const Json& o : run.objects) EXPECT_EQ(o["schema"], 1) << o.dump();
                 const auto progress = run.of("progress");
                 std::string phase;
                 int last = -1;
                 for (const Json& p : progress) {
                     if (p["phase"] != phase) last = -1;
                     phase = p["phase"];
                     EXPECT_GT(p["percent"].get<int>(), last) << p.dump();
                     last = p["percent"];
                 }
                 EXPECT_LE(progress.size(), 2u * 101u);
                 EXPECT_EQ(progress.back()["percent"], 100);
             }},
        {.name = "a_port_that_cannot_be_opened_names_the_operation_and_its_own_time",
         .args = {"--json", "download", "app.vr4"},
         .unit = false,
         .exit_code = 3,
         .also =
             [](const JobRun& run) {
                 const Json finished = run.of("finished").at(0);
                 EXPECT_EQ(finished["result"], "port_unavailable");
                 EXPECT_EQ(finished["operation"], "download_and_verify");
                 EXPECT_LT(finished["duration_ms"].get<int>(), 100);
             }},
        {.name = "a_failed_unit_has_its_line_on_standard_output_too",
         .args = {"download", "app.vr4"},
         .configure = [](sim::UnitConfig& u) { u.flip_byte = 100; },
         .exit_code = 1,
         .out = {"SOCKET: VRK00042 (serial 70012): download failed (mismatch): "},
         .err = {"download failed (mismatch)"}},
        {.name = "a_unit_that_stops_answering_is_told_once",
         .args = {"download", "app.vr4"},
         .configure = [](sim::UnitConfig& u) { u.stop_after_pages = 5; },
         .exit_code = 1,
         .out = {"download failed (not_responding)"},
         .also =
             [](const JobRun& run) {
                 EXPECT_EQ(count(run.err, "retrying page 15 (programming)"), 1u) << run.err;
             }},
        // The page as the window numbers it, the count as the progress has it.
        {.name = "the_board_tells_the_retried_page_and_how_far_the_transfer_got",
         .args = {"download", "app.vr4"},
         .configure = [](sim::UnitConfig& u) { u.stop_after_pages = 5; },
         .terminal = true,
         .exit_code = 1,
         .err = {"retrying page 15 (5 of 20 done)",
                 "FAIL VRK00042 not_responding: Error: The VRK700 is not responding", "\a",
                 "total: 0 passed, 1 failed, yield 0.0 %"},
         .not_err = {"retrying page 15 (1)", "download failed"}},
        {.name = "a_run_that_handled_no_unit_has_no_yield",
         .args = {"--json", "--repeat", "download", "app.vr4"},
         .unit = false,
         .interrupted = true,
         .also =
             [](const JobRun& run) {
                 const Json summary = run.of("summary").at(0);
                 EXPECT_EQ(summary["units"], 0);
                 EXPECT_TRUE(summary["yield_percent"].is_null()) << summary.dump();
             }},
        {.name = "a_run_that_handled_no_unit_says_so_without_a_yield",
         .args = {"--repeat", "download", "app.vr4"},
         .unit = false,
         .interrupted = true,
         .out = {"total: 0 units, 0 succeeded, 0 failed\n"},
         .also = [](const JobRun& run) { EXPECT_EQ(run.out.find("yield"), std::string::npos); }},
        {.name = "the_board_shows_a_pass_with_the_id",
         .args = {"program", "app.vr4", "--db", "{db}", "--id-format", "L1{:05}"},
         .terminal = true,
         .out = {"SOCKET: L100001 (serial 70012): passed, ID L100001"},
         .err = {"waiting for a unit", "linking at 115200 baud", "setting ID L100001",
                 "programming", "verifying", "PASS L100001 serial 70012", "1 passed, 0 failed",
                 "total: 1 passed, 0 failed, yield 100.0 %"},
         .not_err = {"\a"}},
    };
    return table;
}

class JobReports : public ::testing::TestWithParam<ReportCase> {};

TEST_P(JobReports, Tell) {
    const ReportCase& c = GetParam();
    JobRig rig;
    rig.files.files["app.vr4"] = sim::make_demo_image(5000, 3);
    rig.files.files["big.vr4"] = sim::make_demo_image(70000, 4);
    rig.console.terminal = c.terminal;
    rig.console.interrupt = c.interrupted;
    if (c.unit) {
        sim::UnitConfig unit = unit_with_serial(70012);
        if (c.configure) c.configure(unit);
        rig.socket.plug_in(unit);
    }
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "{db}" ? rig.db_path : a);
    const JobRun run = rig.run(args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    for (const std::string& part : c.out)
        EXPECT_NE(run.out.find(part), std::string::npos) << part << " in:\n" << run.out;
    for (const std::string& part : c.err)
        EXPECT_NE(run.err.find(part), std::string::npos) << part << " in:\n" << run.err;
    for (const std::string& part : c.not_err)
        EXPECT_EQ(run.err.find(part), std::string::npos) << part << " in:\n" << run.err;
    if (c.also) c.also(run);
}

INSTANTIATE_TEST_SUITE_P(Outputs, JobReports, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
