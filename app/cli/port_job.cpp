#include "app/cli/port_job.h"

#include <span>

#include "app/front_end.h"
#include "app/session.h"
#include "app/session_commands.h"
#include "app/wire_trace.h"
#include "vrk_version.h"

namespace vrk::cli {

void SharedLineFile::write_line(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    buffer_.assign(line);
    buffer_ += '\n';
    // One write per line: a crash leaves every line before it whole.
    if (!file_->write(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size())))
        file_.reset();
}

namespace {

// The window's timer: a tick every 10 ms. A tick that overran its period (a quiet read waits up
// to 50 ms for the unit) is followed at once by the next, never by a burst; a tick with nothing
// to wait for (the port gone, no port yet, a reply in hand) leaves the processor to others for
// the rest of its period.
class TickPacer {
  public:
    explicit TickPacer(platform::TickClock& clock) : clock_(clock), next_(clock.tick_ms()) {}
    void wait_for_next() {
        next_ += app::TIMER_PERIOD_MS;
        const auto wait = static_cast<std::int32_t>(next_ - clock_.tick_ms());
        if (wait > 0)
            clock_.sleep_ms(static_cast<std::uint32_t>(wait));
        else
            next_ = clock_.tick_ms();
    }

  private:
    platform::TickClock& clock_;
    std::uint32_t next_;
};

}  // namespace

PortJob::PortJob(const JobPlan& plan, std::string device, std::size_t index, JobServices services)
    : plan_(plan),
      device_(std::move(device)),
      s_(services),
      text_(services.output, plan.command, device_),
      json_(services.output, device_),
      board_(services.output, plan.then, device_, index, services.port_width, services.clock,
             services.line),
      records_(plan.recipe != nullptr && services.store != nullptr
                   ? std::make_optional<UnitRecords>(
                         *services.store, *plan.recipe,
                         RecordsPlace{services.host, device_, VRK_VERSION_TEXT})
                   : std::nullopt),
      flow_(plan, device_, index, services.clock, observers_, services.line,
            records_ ? &*records_ : nullptr),
      index_(index) {
    observers_.add(text_);
    observers_.add(json_);
    observers_.add(board_);
    if (s_.hooks != nullptr && records_) {
        flow_.on_row_completed([this](const RunRecord& row) {
            if (!row.end) return;
            s_.hooks->add(hook_call(row.start, *row.end, index_, row.start.lot.value_or("")));
            hook_queued_ = true;
        });
    }
}

void PortJob::hook_ended(const HookOutcome& outcome) {
    const std::lock_guard lock(hooks_mutex_);
    hooks_ended_.push_back(
        {outcome.run_key, hook_status(outcome), hook_message(outcome), hook_failed(outcome)});
}

void PortJob::drain_hooks() {
    std::vector<HookEnded> ended;
    {
        const std::lock_guard lock(hooks_mutex_);
        ended.swap(hooks_ended_);
    }
    for (const HookEnded& hook : ended) observers_.hook_ended(hook);
}

void PortJob::wait_for_hooks() {
    if (s_.hooks == nullptr || !s_.hooks->full()) return;
    observers_.waiting(Waiting::hooks);
    // Ctrl+C, or the line done: the next unit is not coming anyway.
    (void)s_.hooks->wait_for_room([this] {
        drain_hooks();
        return s_.console.interrupted() || s_.line.stopped();
    });
    observers_.waiting(Waiting::next_unit);
}

PortJob::~PortJob() = default;

void PortJob::records_waiting(const std::string& since, const std::string& why) {
    observers_.records_waiting(since, why);
}

void PortJob::records_back() {
    observers_.records_back();
}

bool PortJob::keep_waiting() {
    return !s_.console.interrupted();
}

int PortJob::run() {
    // The store tells the calls of this thread's job that wait for a line's server.
    struct Watching {
        StationStore* store;
        ~Watching() {
            if (store != nullptr) store->watch_waits(nullptr);
        }
    } watching{records_ ? s_.store : nullptr};
    if (watching.store != nullptr) watching.store->watch_waits(this);
    platform::OpenResult opened = s_.ports.open(device_);
    // A production line's port may not be there yet (a unit on its own USB adapter): --repeat
    // waits for it as for any unit.
    if (!opened.port && plan_.repeat) opened = wait_for_port();
    if (opened.port) {
        run_session(std::move(opened.port));
    } else if (!flow_.done()) {
        flow_.fail_without_unit(Result::port_unavailable,
                                platform::describe_port_error(opened.error, device_));
    }
    return flow_.exit_code();
}

platform::OpenResult PortJob::wait_for_port() {
    observers_.waiting(Waiting::port);
    TickPacer pacer(s_.clock);
    std::uint32_t next_try = s_.clock.tick_ms() + app::Session::REOPEN_INTERVAL_MS;
    for (;;) {
        // Ctrl+C, or the line done: between units, the job just ends.
        if (s_.console.interrupted() || s_.line.stopped()) {
            flow_.interrupt();
            return {};
        }
        if (static_cast<std::int32_t>(s_.clock.tick_ms() - next_try) >= 0) {
            platform::OpenResult opened = s_.ports.open(device_);
            if (opened.port) return opened;
            next_try = s_.clock.tick_ms() + app::Session::REOPEN_INTERVAL_MS;
        }
        drain_hooks();
        pacer.wait_for_next();
    }
}

void PortJob::run_session(std::unique_ptr<platform::SerialPort> port) {
    std::unique_ptr<app::WireTrace> trace;
    app::SessionServices services{s_.clock, s_.files, *this};
    services.before_start = [this, &trace](app::Session& session) {
        // The flow first: the reporters then tell what it made of the event.
        device::EventHub& events = session.engine().events;
        events.add(flow_);
        events.add(text_);
        events.add(json_);
        events.add(board_);
        session.set_prompts(this);
        if (s_.trace != nullptr) {
            SharedLineFile* file = s_.trace;
            trace = std::make_unique<app::WireTrace>(
                session, device_, s_.clock, s_.origin,
                [file](std::string_view line) { file->write_line(line); });
        }
    };
    app::Session session(std::move(port), device_, services);
    flow_.attach(&session);
    // A port that goes away (a USB adapter pulled out, a unit on its own adapter swapped on a
    // production line) is opened again by the name given, once a second, until it is back.
    session.set_reopen([this] { return s_.ports.open(device_); });

    if (s_.record) {
        platform::FileError error = platform::FileError::none;
        if (!app::start_recording(session, *s_.record, &error))
            flow_.fail_without_unit(Result::record_failed,
                                    "The macro file " + *s_.record + " cannot be created.");
    }

    TickPacer pacer(s_.clock);
    while (!flow_.done()) {
        if (s_.console.interrupted()) {
            flow_.interrupt();
            if (flow_.done()) break;
        }
        session.tick();
        flow_.tick();
        drain_hooks();
        if (hook_queued_) {
            hook_queued_ = false;
            wait_for_hooks();
        }
        pacer.wait_for_next();
    }
    trace.reset();
    // The macro file closed whole, DTR and RTS dropped, the port released.
    session.shutdown();
    flow_.attach(nullptr);
}

platform::MessageAnswer PortJob::message_box(const std::string& text, const std::string&,
                                             platform::MessageButtons buttons,
                                             platform::MessageIcon icon) {
    if (icon == platform::MessageIcon::error) flow_.note_error_box();
    text_.box(text);
    return buttons == platform::MessageButtons::yes_no ? platform::MessageAnswer::no
                                                       : platform::MessageAnswer::ok;
}

}  // namespace vrk::cli
