// The line flow of vrk --repeat, in virtual time: a port that is not there yet is waited for,
// the next unit is one with another serial number or one that came after the port was lost,
// a unit left in place is not done twice, --count and --max-failures end the line, and the
// job ticks on the window's 10 ms period, also while no unit is there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/demo_image.h"
#include "tests/support/job_rig.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

using namespace std::chrono_literals;

// What the operator does each time the job is done with the unit in the socket (its result
// shown, or "remove unit").
struct Op {
    enum Kind { leave, swap, pull, stop } kind = leave;
    std::int32_t serial = 0;  // swap: the next unit's serial number
    std::function<void(sim::UnitConfig&)> unit = {};
    bool change_image = false;  // swap: the image file is rewritten meanwhile
};

Op leave() {
    return {Op::leave};
}
Op swap(std::int32_t serial, std::function<void(sim::UnitConfig&)> unit = {}) {
    return {Op::swap, serial, std::move(unit)};
}
Op swap_after_image_change(std::int32_t serial) {
    Op op{Op::swap, serial};
    op.change_image = true;
    return op;
}
Op pull() {
    return {Op::pull};
}
Op stop() {
    return {Op::stop};
}

// The job's events as lines ("found 70012", "finished 70012 success", "left 70012",
// "waiting port"), and the operator acting on them.
class Operator final : public cli::JobObserver {
  public:
    Operator(JobRig& rig, std::vector<Op> ops) : rig_(rig), ops_(ops.begin(), ops.end()) {}

    std::vector<std::string> journal;

    void waiting(cli::Waiting what) override {
        if (what == cli::Waiting::port) journal.push_back("waiting port");
    }
    void unit_found(const cli::UnitIdentity& unit, std::uint32_t) override {
        journal.push_back("found " + std::to_string(unit.version->serial_number));
    }
    void unit_left_in_place(const cli::UnitIdentity& unit) override {
        journal.push_back("left " + std::to_string(unit.version->serial_number));
        act();
    }
    void unit_finished(const cli::UnitOutcome& outcome) override {
        journal.push_back("finished " +
                          (outcome.unit ? std::to_string(outcome.unit->version->serial_number)
                                        : std::string("-")) +
                          " " + outcome.result);
        act();
    }

  private:
    void act() {
        if (ops_.empty()) return;
        const Op op = ops_.front();
        ops_.pop_front();
        switch (op.kind) {
            case Op::leave:
                return;
            case Op::stop:
                rig_.console.interrupt = true;
                return;
            case Op::pull:
                rig_.socket.pull_out();
                return;
            case Op::swap: {
                if (op.change_image) rig_.files.files["app.vr4"] = sim::make_demo_image(3000, 4);
                rig_.socket.pull_out();
                sim::UnitConfig next = unit_with_serial(op.serial);
                if (op.unit) op.unit(next);
                JobRig& rig = rig_;
                rig_.time.at(2s, [&rig, next] { rig.socket.plug_in(next); });
                return;
            }
        }
    }

    JobRig& rig_;
    std::deque<Op> ops_;
};

