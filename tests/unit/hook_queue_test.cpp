// The hooks' queue with a runner that plays the programs: each run waits until the test lets
// it end (or it is abandoned), then ends as the test scripted it for its unit.
#include "app/cli/hook_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

namespace vrk::cli {
namespace {

using platform::ProcessEnd;
using platform::ProcessOutcome;

class PlayedRunner final : public platform::ProcessRunner {
  public:
    std::map<std::string, ProcessOutcome> script;  // by the unit's input; else exit 0
    bool hold = false;                             // runs wait for release()

    ProcessOutcome run(const platform::ProcessRequest& request) override {
        std::unique_lock lock(mutex_);
        requests.push_back(request);
        ++started_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !hold || released_ > 0 || abandoned_; });
        if (abandoned_) return {ProcessEnd::abandoned, 0, 0, "", ""};
        if (hold) --released_;
        const auto played = script.find(request.input);
        return played != script.end() ? played->second
                                      : ProcessOutcome{ProcessEnd::exited, 0, 0, "", ""};
    }
    void abandon() override {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
        changed_.notify_all();
    }
    void release() {
        const std::lock_guard lock(mutex_);
        ++released_;
        changed_.notify_all();
    }
    void wait_started(int runs) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_ >= runs; });
    }

    std::vector<platform::ProcessRequest> requests;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int started_ = 0;
    int released_ = 0;
    bool abandoned_ = false;
};

HookCall call(const std::string& key, std::size_t port = 0) {
    return {key, port, "row " + key, {{"VRK_RUN_KEY", key}}};
}

// Every outcome the queue reported, in order.
struct Reports {
    std::mutex mutex;
    std::vector<std::string> lines;
    HookQueue::Report report() {
        return [this](const HookOutcome& o) {
            const std::lock_guard lock(mutex);
            lines.push_back(o.run_key + " " + hook_status(o) + " " + hook_message(o));
        };
    }
};

