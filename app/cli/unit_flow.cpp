#include "app/cli/unit_flow.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/common/image_file.h"
#include "app/cli/line_tally.h"
#include "app/session.h"
#include "app/session_commands.h"
#include "platform/code_page.h"
#include "platform/sha256.h"

namespace vrk::cli {

namespace {

// The unit as the station's records take it.
UnitFacts facts_of(const UnitIdentity& unit) {
    UnitFacts facts;
    facts.id = unit.id;
    facts.id_utf8 = unit.id_utf8;
    if (unit.version) {
        const VersionFacts& v = *unit.version;
        facts.serial_number = v.serial_number;
        facts.firmware_version = v.version;
        facts.version_hundredths = v.version_hundredths;
        facts.flash_type_code = v.flash_type_code;
        facts.flash_type = v.flash_type;
    }
    facts.settings = unit.codes();
    return facts;
}

// The device settings in the order of the flow's agreements on them.
constexpr device::Setting SETTINGS[] = {device::Setting::gps_type, device::Setting::internal_device,
                                        device::Setting::external_device};

std::size_t setting_index(device::Setting setting) {
    return setting == device::Setting::gps_type          ? 0
           : setting == device::Setting::internal_device ? 1
                                                         : 2;
}

}  // namespace

UnitFlow::UnitFlow(const JobPlan& plan, std::string port, std::size_t index,
                   platform::TickClock& clock, JobObserver& observers, LineTally& line,
                   UnitRecords* records)
    : plan_(plan),
      port_(std::move(port)),
      index_(index),
      clock_(clock),
      observers_(observers),
      line_(line),
      records_(records) {
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

// The steps: the transfer, the ID, each setting, the final mode, those the plan has, in this
// order.
std::size_t UnitFlow::step_count() const {
    return (plan_.transfer ? 1u : 0u) + (plan_.id || plan_.recipe_id ? 1u : 0u) +
           plan_.settings.size() + (plan_.then != FinalMode::none ? 1u : 0u);
}

UnitFlow::Step UnitFlow::step_at(std::size_t index) const {
    if (plan_.transfer) {
        if (index == 0) return {StepKind::transfer, 0};
        --index;
    }
    if (plan_.id || plan_.recipe_id) {
        if (index == 0) return {StepKind::unit_id, 0};
        --index;
    }
    if (index < plan_.settings.size()) return {StepKind::setting, index};
    return {StepKind::mode, 0};
}

RecipeStep UnitFlow::recipe_step(StepKind kind) {
    switch (kind) {
        case StepKind::transfer:
            return RecipeStep::download;
        case StepKind::unit_id:
            return RecipeStep::id;
        case StepKind::setting:
            return RecipeStep::settings;
        case StepKind::mode:
            break;
    }
    return RecipeStep::then;
}

bool UnitFlow::first_of_group(std::size_t index) const {
    return index == 0 || recipe_step(step_at(index - 1).kind) != recipe_step(step_at(index).kind);
}

bool UnitFlow::last_of_group(std::size_t index) const {
    return index + 1 >= step_count() ||
           recipe_step(step_at(index + 1).kind) != recipe_step(step_at(index).kind);
}

void UnitFlow::tick() {
    const std::uint32_t t = now();
    switch (state_) {
        case State::finding_unit:
            // The line has done its units, or something every port needs failed: a port that
            // has no unit in hand ends.
            if (line_.stopped()) {
                state_ = State::done;
                return;
            }
            find_unit(t);
            return;
        case State::running:
            check_step(t);
            return;
        case State::between_units:
            if (line_.stopped()) {
                state_ = State::done;
                return;
            }
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

bool UnitFlow::take_unit() {
    if (unit_taken_) return true;
    if (!line_.take_unit()) {
        // The line has done what it was to do, or stopped: this unit is left alone.
        state_ = State::done;
        return false;
    }
    unit_taken_ = true;
    return true;
}

void UnitFlow::find_unit(std::uint32_t t) {
    if (unit_.complete()) {
        if (!confirm_identity(t)) return;
        // The unit handled last, found again without having left the port (left in place
        // after its application was started): not the next unit, and not done twice.
        if (last_serial_ && *last_serial_ == unit_.version->serial_number && !port_lost_since_) {
            observers_.unit_left_in_place(unit_);
            state_ = State::between_units;
            unit_gone_ = !linked_;
            return;
        }
        if (!take_unit()) return;
        port_lost_since_ = false;
        observers_.unit_found(unit_, baud_);
        start_unit(t);
        return;
    }
    if (port_lost_ && !plan_.repeat) {
        finish_unit({Result::port_lost, port_gone_text()});
        return;
    }
    // With --repeat the line waits for its next unit as long as it takes; a unit that answered
    // has the link time-out to tell what it is.
    const bool out_of_time = plan_.link_timeout_ms != 0 &&
                             (linked_ ? t - unit_started_ > plan_.link_timeout_ms
                                      : !plan_.repeat && t - wait_started_ > plan_.link_timeout_ms);
    if (out_of_time) {
        if (linked_ && !take_unit()) return;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", plan_.link_timeout_ms / 1000.0);
        finish_unit({Result::no_link,
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
    // The settings too: the records keep them as the unit held them before it was touched.
    bool settings_agreed = true;
    const device::Setting* failed_setting = nullptr;
    for (std::size_t i = 0; i < setting_agreements_.size(); ++i) {
        auto& agreement = setting_agreements_[i];
        if (agreement.ask(t) && session_ != nullptr) app::ask_setting(*session_, SETTINGS[i]);
        settings_agreed = settings_agreed && agreement.state() == Agreement::agreed;
        if (agreement.state() == Agreement::failed && failed_setting == nullptr)
            failed_setting = &SETTINGS[i];
    }
    if (id_agreement_.state() == Agreement::agreed &&
        version_agreement_.state() == Agreement::agreed && settings_agreed) {
        unit_.id = *id_agreement_.value();
        unit_.id_utf8 = platform::display_utf8(*unit_.id);
        unit_.version = *version_agreement_.value();
        unit_.gps = *setting_agreements_[0].value();
        unit_.internal = *setting_agreements_[1].value();
        unit_.external = *setting_agreements_[2].value();
        return true;
    }
    if (id_agreement_.state() == Agreement::failed ||
        version_agreement_.state() == Agreement::failed || failed_setting != nullptr) {
        // The unit is left as it is: nothing it said can be trusted to record or to number.
        if (!take_unit()) return false;
        const std::string what = id_agreement_.state() == Agreement::failed ? "ID"
                                 : version_agreement_.state() == Agreement::failed
                                     ? "version"
                                     : std::string(device::setting_name(*failed_setting));
        unit_.id.reset();  // not the unit's identity: nothing is shown or recorded of it
        finish_unit({Result::identity_unconfirmed,
                     "The unit's reports of its " + what +
                         " did not agree: its identity cannot be trusted on this line."});
        return false;
    }
    return false;
}

void UnitFlow::start_unit(std::uint32_t t) {
    state_ = State::running;
    step_ = 0;
    unit_before_ = unit_;
    transfer_.reset();
    id_to_send_ = plan_.id;
    id_carried_ = false;
    id_to_reserve_ = false;
    held_.reset();
    if (plan_.transfer) transfer_ = planned_transfer();
    if (records_ != nullptr && !begin_records()) return;
    if (step_count() == 0) {
        // Nothing to do to the unit: for info, the identity is the answer.
        finish_unit({Result::success, ""});
        return;
    }
    start_step(t);
}

UnitFlow::StepResult UnitFlow::ids_exhausted() const {
    return {Result::ids_exhausted, "the ID scheme " + plan_.recipe->scheme->text() +
                                       " has no ID left that fits in 8 characters"};
}

std::optional<UnitFlow::StepResult> UnitFlow::reserve_id() {
    id_to_reserve_ = false;
    const IdDecision decision = records_->reserve_id(facts_of(unit_));
    if (!decision.ok()) return stop_line_for_records(decision.error);
    if (decision.action != IdAction::send) {
        // Another process took the last IDs since this unit's were decided: the image stays,
        // no ID is set, and no port takes another unit.
        line_.stop();
        return ids_exhausted();
    }
    id_to_send_ = decision.chosen.id;
    observers_.id_chosen(decision.chosen);
    return std::nullopt;
}

TransferFacts UnitFlow::planned_transfer() const {
    TransferFacts facts;
    facts.operation = *plan_.transfer;
    facts.image = plan_.image;
    return facts;
}

UnitFlow::StepResult UnitFlow::stop_line_for_records(const StoreError& error) {
    // The records are the source of truth for IDs: without them no port takes another unit.
    line_.stop();
    // A running station's store reports the server unreachable only once it has waited for
    // it as long as it was told to (--db-wait): the outage, not a database that is unusable.
    if (error.failure == StoreFailure::unreachable)
        return {Result::records_unavailable, error.message};
    return {Result::database_unusable, error.message};
}

bool UnitFlow::begin_records() {
    const UnitFacts facts = facts_of(unit_);
    if (const StoreError error = records_->begin(&facts); !error.ok()) {
        // The row cannot be written: the unit is not touched.
        finish_unit(stop_line_for_records(error));
        return false;
    }
    observers_.record_written({records_->run_key(), false, "", records_->location()});

    if (const auto why = records_->refusal(facts)) {
        finish_unit({Result::refused, "refused by the recipe's checks: " + *why});
        return false;
    }
    if (!plan_.recipe_id) return true;

    const IdDecision decision = records_->choose_id(facts);
    if (!decision.ok()) {
        finish_unit(stop_line_for_records(decision.error));
        return false;
    }
    switch (decision.action) {
        case IdAction::none:
            return true;
        case IdAction::held_elsewhere:
            finish_unit({Result::id_taken,
                         "the ID " + plan_.recipe->fixed_id +
                             " belongs to the unit with serial number " +
                             std::to_string(decision.holder ? decision.holder->serial_number : 0) +
                             ": this unit is not touched"});
            return false;
        case IdAction::exhausted:
            line_.stop();
            finish_unit(ids_exhausted());
            return false;
        case IdAction::reserve:
            // Reserved once the image is in place: a unit that fails before spends no ID.
            id_to_reserve_ = true;
            if (decision.running_out && line_.first_ids_warning())
                observers_.ids_running_out(plan_.recipe->scheme->text(), *decision.running_out);
            return true;
        case IdAction::keep:
        case IdAction::send:
            break;
    }
    id_to_send_ = decision.chosen.id;
    // The unit holds it already (bound by the records): nothing to send.
    id_carried_ = decision.action == IdAction::keep;
    observers_.id_chosen(decision.chosen);
    return true;
}

void UnitFlow::start_step(std::uint32_t t) {
    step_started_ = t;
    step_result_.reset();
    const Step step = step_at(step_);
    // The scheme's ID is reserved now that the unit is ready for it, before the step is told:
    // the reporters show the ID as it is set.
    std::optional<StepResult> not_reserved;
    if (step.kind == StepKind::unit_id && id_to_reserve_ && records_ != nullptr)
        not_reserved = reserve_id();
    if (first_of_group(step_)) observers_.step_started(recipe_step(step.kind));
    if (step.kind == StepKind::mode && !held_) held_ = unit_;  // what it holds, before `then`
    if (session_ == nullptr) {
        end_step({Result::port_lost, port_gone_text()});
        return;
    }
    switch (step.kind) {
        case StepKind::transfer: {
            // The run's image, read once; the file checked again before anything goes to this
            // unit, so a changed file never reaches its erase.
            const RunImage::Check image = plan_.run_image->check(
                session_->context().files, plan_.image, plan_.image_sha256);
            if (image.changed) {
                line_.stop();
                step_result_ = StepResult{
                    Result::image_changed,
                    "the image " + plan_.image +
                        (plan_.image_sha256.empty()
                             ? " has changed since this run read it"
                             : " is no longer the one the recipe names (its SHA-256 changed)") +
                        ": the line stops"};
            } else if (image.result != device::Result::success) {
                const Result why = result_of(image.result);
                step_result_ = StepResult{why, "the image " + plan_.image + " " + image_problem(why)};
            } else {
                app::start_transfer(*session_, *plan_.transfer, image.bytes, plan_.image);
            }
            break;
        }
        case StepKind::unit_id:
            if (not_reserved) {
                step_result_ = std::move(not_reserved);
                break;
            }
            if (id_carried_) {
                step_result_ = StepResult{Result::success, "the unit has the ID already"};
                break;
            }
            app::send_unit_id(*session_, *id_to_send_);
            // The set's own answer is the first report; one more must say the same.
            id_set_agreement_.start(t, 0, ANSWER_LIMIT_MS);
            break;
        case StepKind::setting: {
            const SettingChange& change = plan_.settings[step.setting];
            if (!app::choose_setting(*session_, change.setting, change.code))
                step_result_ = StepResult{Result::not_confirmed, "The list has no such value."};
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
        end_step({Result::port_lost, port_gone_text()});
        return;
    }
    if (step.kind == StepKind::unit_id) {
        check_id_step(t);
        return;
    }
    if (t - step_started_ <= ANSWER_LIMIT_MS) return;
    if (step.kind == StepKind::mode)
        end_step({Result::not_confirmed, "The unit did not report the mode it was asked for."});
    else
        end_step({Result::not_confirmed, "The unit did not confirm the change."});
}

void UnitFlow::check_id_step(std::uint32_t t) {
    if (id_set_agreement_.ask(t) && session_ != nullptr) app::ask_identity(*session_, true, false);
    const Agreement state = id_set_agreement_.state();
    if (state == Agreement::pending) return;
    const auto& reported = id_set_agreement_.value();
    const bool confirmed = state == Agreement::agreed && reported == id_to_send_;
    if (reported)
        observers_.setting_answered(
            {device::Setting::unit_id, 0, platform::display_utf8(*reported), confirmed});
    if (!confirmed) {
        end_step({Result::not_confirmed,
                  reported
                      ? "the unit reports ID '" + platform::display_utf8(*reported) + "' instead"
                      : "The unit did not confirm the change."});
        return;
    }
    if (records_ != nullptr) {
        // Confirmed twice: the unit holds it, and the records bind it to its serial number.
        if (const StoreError error = records_->bind_sent(unit_.version->serial_number);
            !error.ok()) {
            end_step(stop_line_for_records(error));
            return;
        }
    }
    end_step({Result::success, "the unit took ID '" + platform::display_utf8(*id_to_send_) + "'"});
}

void UnitFlow::end_step(StepResult result) {
    step_result_.reset();
    const Step step = step_at(step_);
    const RecipeStep group = recipe_step(step.kind);
    const bool failed = result.result != Result::success;
    if (failed || last_of_group(step_)) {
        if (records_ != nullptr)
            records_->step_ended(group, failed ? result_name(result.result) : STEP_SUCCESS);
        observers_.step_finished(
            {group, failed ? std::string(result_name(result.result)) : std::string(STEP_SUCCESS),
             result.message});
    }
    if (failed) {
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

void UnitFlow::complete_records(UnitOutcome& outcome) {
    const bool known = outcome.unit && outcome.unit->version;
    const UnitFacts facts = known ? facts_of(*outcome.unit) : UnitFacts{};
    const UnitIdentity& holds = held_ ? *held_ : unit_;
    UnitEnd end;
    end.result = outcome.result;
    end.exit_code = outcome.exit_code;
    end.message = outcome.message;
    end.duration_ms = outcome.duration_ms;
    if (holds.id) end.id_after = holds.id_utf8;
    end.settings_after = holds.codes();
    const RecordsEnd ended = records_->complete(known ? &facts : nullptr, end);
    if (ended.begun_now)
        observers_.record_written({ended.run_key, false, "", records_->location()});
    if (!ended.error.ok()) {
        // Never shown passed without its row.
        StepResult failure = stop_line_for_records(ended.error);
        outcome.result = result_name(failure.result);
        outcome.exit_code = exit_code_of(failure.result);
        outcome.message = std::move(failure.message);
    }
    if (ended.completed)
        observers_.record_written({ended.run_key, true, outcome.result, records_->location()});
    if (ended.row && row_completed_) row_completed_(*ended.row);
    if (ended.run_key.empty()) return;
    ProgramFacts program;
    program.run_key = ended.run_key;
    program.steps = ended.steps;
    if (unit_before_ && unit_before_->id) program.id_before = unit_before_->id_utf8;
    program.id_after = end.id_after;
    outcome.program = std::move(program);
}

void UnitFlow::finish_unit(StepResult result) {
    // The unit's run is over: a late reply from it must not move it on from what its record
    // says.
    if (session_ != nullptr) app::forget_transfer(*session_);
    const std::uint32_t t = now();
    UnitOutcome outcome;
    outcome.command = plan_.command;
    outcome.result = result_name(result.result);
    outcome.exit_code = exit_code_of(result.result);
    outcome.message = std::move(result.message);
    if (unit_.id && unit_.version) outcome.unit = held_ ? *held_ : unit_;
    outcome.transfer = transfer_;
    // Asked for, never started (the port could not be opened): the operation all the same.
    if (!transfer_ && plan_.transfer) outcome.transfer = planned_transfer();
    outcome.duration_ms = t - (unit_answered_ ? unit_started_ : wait_started_);
    if (outcome.ok() && plan_.command == Command::program) outcome.message = "the recipe is done";
    if (records_ != nullptr && unit_taken_) complete_records(outcome);
    // Counted first: the board shows the unit among its port's counters.
    if (unit_taken_) line_.unit_ended(index_, outcome.ok());
    observers_.unit_finished(outcome);

    exit_code_ = std::max(exit_code_, outcome.exit_code);
    if (outcome.unit && outcome.unit->version)
        last_serial_ = outcome.unit->version->serial_number;
    else
        last_serial_.reset();
    unit_taken_ = false;
    transfer_.reset();

    const ResultKind kind = result_spec(result.result).kind;
    if (plan_.repeat && kind != ResultKind::interruption && kind != ResultKind::usage &&
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
    unit_before_.reset();
    unit_answered_ = false;
}

void UnitFlow::interrupt() {
    if (state_ == State::running && step_at(step_).kind == StepKind::transfer &&
        session_ != nullptr && app::transfer_running(*session_)) {
        // The engine ends it; its result comes back as an event, says "interrupted", and
        // nothing more is sent to the unit.
        app::cancel_transfer(*session_);
        if (step_result_) end_step(*step_result_);
        state_ = State::done;
        return;
    }
    // Waiting between units is how a production line ends its shift, not a failure.
    const bool between_units = plan_.repeat && (state_ == State::between_units ||
                                                (state_ == State::finding_unit && !linked_));
    if (state_ == State::running) {
        end_step({Result::interrupted, "Interrupted."});
    } else if (!between_units && state_ != State::done) {
        finish_unit({Result::interrupted, "Interrupted."});
    }
    state_ = State::done;
}

void UnitFlow::fail_without_unit(Result result, std::string message) {
    finish_unit({result, std::move(message)});
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
        for (auto& agreement : setting_agreements_) agreement.start(t, plan_.link_timeout_ms);
    }
}

void UnitFlow::link_lost(link::LinkLoss why) {
    if (why == link::LinkLoss::port_lost) port_lost_ = port_lost_since_ = true;
    if (!link_really_lost(linked_, why)) return;
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
                               ? StepResult{Result::port_lost, port_gone_text()}
                               : StepResult{Result::link_lost, "The unit went away."};
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
    if (state_ == State::finding_unit && report.setting != device::Setting::unit_id)
        setting_agreements_[setting_index(report.setting)].report(unit_.setting(report.setting));
    if (state_ != State::running || step_result_) return;
    const Step step = step_at(step_);
    if (step.kind == StepKind::unit_id && report.setting == device::Setting::unit_id) {
        id_set_agreement_.report(std::string(report.text));
        return;
    }
    if (step.kind != StepKind::setting || report.setting != plan_.settings[step.setting].setting)
        return;
    observers_.setting_answered(
        {report.setting, report.code, std::string(report.text_utf8), report.confirmation});
    const std::string shown = value_text(unit_.setting(report.setting));
    const std::string name(device::setting_name(report.setting));
    if (report.confirmation)
        step_result_ = StepResult{Result::success, "the unit took " + name + " " + shown};
    else
        step_result_ = StepResult{Result::not_confirmed,
                                  "the unit reports " + name + " " + shown + " instead"};
}

void UnitFlow::mode_reported(device::UnitMode mode) {
    if (state_ != State::running || step_result_) return;
    if (step_at(step_).kind != StepKind::mode) return;
    const bool wanted =
        (plan_.then == FinalMode::qb7 && mode == device::UnitMode::qb7) ||
        (plan_.then == FinalMode::run && mode == device::UnitMode::application_running);
    if (!wanted) return;
    step_result_ = StepResult{Result::success, mode == device::UnitMode::qb7
                                                   ? "the unit is in QB7 mode"
                                                   : "the unit runs its application"};
}

void UnitFlow::operation_started(const device::OperationStart& start) {
    if (!transfer_) return;
    transfer_->operation = start.kind;
    transfer_->pages = start.pages;
    transfer_->pages_done = 0;
    transfer_->image_size = start.image_size;
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
    step_result_ = StepResult{result_of(end.result), std::string(end.status_text)};
}

void UnitFlow::operation_refused(const device::OperationEnd& end) {
    if (!transfer_) return;
    step_result_ = StepResult{result_of(end.result), std::string(end.status_text)};
}

}  // namespace vrk::cli
