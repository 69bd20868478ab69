#include "app/cli/hook_queue.h"

#include <chrono>

#include "app/cli/station/log_export.h"

namespace vrk::cli {

HookCall hook_call(const RunStart& start, const RunEnd& end, std::size_t port,
                   const std::string& lot) {
    HookCall call;
    call.run_key = start.run_key;
    call.port = port;
    call.input = json_row_for_hook(RunRecord{start, end, std::nullopt});
    const std::string id = end.id_after.value_or(start.id_before.value_or(""));
    const std::string serial =
        start.serial_number ? std::to_string(*start.serial_number) : std::string();
    call.environment = {{"VRK_RESULT", end.result},     {"VRK_ID", id},
                        {"VRK_SERIAL", serial},         {"VRK_PORT", start.port},
                        {"VRK_RUN_KEY", start.run_key}, {"VRK_LOT", lot}};
    return call;
}

HookRecord hook_record(const HookOutcome& outcome, std::string ended_at) {
    return {outcome.run_key, hook_status(outcome), hook_message(outcome), std::move(ended_at)};
}

std::string hook_status(const HookOutcome& outcome) {
    if (!outcome.run) return "not run";
    const platform::ProcessOutcome& p = outcome.process;
    switch (p.end) {
        case platform::ProcessEnd::exited:
            return "exit " + std::to_string(p.exit_status);
        case platform::ProcessEnd::signalled:
            return "signal " + std::to_string(p.signal);
        case platform::ProcessEnd::timed_out:
            return "timed out";
        case platform::ProcessEnd::not_started:
            return "not started";
        case platform::ProcessEnd::abandoned:
            break;
    }
    return "abandoned";
}

std::string hook_message(const HookOutcome& outcome) {
    if (outcome.run && outcome.process.end == platform::ProcessEnd::not_started)
        return outcome.process.reason;
    return outcome.process.error_line;
}

bool hook_failed(const HookOutcome& outcome) {
    return !outcome.run || outcome.process.end != platform::ProcessEnd::exited ||
           outcome.process.exit_status != 0;
}

HookQueue::HookQueue(platform::ProcessRunner& runner, std::vector<std::string> words,
                     std::uint32_t time_limit_ms, Report report, std::size_t length)
    : runner_(runner),
      words_(std::move(words)),
      time_limit_ms_(time_limit_ms),
      report_(std::move(report)),
      length_(length),
      thread_([this] { work(); }) {}

HookQueue::~HookQueue() {
    (void)finish([] { return true; });
}

void HookQueue::add(HookCall call) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(call));
    }
    changed_.notify_all();
}

bool HookQueue::full() const {
    const std::lock_guard lock(mutex_);
    return queue_.size() >= length_;
}

bool HookQueue::wait_for_room(const std::function<bool()>& stop) {
    std::unique_lock lock(mutex_);
    while (queue_.size() >= length_ && !abandoned_) {
        if (stop()) return false;
        changed_.wait_for(lock, std::chrono::milliseconds(HOOK_LOOK_MS));
    }
    return true;
}

HookSummary HookQueue::finish(const std::function<bool()>& abandon) {
    std::deque<HookCall> left;
    {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) return summary_;
        while (!queue_.empty() || busy_) {
            if (abandon()) {
                abandoned_ = true;
                // Ends the one running now; the thread reports it as abandoned.
                runner_.abandon();
                break;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(HOOK_LOOK_MS));
        }
        abandoned_ = true;
        left.swap(queue_);
    }
    changed_.notify_all();
    thread_.join();
    for (HookCall& call : left) {
        HookOutcome outcome;
        outcome.run_key = std::move(call.run_key);
        outcome.port = call.port;
        outcome.run = false;
        report_(outcome);
    }
    const std::lock_guard lock(mutex_);
    summary_.not_run += static_cast<std::uint32_t>(left.size());
    return summary_;
}

void HookQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return abandoned_ || !queue_.empty(); });
        if (abandoned_) return;
        HookCall call = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        // A port waiting for room may go on now.
        changed_.notify_all();

        platform::ProcessRequest request;
        request.words = words_;
        request.input = std::move(call.input);
        request.environment = std::move(call.environment);
        request.time_limit_ms = time_limit_ms_;
        HookOutcome outcome;
        outcome.run_key = std::move(call.run_key);
        outcome.port = call.port;
        outcome.process = runner_.run(request);
        report_(outcome);

        lock.lock();
        busy_ = false;
        if (outcome.process.end == platform::ProcessEnd::abandoned) {
            ++summary_.not_run;
        } else {
            ++summary_.ran;
            if (hook_failed(outcome)) ++summary_.failed;
        }
        changed_.notify_all();
    }
}

}  // namespace vrk::cli