TEST(HookQueue, WhatTheRecordAndTheBoardSay) {
    struct Case {
        ProcessOutcome process;
        bool run;
        const char* status;
        const char* message;
        bool failed;
    };
    const Case cases[] = {
        {{ProcessEnd::exited, 0, 0, "", "printed"}, true, "exit 0", "printed", false},
        {{ProcessEnd::exited, 3, 0, "", "offline"}, true, "exit 3", "offline", true},
        {{ProcessEnd::signalled, 0, 9, "", ""}, true, "signal 9", "", true},
        {{ProcessEnd::timed_out, 0, 0, "", "waiting"}, true, "timed out", "waiting", true},
        {{ProcessEnd::not_started, 0, 0, "no such program", ""},
         true,
         "not started",
         "no such program",
         true},
        {{ProcessEnd::abandoned, 0, 0, "", "half"}, true, "abandoned", "half", true},
        {{}, false, "not run", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        HookOutcome outcome{"k", 0, c.process, c.run};
        EXPECT_EQ(hook_status(outcome), c.status);
        EXPECT_EQ(hook_message(outcome), c.message);
        EXPECT_EQ(hook_failed(outcome), c.failed);
    }
}

// What a hook is given of its unit: the row, and the few fields a shell line wants, empty when
// the records do not know them.
TEST(HookQueue, AHookIsGivenItsUnitsRow) {
    RunStart start;
    start.run_key = "k1";
    start.port = "/dev/ttyUSB1";
    start.serial_number = 70012;
    start.id_before = "OLD";
    RunEnd end;
    end.result = "mismatch";
    end.message = "page 3";
    struct Case {
        const char* name;
        std::optional<std::int32_t> serial;
        std::optional<std::string> id_after;
        std::string lot;
        std::string serial_text, id;
    };
    const Case cases[] = {
        {"a new ID", 70012, "L100001", "lot 7", "70012", "L100001"},
        {"the ID it came with", 70012, std::nullopt, "", "70012", "OLD"},
        {"no identity", std::nullopt, std::nullopt, "", "", "OLD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start.serial_number = c.serial;
        end.id_after = c.id_after;
        const HookCall call = hook_call(start, end, 2, c.lot);
        EXPECT_EQ(call.run_key, "k1");
        EXPECT_EQ(call.port, 2u);
        EXPECT_EQ(call.environment,
                  (std::vector<std::pair<std::string, std::string>>{{"VRK_RESULT", "mismatch"},
                                                                    {"VRK_ID", c.id},
                                                                    {"VRK_SERIAL", c.serial_text},
                                                                    {"VRK_PORT", "/dev/ttyUSB1"},
                                                                    {"VRK_RUN_KEY", "k1"},
                                                                    {"VRK_LOT", c.lot}}));
        EXPECT_EQ(call.input.front(), '{');
        EXPECT_EQ(call.input.back(), '}');
        EXPECT_NE(call.input.find("\"run_key\":\"k1\""), std::string::npos);
        EXPECT_NE(call.input.find("\"message\":\"page 3\""), std::string::npos);
        EXPECT_EQ(call.input.find("hook"), std::string::npos);
    }
}

TEST(HookQueue, RunsEveryHookInTheOrderTheRowsCame) {
    PlayedRunner runner;
    runner.script["row b"] = {ProcessEnd::exited, 3, 0, "", "offline"};
    runner.script["row c"] = {ProcessEnd::not_started, 0, 0, "no such program", ""};
    Reports reports;
    HookQueue queue(runner, {"label", "--print"}, 5'000, reports.report());
    for (const char* key : {"a", "b", "c", "d"}) queue.add(call(key));
    const HookSummary summary = queue.finish([] { return false; });
    EXPECT_EQ(reports.lines,
              (std::vector<std::string>{"a exit 0 ", "b exit 3 offline",
                                        "c not started no such program", "d exit 0 "}));
    EXPECT_EQ(summary.ran, 4u);
    EXPECT_EQ(summary.failed, 2u);
    EXPECT_EQ(summary.not_run, 0u);
    ASSERT_EQ(runner.requests.size(), 4u);
    EXPECT_EQ(runner.requests[1].words, (std::vector<std::string>{"label", "--print"}));
    EXPECT_EQ(runner.requests[1].time_limit_ms, 5'000u);
    EXPECT_EQ(runner.requests[1].environment,
              (std::vector<std::pair<std::string, std::string>>{{"VRK_RUN_KEY", "b"}}));
}

// A full queue holds a port before its next unit until a hook has been taken, or the run
// stops; the unit's own hook is queued all the same.
TEST(HookQueue, AFullQueueHoldsThePortsBack) {
    PlayedRunner runner;
    runner.hold = true;
    Reports reports;
    HookQueue queue(runner, {"hook"}, 1'000, reports.report(), 2);
    queue.add(call("a"));
    runner.wait_started(1);  // a runs; b and c wait
    queue.add(call("b"));
    EXPECT_FALSE(queue.full());
    queue.add(call("c"));
    EXPECT_TRUE(queue.full());
    queue.add(call("d"));  // a second port's unit, done at the same moment
    int asked = 0;
    EXPECT_FALSE(queue.wait_for_room([&] { return ++asked == 3; }));  // Ctrl+C while waiting
    runner.release();  // a ends, b starts: c and d wait, still full
    runner.wait_started(2);
    EXPECT_TRUE(queue.full());
    runner.release();  // b ends, c starts: only d waits
    runner.wait_started(3);
    EXPECT_TRUE(queue.wait_for_room([] { return false; }));
    EXPECT_FALSE(queue.full());
    runner.release();
    runner.release();
    EXPECT_EQ(queue.finish([] { return false; }).ran, 4u);
}

// A second Ctrl+C at the end: the hook running is ended, the queued ones never start, and
// every one of them is reported.
TEST(HookQueue, AbandonedAtTheEnd) {
    PlayedRunner runner;
    runner.hold = true;
    Reports reports;
    HookQueue queue(runner, {"hook"}, 1'000, reports.report());
    for (const char* key : {"a", "b", "c"}) queue.add(call(key));
    runner.wait_started(1);
    runner.release();  // a ends by itself; b runs and hangs
    runner.wait_started(2);
    int asked = 0;
    const HookSummary summary = queue.finish([&] { return ++asked == 2; });
    EXPECT_EQ(reports.lines, (std::vector<std::string>{"a exit 0 ", "b abandoned ", "c not run "}));
    EXPECT_EQ(summary.ran, 1u);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_EQ(summary.not_run, 2u);
    EXPECT_EQ(runner.requests.size(), 2u);
}

}  // namespace
}  // namespace vrk::cli
