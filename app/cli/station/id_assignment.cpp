#include "app/cli/station/id_assignment.h"

namespace vrk::cli {

namespace {

// The unit holds `id` already when it carries it; else it is sent.
IdAssignment give(std::string id, std::string_view carried_id, bool reserved, IdSource source) {
    IdAssignment a;
    a.action = id == carried_id ? IdAction::keep : IdAction::send;
    a.reserved = reserved && a.action == IdAction::send;
    a.source = source;
    a.id = std::move(id);
    return a;
}

IdAssignment failed(StoreError error) {
    IdAssignment a;
    a.error = std::move(error);
    return a;
}

}  // namespace

std::uint64_t last_counter(const IdScheme& scheme) {
    // format(n) fits up to some n and never after: the last one that fits, by halving.
    std::uint64_t fits = 0, too_long = 1'000'000'000;  // 9 digits never fit
    while (too_long - fits > 1) {
        const std::uint64_t mid = fits + (too_long - fits) / 2;
        (scheme.format(mid) ? fits : too_long) = mid;
    }
    return fits;
}

std::optional<std::uint64_t> ids_running_out(const IdScheme& scheme, std::uint64_t first,
                                             std::uint64_t next) {
    const std::uint64_t last = last_counter(scheme);
    if (next > last) return 0;
    if (first > last) return std::nullopt;
    const std::uint64_t range = last - first + 1;
    const std::uint64_t used = next > first ? next - first : 0;
    if (used * 10 < range * 9) return std::nullopt;
    return last - next + 1;
}

IdAssignment assign_id(StationStore& store, const Recipe& recipe, std::int32_t serial_number,
                       std::string_view carried_id, std::string_view run_key) {
    if (recipe.id_choice == IdChoice::keep) return {};
    const IdClaimant claimant{serial_number, std::string(run_key), recipe.station_number};

    if (recipe.id_choice == IdChoice::fixed) {
        const auto claim = store.claim(recipe.fixed_id, IdSource::fixed, claimant);
        if (!claim.ok()) return failed(claim.error);
        if (!claim.value.claimed) {
            IdAssignment a;
            a.action = IdAction::held_elsewhere;
            a.id = recipe.fixed_id;
            a.holder = claim.value.holder;
            return a;
        }
        return give(recipe.fixed_id, carried_id, true, IdSource::fixed);
    }

    if (!recipe.new_id) {
        // The records are the source of truth: a unit they know keeps its ID, whatever it
        // reports now.
        const auto bound = store.bound_id(serial_number);
        if (!bound.ok()) return failed(bound.error);
        if (bound.value) return give(*bound.value, carried_id, false, IdSource::records);
        // Numbered by another station of the line (or by this one before its records were
        // lost): kept, unless the records give that ID to another unit.
        if (!carried_id.empty() && recipe.scheme->matches(carried_id)) {
            const auto claim = store.claim(carried_id, IdSource::carried, claimant);
            if (!claim.ok()) return failed(claim.error);
            if (claim.value.claimed)
                return give(std::string(carried_id), carried_id, true, IdSource::carried);
        }
    }

    if (!recipe.new_id) {
        // Reserved for this unit at an earlier run and never confirmed: it stays the unit's.
        const auto pending = store.pending_reservation(*recipe.scheme, serial_number);
        if (!pending.ok()) return failed(pending.error);
        if (pending.value) return give(*pending.value, carried_id, true, IdSource::scheme);
    }
    // Nothing is reserved yet: a unit whose download fails spends no ID. Only whether one is
    // left is known now.
    const auto next = store.peek_next(*recipe.scheme, recipe.id_start);
    if (!next.ok()) return failed(next.error);
    IdAssignment a;
    a.action = next.value.exhausted ? IdAction::exhausted : IdAction::reserve;
    if (!next.value.exhausted)
        a.running_out =
            ids_running_out(*recipe.scheme, recipe.id_start.value_or(1), next.value.counter);
    return a;
}

IdAssignment reserve_scheme_id(StationStore& store, const Recipe& recipe,
                               std::int32_t serial_number, std::string_view carried_id,
                               std::string_view run_key) {
    if (recipe.new_id) {
        const auto pending = store.pending_reservation(*recipe.scheme, serial_number);
        if (!pending.ok()) return failed(pending.error);
        if (pending.value) {
            if (StoreError error = store.spend(*pending.value); !error.ok())
                return failed(std::move(error));
        }
    }
    const auto next = store.reserve_next(
        *recipe.scheme, recipe.id_start,
        IdClaimant{serial_number, std::string(run_key), recipe.station_number});
    if (!next.ok()) return failed(next.error);
    if (next.value.exhausted) {
        IdAssignment a;
        a.action = IdAction::exhausted;
        return a;
    }
    return give(next.value.id, carried_id, true, IdSource::scheme);
}

}  // namespace vrk::cli
