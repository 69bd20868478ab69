// program --on-unit on a line of units in virtual time, with real hooks (sh): each unit's hook
// runs once its row is completed, passed or failed, in completion order; its outcome is kept
// beside the row and never changes the unit's result; the summary counts them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "sim/demo_image.h"
#include "tests/support/job_rig.h"

namespace vrk::test {
namespace {

using namespace std::chrono_literals;

// Takes the next unit out and puts another in, each time a unit's result is shown; the units'
// serial numbers and whether their flash comes back wrong (a failed verify).
class Line final : public cli::JobObserver {
  public:
    struct Next {
        std::int32_t serial;
        bool bad_flash;
    };
    Line(JobRig& rig, std::vector<Next> next, bool twice)
        : rig_(rig), next_(std::move(next)), twice_(twice) {}

    std::vector<std::string> finished;
    bool waited_for_hooks = false;

    void waiting(cli::Waiting what) override {
        if (what == cli::Waiting::hooks) waited_for_hooks = true;
    }
    void unit_finished(const cli::UnitOutcome& outcome) override {
        finished.push_back(outcome.result);
        if (at_ == next_.size()) {
            rig_.console.interrupt = true;
            if (twice_) rig_.console.interrupts_seen = 2;
            return;
        }
        sim::UnitConfig unit = unit_with_serial(next_[at_].serial);
        if (next_[at_].bad_flash) unit.flip_byte = 10;
        ++at_;
        rig_.socket.pull_out();
        JobRig& rig = rig_;
        rig_.time.at(2s, [&rig, unit] { rig.socket.plug_in(unit); });
    }

  private:
    JobRig& rig_;
    std::vector<Next> next_;
    std::size_t at_ = 0;
    bool twice_;
};

struct HookCase {
    std::string name;
    std::string hook;  // {out}: the file the hook may write
    std::vector<std::string> more = {};
    // Per unit, in order: the unit's result and its hook's status.
    std::vector<std::string> results;
    std::vector<std::string> statuses = {};
    std::string message = {};             // every hook's message contains this
    std::vector<std::string> written = {};  // the file's lines begin so, in order
    std::string summary = {};
    bool ctrl_c_twice = false;  // after the last unit, while its hooks are still to run
};

void PrintTo(const HookCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<HookCase>& cases() {
    static const std::vector<HookCase> table = {
        {.name = "each_unit_passed_or_failed_in_completion_order",
         .hook = R"(sh -c 'echo "$VRK_SERIAL $VRK_RESULT $VRK_ID $VRK_LOT" >> {out}')",
         .results = {"success", "mismatch", "success"},
         .statuses = {"exit 0", "exit 0", "exit 0"},
         .written = {"70012 success L1", "70013 mismatch", "70014 success L1"},
         .summary = "hooks: 3 ran, 0 failed"},
        {.name = "the_row_as_json_on_standard_input",
         .hook = R"(sh -c 'cat >> {out}; echo >> {out}')",
         .results = {"success", "success", "success"},
         .statuses = {"exit 0", "exit 0", "exit 0"},
         .written = {"{\"run_key\":", "{\"run_key\":", "{\"run_key\":"}},
        {.name = "a_hanging_hook_is_ended_and_holds_no_unit_up",
         .hook = "sleep 60",
         .more = {"--on-unit-timeout", "1"},
         .results = {"success", "success", "success"},
         .statuses = {"timed out", "timed out", "timed out"},
         .summary = "hooks: 3 ran, 3 failed"},
        {.name = "a_missing_program_is_not_started_in_every_row",
         .hook = "/nonexistent/vrk-label-printer {out}",
         .results = {"success", "mismatch", "success"},
         .statuses = {"not started", "not started", "not started"},
         .message = "no such",
         .summary = "hooks: 3 ran, 3 failed"},
        {.name = "an_exit_status_is_kept_and_the_unit_keeps_its_result",
         .hook = R"(sh -c 'echo printer offline >&2; exit 3')",
         .results = {"success", "success", "success"},
         .statuses = {"exit 3", "exit 3", "exit 3"},
         .message = "printer offline",
         .summary = "hooks: 3 ran, 3 failed"},
        // The first hook is ended at once, whether it had started or not; the others never
        // start. Without the abandon this would take three minutes.
        {.name = "a_second_ctrl_c_abandons_the_hooks_left",
         .hook = "sleep 60",
         .results = {"success", "success", "success"},
         .summary = "hooks: 0 ran, 0 failed, 3 not run",
         .ctrl_c_twice = true},
    };
    return table;
}

std::vector<std::string> lines_of(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class JobHooks : public ::testing::TestWithParam<HookCase> {};

TEST_P(JobHooks, Run) {
    const HookCase& c = GetParam();
    JobRig rig;
    rig.files.files["app.vr4"] = sim::make_demo_image(3000, 3);
    const std::filesystem::path out = std::filesystem::path(rig.db_path).parent_path() / "hook.out";
    std::string hook = c.hook;
    if (const auto at = hook.find("{out}"); at != std::string::npos)
        hook.replace(at, 5, out.string());
    if (const auto at = hook.find("{out}"); at != std::string::npos)
        hook.replace(at, 5, out.string());
    rig.socket.plug_in(unit_with_serial(70012));
    Line line(rig, {{70013, c.results[1] != "success"}, {70014, c.results[2] != "success"}},
              c.ctrl_c_twice);

    std::vector<std::string> args = {"--repeat", "program", "app.vr4", "--id-format",
                                     "L1{:05}", "--db",     rig.db_path, "--on-unit",
                                     hook};
    args.insert(args.end(), c.more.begin(), c.more.end());
    const JobRun run = rig.run(args, &line);

    EXPECT_EQ(line.finished, c.results);
    EXPECT_EQ(run.exit_code, c.results[1] == "success" ? 0 : 1) << run.err;
    auto store = rig.records();
    ASSERT_TRUE(store);
    std::vector<cli::RunRecord> rows;
    ASSERT_TRUE(store->for_each_run({}, [&](const cli::RunRecord& r) { rows.push_back(r); }).ok());
    ASSERT_EQ(rows.size(), c.results.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(rows[i].end && rows[i].hook) << i;
        EXPECT_EQ(rows[i].end->result, c.results[i]) << i;
        if (c.ctrl_c_twice) {
            // Abandoned while running, or never started: which one is a matter of thread timing.
            EXPECT_TRUE(rows[i].hook->status == "abandoned" || rows[i].hook->status == "not run")
                << rows[i].hook->status;
        } else {
            EXPECT_EQ(rows[i].hook->status, c.statuses[i]) << i;
        }
        EXPECT_NE(rows[i].hook->message.find(c.message), std::string::npos)
            << rows[i].hook->message;
    }
    const std::vector<std::string> written = lines_of(out);
    ASSERT_EQ(written.size(), c.written.size());
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].rfind(c.written[i], 0), 0u) << written[i];
    if (!c.summary.empty()) {
        EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Hooks, JobHooks, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
