// One port's share of the station's records: the row of the unit in hand and the ID it gets.
// The unit's flow says when (its identity agreed, a step ended, the unit ended); this class
// says what the records make of it, and keeps what is pending between those moments (the run
// key, the steps' results, an ID reserved and not yet bound). It knows the store and the
// recipe, nothing of the unit's line or of the command line.
//
//   begin()         the unit's row, before the unit is touched (a unit that cannot be recorded
//                   is not touched)
//   refusal()       the recipe's checks
//   choose_id()     the ID the records give the unit: kept (bound now), sent (reserved, or
//                   the records' own), the scheme's next (reserved later), held by another
//                   unit, or none left
//   reserve_id()    the scheme's next ID reserved, once the unit is ready to take it
//   bind_sent()     the unit confirmed the ID sent: bound to its serial number
//   step_ended()    a step's result, for the row
//   complete()      the row completed (begun first for a unit that ended before its row),
//                   before the unit is shown passed; a reservation never confirmed stays
//                   with the unit's serial number
//
// One port's thread; the store is shared with the other ports (it is safe for that).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/station/device_codes.h"
#include "app/cli/station/id_assignment.h"
#include "app/cli/station/recipe.h"
#include "app/cli/station/station_store.h"

namespace vrk::cli {

// The steps of a recipe, as the records name them.
enum class RecipeStep { download, id, settings, then };
[[nodiscard]] std::string_view recipe_step_name(RecipeStep step);

// A unit as it reported itself, once its identity agreed.
struct UnitFacts {
    std::int32_t serial_number = 0;
    std::optional<std::string> id;  // in the unit's code page; nullopt when it reported none
    std::string id_utf8;
    std::string firmware_version;         // "2.15"
    std::int16_t version_hundredths = 0;  // 215
    std::uint8_t flash_type_code = 0;
    std::string flash_type;  // "2 Meg"
    DeviceCodes settings;
};

// The station and the port a row is written for: the same for every unit of the port.
struct RecordsPlace {
    std::string host;  // the station's machine
    std::string port;
    std::string tool_version;
};

// How the records chose a unit's ID.
struct IdDecision {
    IdAction action = IdAction::none;
    IdChosen chosen;                 // keep and send: the ID, where it came from
    std::optional<IdHolder> holder;  // held_elsewhere: who holds it
    StoreError error;                // the records failed: the unit is not touched
    // The scheme has used 90 % of its range: how many IDs are left.
    std::optional<std::uint64_t> running_out;
    [[nodiscard]] bool ok() const { return error.ok(); }
};

// How the unit's run ended, for its row.
struct UnitEnd {
    std::string result;  // the result's name
    int exit_code = 0;
    std::string message;
    std::uint32_t duration_ms = 0;
    std::optional<std::string> id_after;  // UTF-8: what the unit holds
    DeviceCodes settings_after;
};

// What complete() did.
struct RecordsEnd {
    StoreError error;        // the row could not be begun or completed: the unit has failed
    bool begun_now = false;  // the row was begun here (the unit ended before it was)
    bool completed = false;
    std::string run_key;  // empty when no row could be begun
    RunSteps steps;
    // completed: the row as stored, for the unit's hook
    std::optional<RunRecord> row;
};

class UnitRecords {
  public:
    UnitRecords(StationStore& store, const Recipe& recipe, RecordsPlace place);

    [[nodiscard]] const std::string& location() const { return store_.location(); }
    // The run key of the unit in hand; empty until its row is begun.
    [[nodiscard]] const std::string& run_key() const { return run_key_; }
    [[nodiscard]] bool begun() const { return !run_key_.empty(); }
    [[nodiscard]] const RunSteps& steps() const { return steps_; }

    // Writes the unit's row as its run starts. `unit` nullptr: a unit whose identity never
    // agreed, recorded without it. Fails: the unit must not be touched.
    [[nodiscard]] StoreError begin(const UnitFacts* unit);
    // Why the unit fails the recipe's checks, or nullopt when it passes them.
    [[nodiscard]] std::optional<std::string> refusal(const UnitFacts& unit) const;
    // The recipe's ID for the unit (begun): see IdAction. An ID the unit carries already is
    // bound here; one to send is reserved (or is the records' own) until bind_sent() or
    // complete().
    [[nodiscard]] IdDecision choose_id(const UnitFacts& unit);
    // After choose_id() said `reserve`, when the unit is ready for its ID: the scheme's next
    // ID reserved (`send`), or `exhausted` when another process took the last ones meanwhile.
    // `none` when choose_id() said anything else.
    [[nodiscard]] IdDecision reserve_id(const UnitFacts& unit);
    // The unit confirmed the ID chosen to be sent: bound to its serial number.
    [[nodiscard]] StoreError bind_sent(std::int32_t serial_number);
    // A step's result in the row: STEP_SUCCESS or the failure's result name.
    void step_ended(RecipeStep step, std::string_view result);
    // Ends the unit's run in the records, and forgets it: the next unit starts afresh. `unit`
    // is for a row begun only now (nullptr: no identity agreed).
    [[nodiscard]] RecordsEnd complete(const UnitFacts* unit, const UnitEnd& end);

  private:
    [[nodiscard]] RunStart run_start(const std::string& run_key, const UnitFacts* unit) const;
    [[nodiscard]] RunSteps steps_of_recipe() const;
    [[nodiscard]] IdDecision decided(const UnitFacts& unit, const IdAssignment& chosen);

    StationStore& store_;
    const Recipe& recipe_;
    RecordsPlace place_;

    std::string run_key_;
    RunStart start_;  // the row as begun
    RunSteps steps_;
    std::optional<std::string> to_send_;  // the ID chosen to be sent, not confirmed yet
    bool reserve_later_ = false;          // choose_id() said `reserve`: reserve_id() to come
};

}  // namespace vrk::cli