struct LineCase {
    std::string name;
    std::vector<std::string> args;
    bool absent_at_start = false;  // the first unit comes 3 s after the start
    std::vector<Op> ops;
    std::vector<std::string> journal;
    int exit_code = 0;
    std::string summary = {};  // the end of the text summary
    bool last_unit_untouched = false;  // no erase reached the last unit (70013); its flash as it came
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<std::string> program(std::vector<std::string> more) {
    std::vector<std::string> args = {"--repeat", "program", "app.vr4", "--id-format", "L1{:05}"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const std::vector<LineCase>& cases() {
    static const std::vector<LineCase> table = {
        {.name = "a_port_absent_at_start_gets_its_unit_flashed",
         .args = program({}),
         .absent_at_start = true,
         .ops = {stop()},
         .journal = {"waiting port", "found 70012", "finished 70012 success"},
         .summary = "total: 1 unit, 1 succeeded, 0 failed, yield 100.0 %"},
        {.name = "a_unit_left_in_place_after_run_is_not_done_twice",
         .args = program({"--then", "run"}),
         .ops = {leave(), swap(70013), leave(), stop()},
         .journal = {"found 70012", "finished 70012 success", "left 70012", "found 70013",
                     "finished 70013 success", "left 70013"}},
        {.name = "the_same_unit_plugged_in_again_is_the_next_unit",
         .args = program({}),
         .ops = {swap(70012), stop()},
         .journal = {"found 70012", "finished 70012 success", "found 70012",
                     "finished 70012 success"}},
        {.name = "count_ends_the_line",
         .args = program({"--count", "2"}),
         .ops = {swap(70013), swap(70014)},
         .journal = {"found 70012", "finished 70012 success", "found 70013",
                     "finished 70013 success"},
         .summary = "total: 2 units, 2 succeeded, 0 failed, yield 100.0 %"},
        {.name = "max_failures_ends_the_line",
         .args = program({"--max-failures", "2"}),
         .ops = {swap(70013, [](sim::UnitConfig& u) { u.flip_byte = 10; }),
                 swap(70014, [](sim::UnitConfig& u) { u.flip_byte = 10; }), swap(70015)},
         .journal = {"found 70012", "finished 70012 success", "found 70013",
                     "finished 70013 mismatch", "found 70014", "finished 70014 mismatch"},
         .exit_code = 1,
         .summary = "total: 3 units, 1 succeeded, 2 failed, yield 33.3 %"},
        // The run's image is checked again before each unit: a changed file stops the line
        // before its erase.
        {.name = "program_stops_when_the_image_changes_between_units",
         .args = program({}),
         .ops = {swap_after_image_change(70013)},
         .journal = {"found 70012", "finished 70012 success", "found 70013",
                     "finished 70013 image_changed"},
         .exit_code = 4,
         .last_unit_untouched = true},
        {.name = "download_stops_when_the_image_changes_between_units",
         .args = {"--repeat", "download", "app.vr4"},
         .ops = {swap_after_image_change(70013)},
         .journal = {"found 70012", "finished 70012 success", "found 70013",
                     "finished 70013 image_changed"},
         .exit_code = 4,
         .last_unit_untouched = true},
        {.name = "ctrl_c_between_units_is_no_failure",
         .args = program({}),
         .ops = {pull()},
         .journal = {"found 70012", "finished 70012 success"}},
    };
    return table;
}

class JobLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(JobLine, Runs) {
    const LineCase& c = GetParam();
    JobRig rig;
    rig.files.files["app.vr4"] = sim::make_demo_image(3000, 3);
    Operator op(rig, c.ops);
    std::uint64_t sleeps_while_absent = 0;
    if (c.absent_at_start) {
        rig.time.at(3s, [&] {
            sleeps_while_absent = rig.time.sleeps();
            rig.socket.plug_in(unit_with_serial(70012));
        });
    } else {
        rig.socket.plug_in(unit_with_serial(70012));
    }
    // Ctrl+C in the last case: while the next unit is being waited for.
    if (c.name == "ctrl_c_between_units_is_no_failure")
        rig.time.at(60s, [&] { rig.console.interrupt = true; });

    std::vector<std::string> args = c.args;
    if (args.at(1) == "program") args.insert(args.end(), {"--db", rig.db_path});
    const JobRun run = rig.run(args, &op);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(op.journal, c.journal);
    if (!c.summary.empty()) {
        EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
    }
    if (c.last_unit_untouched) {
        const sim::UnitEnd& last = *rig.socket.units().back();
        EXPECT_FALSE(has_message(last.received_messages(), 0x28, 2));
        const sim::UnitEnd as_it_came(unit_with_serial(70013));
        EXPECT_EQ(last.flash_copy(3000), as_it_came.flash_copy(3000));
    }
    if (c.absent_at_start) {
        // No busy loop: one tick per 10 ms while no port is there, each followed by a sleep,
        // and an attempt to open the port about once a second.
        EXPECT_GE(sleeps_while_absent, 290u);
        EXPECT_LE(sleeps_while_absent, 301u);
        EXPECT_LE(rig.socket.opens(), 6);
    }
}

// The erase answers only after the time limit has ended the unit's run (recorded as failed):
// the late answer must not take the download up while the line waits for the next unit.
TEST(JobLineLateReply, AfterAUnitsRunEndedSendsNothing) {
    JobRig rig;
    rig.files.files["app.vr4"] = sim::make_demo_image(3000, 3);
    sim::UnitConfig unit = unit_with_serial(70012);
    unit.erase_ms = 35'000;
    rig.socket.plug_in(unit);
    rig.time.at(60s, [&] { rig.console.interrupt = true; });
    const JobRun run = rig.run({"--json", "--repeat", "download", "app.vr4"});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    const auto finished = run.of("finished");
    ASSERT_EQ(finished.size(), 1u) << run.out;
    EXPECT_EQ(finished[0]["result"], "not_responding");
    EXPECT_FALSE(has_message(rig.socket.unit()->received_messages(), 0x2A, 258));
}

INSTANTIATE_TEST_SUITE_P(Repeat, JobLine, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
