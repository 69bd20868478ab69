#include "app/cli/station/unit_records.h"

#include <cstdio>

#include "app/cli/common/utc_time.h"

namespace vrk::cli {

namespace {

std::string version_text(std::int16_t hundredths) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", hundredths * 0.01);
    return text;
}

}  // namespace

std::string_view recipe_step_name(RecipeStep step) {
    switch (step) {
        case RecipeStep::download:
            return "download";
        case RecipeStep::id:
            return "id";
        case RecipeStep::settings:
            return "settings";
        case RecipeStep::then:
            break;
    }
    return "then";
}

UnitRecords::UnitRecords(StationStore& store, const Recipe& recipe, RecordsPlace place)
    : store_(store), recipe_(recipe), place_(std::move(place)) {}

RunStart UnitRecords::run_start(const std::string& run_key, const UnitFacts* unit) const {
    RunStart start;
    start.run_key = run_key;
    start.started_at = utc_time_now();
    start.host = place_.host;
    start.station_number = recipe_.station_number;
    start.operator_name = recipe_.operator_name;
    start.lot = recipe_.lot;
    start.port = place_.port;
    if (unit != nullptr) {
        start.serial_number = unit->serial_number;
        start.id_before = unit->id_utf8;
        start.firmware_version = unit->firmware_version;
        start.flash_type_code = unit->flash_type_code;
        start.flash_type = unit->flash_type;
        start.settings_before = unit->settings;
    }
    start.image = recipe_.image;
    start.image_sha256 = recipe_.image_sha256;
    start.tool_version = place_.tool_version;
    return start;
}

// The steps before any is done: not_asked for those the recipe does not have, empty (not
// reached) for the others. Every recipe downloads its image.
RunSteps UnitRecords::steps_of_recipe() const {
    const auto asked = [](bool in_recipe) {
        return in_recipe ? std::string() : std::string(STEP_NOT_ASKED);
    };
    const DeviceCodes& s = recipe_.settings;
    RunSteps steps;
    steps.download = asked(true);
    steps.id = asked(recipe_.id_choice != IdChoice::keep);
    steps.settings = asked(s.gps || s.internal || s.external);
    steps.then = asked(recipe_.then != FinalMode::none);
    return steps;
}

StoreError UnitRecords::begin(const UnitFacts* unit) {
    const std::string key = new_run_key();
    RunStart start = run_start(key, unit);
    if (StoreError error = store_.begin_run(start); !error.ok()) return error;
    run_key_ = key;
    start_ = std::move(start);
    steps_ = steps_of_recipe();
    to_send_.reset();
    reserve_later_ = false;
    return {};
}

std::optional<std::string> UnitRecords::refusal(const UnitFacts& unit) const {
    const RecipeChecks& checks = recipe_.checks;
    if (checks.flash_type && unit.flash_type_code != *checks.flash_type)
        return "the unit's flash type is " + std::to_string(unit.flash_type_code) + " (" +
               unit.flash_type + "), the recipe wants " + std::to_string(*checks.flash_type);
    if (checks.min_version && unit.version_hundredths < *checks.min_version)
        return "the unit's firmware is " + unit.firmware_version + ", the recipe wants " +
               version_text(*checks.min_version) + " or later";
    return std::nullopt;
}

// What the flow is told of an ID assign_id or reserve_scheme_id gave: the ID, where it came from.
IdDecision UnitRecords::decided(const UnitFacts& unit, const IdAssignment& chosen) {
    IdDecision decision;
    decision.action = chosen.action;
    decision.chosen.id = chosen.id;
    decision.holder = chosen.holder;
    decision.error = chosen.error;
    decision.running_out = chosen.running_out;
    if (!chosen.error.ok() || (chosen.action != IdAction::keep && chosen.action != IdAction::send))
        return decision;

    IdChosen& told = decision.chosen;
    told.id = chosen.id;
    told.reserved = chosen.reserved;
    told.id_before = unit.id_utf8;
    told.serial_number = unit.serial_number;
    told.run_key = run_key_;
    told.source = chosen.source;
    // A carried ID is taken into the records at this run: told as reserved (with its source),
    // as the scheme's and fixed ones are.
    if (chosen.source == IdSource::carried) told.reserved = true;

    if (chosen.action == IdAction::keep) {
        // The unit holds it already: bound now, nothing to send (a claim made for it is
        // bound, not left reserved).
        decision.error = store_.bind(chosen.id, unit.serial_number);
        return decision;
    }
    to_send_ = chosen.id;
    return decision;
}

IdDecision UnitRecords::choose_id(const UnitFacts& unit) {
    const IdAssignment chosen =
        assign_id(store_, recipe_, unit.serial_number, unit.id.value_or(""), run_key_);
    reserve_later_ = chosen.error.ok() && chosen.action == IdAction::reserve;
    return decided(unit, chosen);
}

IdDecision UnitRecords::reserve_id(const UnitFacts& unit) {
    if (!reserve_later_) return {};
    reserve_later_ = false;
    const IdAssignment chosen =
        reserve_scheme_id(store_, recipe_, unit.serial_number, unit.id.value_or(""), run_key_);
    return decided(unit, chosen);
}

StoreError UnitRecords::bind_sent(std::int32_t serial_number) {
    if (!to_send_) return {};
    // Confirmed twice: the unit holds it. Bound to its serial number, never given again.
    StoreError error = store_.bind(*to_send_, serial_number);
    if (error.ok()) to_send_.reset();
    return error;
}

void UnitRecords::step_ended(RecipeStep step, std::string_view result) {
    switch (step) {
        case RecipeStep::download:
            steps_.download = result;
            return;
        case RecipeStep::id:
            steps_.id = result;
            return;
        case RecipeStep::settings:
            steps_.settings = result;
            return;
        case RecipeStep::then:
            steps_.then = result;
            return;
    }
}

RecordsEnd UnitRecords::complete(const UnitFacts* unit, const UnitEnd& end) {
    RecordsEnd ended;
    if (!begun()) {
        // A unit whose identity never agreed, or that ended before its row: recorded all the
        // same, without what it could not tell.
        ended.error = begin(unit);
        if (!ended.error.ok()) return ended;
        ended.begun_now = true;
    }
    ended.run_key = run_key_;
    RunEnd row;
    row.result = end.result;
    row.exit_code = end.exit_code;
    row.message = end.message;
    // An ID sent and never confirmed stays reserved for this serial number: the unit may hold
    // it already, and gets it again at its next run. Nothing else is ever given it.
    to_send_.reset();
    reserve_later_ = false;
    // The steps never reached once the run has ended: skipped (an earlier step failed, or the
    // unit was not touched).
    for (std::string* step : {&steps_.download, &steps_.id, &steps_.settings, &steps_.then})
        if (step->empty()) *step = STEP_SKIPPED;
    ended.steps = steps_;

    row.run_key = run_key_;
    row.id_after = end.id_after;
    row.settings_after = end.settings_after;
    row.steps = steps_;
    row.duration_ms = end.duration_ms;
    // Never shown passed without its row: a failure here is the unit's failure.
    if (StoreError error = store_.complete_run(row); !error.ok()) {
        ended.error = std::move(error);
    } else {
        ended.completed = true;
        ended.row = RunRecord{std::move(start_), std::move(row), std::nullopt};
    }
    start_ = {};
    run_key_.clear();
    return ended;
}

}  // namespace vrk::cli
