// The hooks of a run (--on-unit): the command run once per unit, after the unit's row has
// been completed, with the row on its standard input. They run one at a time, in the order
// the rows were completed, on a thread of their own, so that a slow label printer or a
// factory system that does not answer never holds a port's next unit up, until the queue is
// full.
//
// Why HOOK_QUEUE_LENGTH is 16: a unit takes a minute or more on the wire and a hook a second
// or so, so the queue is almost always empty; 16 takes in a whole line's ports finishing at
// the same moment. A hook that hangs until its time-out (30 s by default) while units keep
// coming is what fills it: at 16 behind, the labels are some minutes late for the units they
// belong to, and the line had better stop and show why (the board says the port waits for
// the hooks) than print labels for units long gone. Each port adds its unit's hook even when
// the queue is full and only then waits, so at most 16 plus one per port are ever waiting.
//
// Threads: add(), full() and wait_for_room() are called by the ports' jobs, finish() by the
// run once they have ended; the report is called on the queue's own thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/cli/station/station_store.h"
#include "platform/process_runner.h"

namespace vrk::cli {

inline constexpr std::size_t HOOK_QUEUE_LENGTH = 16;
// How often a wait for the queue looks whether the person at the terminal pressed Ctrl+C: the
// interrupt is a flag a signal sets, which cannot wake a waiting thread.
inline constexpr std::uint32_t HOOK_LOOK_MS = 100;

struct HookCall {
    std::string run_key;   // the unit's row
    std::size_t port = 0;  // the port's place among the ports
    std::string input;     // the row, as one JSON object
    std::vector<std::pair<std::string, std::string>> environment;
};

// A completed unit's hook: its row as the JSON object `vrk log --format jsonl` writes (without
// the hook's own columns), and in the environment VRK_RESULT (the row's result), VRK_ID (the
// ID the unit was left with, else the one it came with), VRK_SERIAL, VRK_PORT, VRK_RUN_KEY and
// VRK_LOT, each empty when not known.
[[nodiscard]] HookCall hook_call(const RunStart& start, const RunEnd& end, std::size_t port,
                                 const std::string& lot);
struct HookOutcome {
    std::string run_key;
    std::size_t port = 0;
    platform::ProcessOutcome process;
    bool run = true;  // false: abandoned while still queued, never started
};

// "exit 0", "exit 3", "timed out", "not started", "signal 9", "abandoned", "not run": what the
// board shows and the record keeps.
[[nodiscard]] std::string hook_status(const HookOutcome& outcome);
// The line that goes with the status: why it was not started, or the first line of its error
// output.
[[nodiscard]] std::string hook_message(const HookOutcome& outcome);
// Anything but exit 0.
[[nodiscard]] bool hook_failed(const HookOutcome& outcome);
// What the records keep of a hook's outcome, ended at `ended_at`.
[[nodiscard]] HookRecord hook_record(const HookOutcome& outcome, std::string ended_at);

struct HookSummary {
    std::uint32_t ran = 0;      // run to their end, whatever it was (not started included)
    std::uint32_t failed = 0;   // of those, all that did not exit with 0
    std::uint32_t not_run = 0;  // abandoned, running or queued
};

class HookQueue {
  public:
    using Report = std::function<void(const HookOutcome&)>;

    // Runs `words` with each call's input and environment through `runner`, at most
    // `time_limit_ms` each, and reports every outcome (not run ones too) to `report`.
    HookQueue(platform::ProcessRunner& runner, std::vector<std::string> words,
              std::uint32_t time_limit_ms, Report report, std::size_t length = HOOK_QUEUE_LENGTH);
    // Abandons what is left (a run that ends without finish(): an error path) and waits for
    // the thread.
    ~HookQueue();
    HookQueue(const HookQueue&) = delete;
    HookQueue& operator=(const HookQueue&) = delete;

    // Queues a unit's hook; never waits.
    void add(HookCall call);
    // Whether `length` hooks are waiting to run (the one running not counted).
    [[nodiscard]] bool full() const;
    // Waits while the queue is full; true once there is room, false when `stop` (asked every
    // HOOK_LOOK_MS) said to stop first.
    [[nodiscard]] bool wait_for_room(const std::function<bool()>& stop);
    // The end of the run: waits until every queued hook has run to its end, unless `abandon`
    // (asked every HOOK_LOOK_MS) says not to wait: then the one running is ended and those
    // queued are reported as not run. Once only.
    HookSummary finish(const std::function<bool()>& abandon);

  private:
    void work();

    platform::ProcessRunner& runner_;
    std::vector<std::string> words_;
    std::uint32_t time_limit_ms_;
    Report report_;
    std::size_t length_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<HookCall> queue_;
    bool busy_ = false;       // a hook is running
    bool abandoned_ = false;  // nothing more is started
    HookSummary summary_;
    std::thread thread_;
};

}  // namespace vrk::cli
