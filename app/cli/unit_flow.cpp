#include "app/cli/unit_flow.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/line_tally.h"
#include "app/session.h"
#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/hex_text.h"
#include "platform/sha256.h"

namespace vrk::cli {

namespace {

int exit_code_of(device::Result result) {
    switch (result) {
        case device::Result::success:
            return EXIT_OK;
        case device::Result::port_lost:
            return EXIT_NO_LINK;
        case device::Result::file_not_found:
        case device::Result::file_unreadable:
        case device::Result::file_empty:
        case device::Result::file_too_large:
            return EXIT_BAD_IMAGE;
        case device::Result::mismatch:
        case device::Result::not_responding:
        case device::Result::link_lost:
        case device::Result::interrupted:
            break;
    }
    return EXIT_FAILED;
}

std::string value_text(const std::string& text, std::uint8_t code) {
    return (text.empty() ? std::string("(not in the list)") : text) + " (" +
           platform::hex_code(code) + ")";
}

}  // namespace

UnitFlow::UnitFlow(const JobPlan& plan, std::string port, std::size_t index,
                   platform::TickClock& clock, JobObserver& observers, LineTally& line)
    : plan_(plan),
      port_(std::move(port)),
      index_(index),
      clock_(clock),
      observers_(observers),
      line_(line) {
    wait_started_ = now();
}

void UnitFlow::attach(app::Session* session) {
    session_ = session;
}

int UnitFlow::exit_code() const {
    return error_box_ ? std::max(exit_code_, EXIT_FAILED) : exit_code_;
}

std::string UnitFlow::port_gone_text() const {
    return "The port " + port_ + " is gone.";
}

std::size_t UnitFlow::step_count() const {
    return (plan_.transfer ? 1u : 0u) + (plan_.id ? 1u : 0u) + plan_.settings.size() +
           (plan_.then != FinalMode::none ? 1u : 0u);
}

UnitFlow::Step UnitFlow::step_at(std::size_t index) const {
    if (plan_.transfer) {
        if (index == 0) return {StepKind::transfer, 0};
        --index;
    }
    if (plan_.id) {
        if (index == 0) return {StepKind::unit_id, 0};
        --index;
    }
    if (index < plan_.settings.size()) return {StepKind::setting, index};
    return {StepKind::mode, 0};
}

void UnitFlow::tick() {
    const std::uint32_t t = now();
    switch (state_) {
        case State::finding_unit:
            find_unit(t);
            return;
        case State::running:
            check_step(t);
            return;
        case State::between_units:
            if (unit_gone_) {
                forget_unit();
                state_ = State::finding_unit;
                wait_started_ = t;
            }
            return;
        case State::done:
            return;
    }
}

void UnitFlow::find_unit(std::uint32_t t) {
    if (unit_.complete()) {
        if (!confirm_identity(t)) return;
        if (!line_.take_unit()) {
            state_ = State::done;
            return;
        }
        observers_.unit_found(unit_, baud_);
        start_unit(t);
        return;
    }
    if (port_lost_ && !plan_.repeat) {
        finish_unit({"port_lost", EXIT_NO_LINK, port_gone_text()});
        return;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", plan_.link_timeout_ms / 1000.0);
    // With --repeat the line waits for its next unit as long as it takes; a unit that answered
    // has the link time-out to tell what it is.
    const bool out_of_time = plan_.link_timeout_ms != 0 &&
                             (linked_ ? t - unit_started_ > plan_.link_timeout_ms
                                      : !plan_.repeat && t - wait_started_ > plan_.link_timeout_ms);
    if (out_of_time) {
        if (linked_ && !line_.take_unit()) {
            state_ = State::done;
            return;
        }
        finish_unit({"no_link", EXIT_NO_LINK,
                     (linked_ ? "The unit on " + port_ + " answered but did not report itself"
                              : "No unit answered on " + port_) +
                         " within " + seconds + " s."});
        return;
    }
    // A reply to one of the first queries lost on the line: ask again.
    if (linked_ && session_ != nullptr && t - last_query_ > QUERY_AGAIN_MS) {
        app::query_unit(*session_);
        last_query_ = t;
    }
}

bool UnitFlow::confirm_identity(std::uint32_t t) {
    // A report garbled on a noisy line shows a wrong serial number, ID or version as well as a
    // right one: nothing is done with a unit, or recorded of it, before two consecutive
    // reports of each agree.
    const bool ask_id = id_agreement_.ask(t);
    const bool ask_version = version_agreement_.ask(t);
    if ((ask_id || ask_version) && session_ != nullptr)
        app::ask_identity(*session_, ask_id, ask_version);
    if (id_agreement_.state() == Agreement::agreed &&
        version_agreement_.state() == Agreement::agreed) {
        unit_.id = *id_agreement_.value();
        unit_.id_utf8 = platform::display_utf8(*unit_.id);
        unit_.version = *version_agreement_.value();
        return true;
    }
    if (id_agreement_.state() == Agreement::failed ||
        version_agreement_.state() == Agreement::failed) {
        // The unit is left as it is: nothing it said can be trusted to record or to number.
        if (!line_.take_unit()) {
            state_ = State::done;
            return false;
        }
        finish_unit(
            {"identity_unconfirmed", EXIT_FAILED,
             "The unit's reports of its " +
                 std::string(id_agreement_.state() == Agreement::failed ? "ID" : "version") +
                 " did not agree: its identity cannot be trusted on this line."});
        return false;
    }
    return false;
}

void UnitFlow::start_unit(std::uint32_t t) {
    state_ = State::running;
    step_ = 0;
    transfer_.reset();
    if (plan_.transfer) {
        transfer_ = TransferFacts{};
        transfer_->operation = *plan_.transfer;
        transfer_->image = plan_.image;
    }
    next_step(t);
}

void UnitFlow::next_step(std::uint32_t t) {
    if (step_ >= step_count()) {
        // Every step done: for info, the identity is the answer.
        finish_unit({"success", EXIT_OK, ""});
        return;
    }
    start_step(t);
}

void UnitFlow::start_step(std::uint32_t t) {
    step_started_ = t;
    step_result_.reset();
    if (session_ == nullptr) {
        end_step({"port_lost", EXIT_NO_LINK, port_gone_text()});
        return;
    }
    const Step step = step_at(step_);
    switch (step.kind) {
        case StepKind::transfer:
            app::start_transfer(*session_, *plan_.transfer, plan_.image, plan_.image);
            break;
        case StepKind::unit_id:
            app::send_unit_id(*session_, *plan_.id);
            break;
        case StepKind::setting: {
            const SettingChange& change = plan_.settings[step.setting];
            if (!app::choose_setting(*session_, change.setting, change.code))
                step_result_ =
                    StepResult{"not_confirmed", EXIT_FAILED, "The list has no such value."};
            break;
        }
        case StepKind::mode:
            if (plan_.then == FinalMode::qb7)
                app::request_qb7_mode(*session_);
            else
                app::request_run_application(*session_);
            break;
    }
    // A refusal comes back at once, inside the request.
    if (step_result_) end_step(*step_result_);
}

void UnitFlow::check_step(std::uint32_t t) {
    if (step_result_) {
        end_step(*step_result_);
        return;
    }
    const Step step = step_at(step_);
    if (step.kind == StepKind::transfer) return;  // the engine's limits end a transfer
    if (port_lost_) {
        end_step({"port_lost", EXIT_NO_LINK, port_gone_text()});
        return;
    }
    if (t - step_started_ <= ANSWER_LIMIT_MS) return;
    if (step.kind == StepKind::mode)
        end_step(
            {"not_confirmed", EXIT_FAILED, "The unit did not report the mode it was asked for."});
    else
        end_step({"not_confirmed", EXIT_FAILED, "The unit did not confirm the change."});
}

void UnitFlow::end_step(StepResult result) {
    step_result_.reset();
    if (result.exit_code != EXIT_OK) {
        finish_unit(std::move(result));
        return;
    }
    ++step_;
    if (step_ >= step_count()) {
        finish_unit(std::move(result));
        return;
    }
    start_step(now());
}

void UnitFlow::finish_unit(StepResult result) {
    const std::uint32_t t = now();
    UnitOutcome outcome;
    outcome.command = plan_.command;
    outcome.result = std::move(result.result);
    outcome.exit_code = result.exit_code;
    outcome.message = std::move(result.message);
    if (unit_.id) outcome.unit = unit_;
    outcome.transfer = transfer_;
    if (!transfer_ && plan_.transfer) {
        // Asked for, never started (the port could not be opened): the operation all the same.
        outcome.transfer = TransferFacts{};
        outcome.transfer->operation = *plan_.transfer;
        outcome.transfer->image = plan_.image;
    }
    const bool transferred = transfer_ && transfer_->started;
    outcome.duration_ms = t - (transferred ? unit_started_ : wait_started_);
    observers_.unit_finished(outcome);

    ++units_;
    if (outcome.ok()) ++succeeded_;
    exit_code_ = std::max(exit_code_, outcome.exit_code);
    line_.unit_ended(index_, outcome.ok());
    transfer_.reset();

    if (plan_.repeat && outcome.result != "interrupted" && outcome.exit_code != EXIT_USAGE &&
        !line_.stopped()) {
        // The line waits for this unit to go and the next to come.
        state_ = State::between_units;
        unit_gone_ = !linked_;
        observers_.waiting(Waiting::next_unit);
    } else {
        state_ = State::done;
    }
}

void UnitFlow::forget_unit() {
    unit_ = UnitIdentity{};
}

void UnitFlow::interrupt() {
    if (state_ == State::running && step_at(step_).kind == StepKind::transfer &&
        session_ != nullptr && app::transfer_running(*session_)) {
        // The engine ends it; its result comes back as an event, says "interrupted", and
        // nothing more is sent to the unit.
        app::cancel_transfer(*session_);
        if (step_result_) finish_unit(*step_result_);
        state_ = State::done;
        return;
    }
    // Waiting between units is how a production line ends its shift, not a failure.
    const bool between_units = plan_.repeat && (state_ == State::between_units ||
                                                (state_ == State::finding_unit && !linked_));
    if (!between_units && state_ != State::done)
        finish_unit({"interrupted", EXIT_FAILED, "Interrupted."});
    state_ = State::done;
}

void UnitFlow::fail_without_unit(std::string result, int exit_code, std::string message) {
    finish_unit({std::move(result), exit_code, std::move(message)});
    state_ = State::done;
}

void UnitFlow::link_up(std::uint32_t baud) {
    const std::uint32_t t = now();
    linked_ = true;
    port_lost_ = false;
    baud_ = baud;
    last_query_ = t;
    if (state_ == State::finding_unit) {
        unit_started_ = t;
        unit_answered_ = true;
        // The reports from here on are the unit's: the agreement counts them all.
        id_agreement_.start(t, plan_.link_timeout_ms);
        version_agreement_.start(t, plan_.link_timeout_ms);
    }
}

void UnitFlow::link_lost(link::LinkLoss why) {
    const bool was_linked = linked_;
    linked_ = false;
    if (why == link::LinkLoss::port_lost) port_lost_ = true;
    if (!was_linked && why != link::LinkLoss::port_lost) return;  // the hunt goes on
    switch (state_) {
        case State::between_units:
            unit_gone_ = true;
            return;
        case State::finding_unit:
            forget_unit();
            return;
        case State::running: {
            if (step_result_) return;
            const StepKind kind = step_at(step_).kind;
            // A transfer is ended by the engine, which says why. A mode request has its answer
            // already: the mode report is what resets the link.
            if (kind == StepKind::transfer || kind == StepKind::mode) return;
            step_result_ = why == link::LinkLoss::port_lost
                               ? StepResult{"port_lost", EXIT_NO_LINK, port_gone_text()}
                               : StepResult{"link_lost", EXIT_FAILED, "The unit went away."};
            return;
        }
        case State::done:
            return;
    }
}

void UnitFlow::version_reported(const device::VersionReport& report) {
    take_report(unit_, report);
    if (state_ == State::finding_unit) version_agreement_.report(VersionFacts::of(report));
}

void UnitFlow::setting_reported(const device::SettingReport& report) {
    take_report(unit_, report);
    if (state_ == State::finding_unit && report.setting == device::Setting::unit_id)
        id_agreement_.report(std::string(report.text));
    if (state_ != State::running || step_result_) return;
    const Step step = step_at(step_);
    const bool mine =
        (step.kind == StepKind::unit_id && report.setting == device::Setting::unit_id) ||
        (step.kind == StepKind::setting && report.setting == plan_.settings[step.setting].setting);
    if (!mine) return;
    observers_.setting_answered(
        {report.setting, report.code, std::string(report.text_utf8), report.confirmation});
    const bool id = report.setting == device::Setting::unit_id;
    const std::string shown = id ? "'" + std::string(report.text_utf8) + "'"
                                 : value_text(unit_.setting(report.setting).text, report.code);
    const std::string name = id ? "ID" : std::string(device::setting_name(report.setting));
    if (report.confirmation)
        step_result_ = StepResult{"success", EXIT_OK, "the unit took " + name + " " + shown};
    else
        step_result_ = StepResult{"not_confirmed", EXIT_FAILED,
                                  "the unit reports " + name + " " + shown + " instead"};
}

void UnitFlow::mode_reported(device::UnitMode mode) {
    if (state_ != State::running || step_result_) return;
    if (step_at(step_).kind != StepKind::mode) return;
    const bool wanted =
        (plan_.then == FinalMode::qb7 && mode == device::UnitMode::qb7) ||
        (plan_.then == FinalMode::run && mode == device::UnitMode::application_running);
    if (!wanted) return;
    step_result_ = StepResult{"success", EXIT_OK,
                              mode == device::UnitMode::qb7 ? "the unit is in QB7 mode"
                                                            : "the unit runs its application"};
}

void UnitFlow::operation_started(const device::OperationStart& start) {
    if (!transfer_) return;
    transfer_->started = true;
    transfer_->operation = start.kind;
    transfer_->pages = start.pages;
    transfer_->pages_done = 0;
    transfer_->image_size = start.image_size;
    unit_started_ = now();
    if (session_ != nullptr)
        transfer_->image_sha256 = platform::sha256_hex(app::loaded_image(*session_));
}

void UnitFlow::progress(const device::Progress& p) {
    if (!transfer_) return;
    transfer_->pages_done = p.pages_done;
    transfer_->pages = p.pages;
}

void UnitFlow::operation_finished(const device::OperationEnd& end) {
    if (!transfer_) return;
    transfer_->pages_done = end.pages_done;
    transfer_->pages = end.pages;
    step_result_ = StepResult{std::string(device::result_name(end.result)),
                              exit_code_of(end.result), std::string(end.status_text)};
}

void UnitFlow::operation_refused(const device::OperationEnd& end) {
    if (!transfer_) return;
    step_result_ = StepResult{std::string(device::result_name(end.result)),
                              exit_code_of(end.result), std::string(end.status_text)};
}

}  // namespace vrk::cli
