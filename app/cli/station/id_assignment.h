// Which ID a unit gets on a production station, decided with the station's records: the rules
// of the recipe's ID step in one place, so that every port's flow applies them alike.
//
//   fixed ID   the unit gets it, unless the records give it to another unit (held_elsewhere);
//   scheme     a unit whose serial number the records bind to an ID gets that ID again (kept
//              when it carries it already); else a unit that carries an ID the scheme gives
//              (from any station of the line) keeps it, unless the records give it to another
//              unit; else an ID of the scheme reserved for it at an earlier run and never
//              confirmed is given to it again; else the scheme's next ID is reserved for it,
//              once the unit is ready to take it (its image downloaded and verified), so a
//              unit that fails before spends none. With new_id, a unit always gets the
//              scheme's next ID (its old one is spent when the new one is bound, a reservation
//              left from an earlier run when the new one is reserved).
//
// Everything that refuses a unit on account of its ID (another unit holds the fixed ID, the
// scheme has nothing left) is decided before the unit is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/station/recipe.h"
#include "app/cli/station/station_store.h"

namespace vrk::cli {

enum class IdAction {
    none,            // the recipe has no ID step: nothing to send or record
    keep,            // the unit holds `id` already: send nothing, bind it now
    send,            // send `id`; once the unit confirms it, bind it; if it never does, spend it
    held_elsewhere,  // the fixed ID belongs to another unit (`holder`): the unit is not touched
    exhausted,       // the scheme has no ID left (ids_exhausted): the unit is not touched
    reserve,         // the scheme's next ID, reserved by reserve_scheme_id() once the unit is
                     // ready for it; then as send
};

// The ID a unit gets, as the reporters tell it.
struct IdChosen {
    std::string id;
    IdSource source = IdSource::scheme;
    bool reserved = false;  // reserved for this run now (id_reserved)
    std::string id_before;  // what the unit carried (UTF-8)
    std::int32_t serial_number = 0;
    std::string run_key;
    // The records know the unit by its serial number under another ID than the one it
    // carries: it gets theirs set again (id_from_records).
    [[nodiscard]] bool from_records() const {
        return source == IdSource::records && id != id_before;
    }
};

struct IdAssignment {
    IdAction action = IdAction::none;
    std::string id;
    // send: the ID was reserved for this run (it came from the counter or is a fixed ID
    // claimed now), not one the records already bound to the unit.
    bool reserved = false;
    IdSource source = IdSource::scheme;  // keep and send: where the ID came from
    std::optional<IdHolder> holder;      // held_elsewhere: who holds it
    StoreError error;                // the records failed: the unit is not touched
    // reserve: how many of the scheme's counter values are left from its next free one on,
    // when 90 % of its range (from id_start to the last value that fits) are used.
    std::optional<std::uint64_t> running_out;
};

// The last counter value whose ID fits in 8 characters: IDs only grow with the counter.
[[nodiscard]] std::uint64_t last_counter(const IdScheme& scheme);
// How many counter values are left from `next` on when at least 90 % of the range from
// `first` to the scheme's last value are used; nullopt before that.
[[nodiscard]] std::optional<std::uint64_t> ids_running_out(const IdScheme& scheme,
                                                           std::uint64_t first, std::uint64_t next);

// Decides, and reserves or claims in the records what it decides, for the unit with this
// (confirmed) serial number that carries `carried_id` (empty when it has none). Every call
// it makes is a transaction of its own; an error leaves the records as they were before that
// call.
[[nodiscard]] IdAssignment assign_id(StationStore& store, const Recipe& recipe,
                                     std::int32_t serial_number, std::string_view carried_id,
                                     std::string_view run_key);

// The late half of a scheme's `reserve`: reserves the scheme's next ID for the unit now (with
// new_id, the unit's reservation left from an earlier run is spent first). `send` with the ID,
// or `exhausted` when another process took the last IDs since the decision.
[[nodiscard]] IdAssignment reserve_scheme_id(StationStore& store, const Recipe& recipe,
                                             std::int32_t serial_number,
                                             std::string_view carried_id, std::string_view run_key);

}  // namespace vrk::cli
