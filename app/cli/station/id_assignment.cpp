#include "app/cli/station/id_assignment.h"

namespace vrk::cli {

namespace {

// The unit holds `id` already when it carries it; else it is sent.
IdAssignment give(std::string id, std::string_view carried_id, bool reserved) {
    IdAssignment a;
    a.action = id == carried_id ? IdAction::keep : IdAction::send;
    a.reserved = reserved && a.action == IdAction::send;
    a.id = std::move(id);
    return a;
}

IdAssignment failed(StoreError error) {
    IdAssignment a;
    a.error = std::move(error);
    return a;
}

}  // namespace

std::string_view id_source_name(IdSource source) {
    switch (source) {
        case IdSource::fixed:
            return "fixed";
        case IdSource::scheme:
            return "scheme";
        case IdSource::carried:
            return "carried";
        case IdSource::records:
            break;
    }
    return "records";
}

IdAssignment assign_id(StationStore& store, const Recipe& recipe, std::int32_t serial_number,
                       std::string_view carried_id, std::string_view run_key) {
    if (recipe.id_choice == IdChoice::keep) return {};

    if (recipe.id_choice == IdChoice::fixed) {
        const auto claim = store.claim(recipe.fixed_id, serial_number, run_key);
        if (!claim.ok()) return failed(claim.error);
        if (!claim.value.claimed) {
            IdAssignment a;
            a.action = IdAction::held_elsewhere;
            a.id = recipe.fixed_id;
            a.holder = claim.value.holder;
            return a;
        }
        return give(recipe.fixed_id, carried_id, true);
    }

    if (!recipe.new_id) {
        // The records are the source of truth: a unit they know keeps its ID, whatever it
        // reports now.
        const auto bound = store.bound_id(serial_number);
        if (!bound.ok()) return failed(bound.error);
        if (bound.value) return give(*bound.value, carried_id, false);
        // Numbered by another station of the line (or by this one before its records were
        // lost): kept, unless the records give that ID to another unit.
        if (!carried_id.empty() && recipe.scheme->matches(carried_id)) {
            const auto claim = store.claim(carried_id, serial_number, run_key);
            if (!claim.ok()) return failed(claim.error);
            if (claim.value.claimed) return give(std::string(carried_id), carried_id, true);
        }
    }

    const auto next = store.reserve_next(*recipe.scheme, recipe.id_start, serial_number, run_key);
    if (!next.ok()) return failed(next.error);
    if (next.value.exhausted) {
        IdAssignment a;
        a.action = IdAction::exhausted;
        return a;
    }
    return give(next.value.id, carried_id, true);
}

}  // namespace vrk::cli
