// The station's records of one port's units, without a unit, a session or a database: a store
// in memory stands for SQLite, and the test plays the flow's moments (the identity agreed, the
// ID confirmed or not, the unit ended).
#include "app/cli/station/unit_records.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vrk::test {
namespace {

using namespace cli;

// The records in memory, as the store interface promises them.
class MemoryStore final : public StationStore {
  public:
    std::map<std::string, RunStart> begun;
    std::map<std::string, RunEnd> completed;
    std::map<std::string, IdHolder> ids;
    std::map<std::string, std::uint64_t> counters;
    bool fail_writes = false;  // every write fails as a full disk does
    bool fail_spend = false;
    std::uint64_t taken_meanwhile =
        0;  // IDs another process takes between decision and reservation

    const std::string& location() const override { return location_; }
    StoreError begin_run(const RunStart& start) override {
        if (fail_writes) return full();
        begun[start.run_key] = start;
        return {};
    }
    StoreError complete_run(const RunEnd& end) override {
        if (fail_writes) return full();
        completed[end.run_key] = end;
        return {};
    }
    StoreError record_hook(const HookRecord&) override { return {}; }
    StoreResult<std::optional<std::string>> bound_id(std::int32_t serial) override {
        for (const auto& [id, h] : ids)
            if (h.serial_number == serial && h.state == IdState::bound) return {id, {}};
        return {};
    }
    StoreResult<std::optional<IdHolder>> id_holder(std::string_view id) override {
        const auto found = ids.find(std::string(id));
        if (found == ids.end()) return {};
        return {found->second, {}};
    }
    StoreResult<Reservation> peek_next(const IdScheme& scheme,
                                       std::optional<std::uint64_t> start) override {
        std::uint64_t n = std::max(counters[scheme.counter_key()], start.value_or(1));
        for (;; ++n) {
            const auto id = scheme.format(n);
            if (!id) return {Reservation{{}, 0, true}, {}};
            if (ids.count(*id) == 0) return {Reservation{*id, n, false}, {}};
        }
    }
    StoreResult<std::optional<std::string>> pending_reservation(const IdScheme& scheme,
                                                                std::int32_t serial) override {
        for (const auto& [id, h] : ids)
            if (h.serial_number == serial && h.state == IdState::reserved &&
                h.scheme == scheme.counter_key())
                return {id, {}};
        return {};
    }
    StoreResult<Reservation> reserve_next(const IdScheme& scheme,
                                          std::optional<std::uint64_t> start,
                                          const IdClaimant& claimant) override {
        const std::int32_t serial = claimant.serial_number;
        if (fail_writes) return {{}, full()};
        for (; taken_meanwhile > 0; --taken_meanwhile) {
            const auto other = peek_next(scheme, start).value;
            if (other.exhausted) break;
            ids[other.id] = {other.id, IdState::reserved, 999, scheme.counter_key()};
            counters[scheme.counter_key()] = other.counter + 1;
        }
        const auto next = peek_next(scheme, start).value;
        if (next.exhausted) return {next, {}};
        ids[next.id] = {next.id, IdState::reserved, serial, scheme.counter_key()};
        counters[scheme.counter_key()] = next.counter + 1;
        return {next, {}};
    }
    StoreResult<Claim> claim(std::string_view id, IdSource source,
                             const IdClaimant& claimant) override {
        const std::int32_t serial = claimant.serial_number;
        if (fail_writes) return {{}, full()};
        const auto found = ids.find(std::string(id));
        if (found != ids.end() && found->second.serial_number != serial)
            return {Claim{false, found->second}, {}};
        if (found != ids.end() && found->second.state == IdState::bound)
            return {Claim{true, found->second}, {}};
        ids[std::string(id)] = {std::string(id), IdState::reserved, serial, "", source};
        return {Claim{true, std::nullopt}, {}};
    }
    StoreError bind(std::string_view id, std::int32_t serial) override {
        if (fail_writes) return full();
        for (auto& [other, h] : ids)
            if (h.serial_number == serial && h.state == IdState::bound && other != id)
                h.state = IdState::spent;
        auto& holder = ids[std::string(id)];
        holder = {std::string(id), IdState::bound, serial, holder.scheme, holder.source};
        return {};
    }
    StoreError spend(std::string_view id) override {
        if (fail_writes || fail_spend) return full();
        const auto found = ids.find(std::string(id));
        if (found != ids.end() && found->second.state == IdState::reserved)
            found->second.state = IdState::spent;
        return {};
    }
    StoreError for_each_run(const RunFilter&,
                            const std::function<void(const RunRecord&)>&) override {
        return {};
    }
    StoreError for_each_counter(const std::function<void(const CounterRecord&)>&) override {
        return {};
    }
    // The records of a unit never list IDs nor ask for a report.
    StoreError for_each_id(const IdFilter&, const std::function<void(const IdHolder&)>&) override {
        return {};
    }
    StoreResult<Report> report(const ReportQuery&) override { return {}; }

  private:
    static StoreError full() { return {StoreFailure::disk_full, "the disk is full"}; }
    std::string location_ = "memory.db";
};

UnitFacts unit(std::int32_t serial, std::optional<std::string> id) {
    UnitFacts facts;
    facts.serial_number = serial;
    facts.id = id;
    facts.id_utf8 = id.value_or("");
    facts.firmware_version = "2.15";
    facts.version_hundredths = 215;
    facts.flash_type_code = 40;
    facts.flash_type = "2 Meg";
    facts.settings = {1, 2, 3};
    return facts;
}

Recipe scheme_recipe(const std::string& format, std::optional<std::uint64_t> start = {}) {
    Recipe recipe;
    recipe.image = "app.vr4";
    recipe.image_sha256 = std::string(64, 'a');
    std::string error;
    recipe.scheme = IdScheme::parse(format, std::nullopt, &error);
    recipe.id_choice = IdChoice::scheme;
    recipe.id_start = start;
    return recipe;
}

Recipe fixed_recipe(const std::string& id) {
    Recipe recipe = scheme_recipe("L{:03}");
    recipe.scheme.reset();
    recipe.id_choice = IdChoice::fixed;
    recipe.fixed_id = id;
    return recipe;
}

UnitEnd ended(Result result) {
    return {std::string(result_name(result)), exit_code_of(result), "", 1200, std::nullopt, {}};
}

Recipe new_id(Recipe recipe) {
    recipe.new_id = true;
    return recipe;
}

TEST(UnitRecords, GiveEachUnitItsIdAndKeepWhatBecameOfIt) {
    struct Case {
        std::string name;
        Recipe recipe;
        std::map<std::string, IdHolder> before = {};  // the records' IDs as the unit comes
        std::optional<std::string> carried = {};
        bool ready = true;       // the download passed: the unit reached its ID step
        bool confirmed = false;  // the unit confirmed an ID sent
        std::uint64_t taken_meanwhile = 0;  // by another process, after the decision
        IdAction action{};                  // in the end
        std::string id = {};
        std::optional<IdSource> source = {};
        bool from_records = false;
        std::optional<IdState> after = {};  // the ID's state once the unit's run is completed
        std::string spent = {};             // an ID of the records spent by the run
    };
    const Recipe l3 = scheme_recipe("L{:03}");
    const IdHolder earlier{"L004", IdState::reserved, 5, "L{:03}"};
    const std::vector<Case> cases = {
        {.name = "the scheme's next, confirmed",
         .recipe = l3,
         .confirmed = true,
         .action = IdAction::send,
         .id = "L001",
         .source = IdSource::scheme,
         .after = IdState::bound},
        {.name = "the scheme's next, never confirmed, stays reserved for its unit",
         .recipe = l3,
         .carried = "OLD",
         .action = IdAction::send,
         .id = "L001",
         .source = IdSource::scheme,
         .after = IdState::reserved},
        {.name = "a unit whose download failed reserves nothing",
         .recipe = l3,
         .ready = false,
         .action = IdAction::reserve},
        {.name = "IDs in the records are passed over",
         .recipe = l3,
         .before = {{"L001", {"L001", IdState::spent, 9, "L{:03}"}}},
         .confirmed = true,
         .action = IdAction::send,
         .id = "L002",
         .source = IdSource::scheme,
         .after = IdState::bound},
        {.name = "another unit's reservation is never given",
         .recipe = l3,
         .before = {{"L001", {"L001", IdState::reserved, 9, "L{:03}"}}},
         .action = IdAction::send,
         .id = "L002",
         .source = IdSource::scheme,
         .after = IdState::reserved},
        {.name = "the unit's reservation from an earlier run is given again",
         .recipe = l3,
         .before = {{"L004", earlier}},
         .confirmed = true,
         .action = IdAction::send,
         .id = "L004",
         .source = IdSource::scheme,
         .after = IdState::bound},
        {.name = "--new-id spends the earlier reservation and reserves another",
         .recipe = new_id(l3),
         .before = {{"L004", earlier}},
         .confirmed = true,
         .action = IdAction::send,
         .id = "L001",
         .source = IdSource::scheme,
         .after = IdState::bound,
         .spent = "L004"},
        {.name = "--new-id keeps the earlier reservation while the download fails",
         .recipe = new_id(l3),
         .before = {{"L004", earlier}},
         .ready = false,
         .action = IdAction::reserve},
        {.name = "an ID of the scheme carried is kept and bound at once",
         .recipe = l3,
         .carried = "L007",
         .action = IdAction::keep,
         .id = "L007",
         .source = IdSource::carried,
         .after = IdState::bound},
        {.name = "the records' ID for a unit that carries another",
         .recipe = l3,
         .before = {{"L003", {"L003", IdState::bound, 5, "L{:03}"}}},
         .carried = "XYZ",
         .action = IdAction::send,
         .id = "L003",
         .source = IdSource::records,
         .from_records = true,
         .after = IdState::bound},
        {.name = "a fixed ID another unit holds",
         .recipe = fixed_recipe("FIX1"),
         .before = {{"FIX1", {"FIX1", IdState::bound, 77, ""}}},
         .action = IdAction::held_elsewhere,
         .id = "FIX1",
         .after = IdState::bound},
        {.name = "a fixed ID, confirmed",
         .recipe = fixed_recipe("FIX1"),
         .confirmed = true,
         .action = IdAction::send,
         .id = "FIX1",
         .source = IdSource::fixed,
         .after = IdState::bound},
        {.name = "a fixed ID never confirmed stays reserved for its unit",
         .recipe = fixed_recipe("FIX1"),
         .action = IdAction::send,
         .id = "FIX1",
         .source = IdSource::fixed,
         .after = IdState::reserved},
        {.name = "no ID left: decided before the unit is touched",
         .recipe = scheme_recipe("ABCDEFG{}", 10),
         .action = IdAction::exhausted},
        {.name = "the last ID taken by another process after the decision",
         .recipe = scheme_recipe("ABCDEFG{}", 9),
         .taken_meanwhile = 1,
         .action = IdAction::exhausted},
    };
    for (const Case& c : cases) {
        MemoryStore store;
        store.ids = c.before;
        store.taken_meanwhile = c.taken_meanwhile;
        UnitRecords records(store, c.recipe, {"host", "/dev/ttyUSB0", "1.0"});
        const UnitFacts facts = unit(5, c.carried);
        ASSERT_TRUE(records.begin(&facts).ok()) << c.name;
        IdDecision decision = records.choose_id(facts);
        ASSERT_TRUE(decision.ok()) << c.name;
        if (decision.action == IdAction::reserve && c.ready) {
            decision = records.reserve_id(facts);
            ASSERT_TRUE(decision.ok()) << c.name;
        }
        EXPECT_EQ(decision.action, c.action) << c.name;
        EXPECT_EQ(decision.chosen.id, c.id) << c.name;
        if (c.source) {
            EXPECT_EQ(decision.chosen.source, *c.source) << c.name;
            EXPECT_EQ(decision.chosen.run_key, records.run_key()) << c.name;
        }
        EXPECT_EQ(decision.chosen.from_records(), c.from_records) << c.name;
        if (c.action == IdAction::held_elsewhere) {
            ASSERT_TRUE(decision.holder) << c.name;
            EXPECT_EQ(decision.holder->serial_number, 77) << c.name;
        }
        if (c.confirmed) {
            EXPECT_TRUE(records.bind_sent(5).ok()) << c.name;
        }
        const RecordsEnd end = records.complete(nullptr, ended(Result::success));
        EXPECT_TRUE(end.error.ok()) << c.name;
        if (c.after) {
            ASSERT_EQ(store.ids.count(c.id), 1u) << c.name;
            EXPECT_EQ(store.ids[c.id].state, *c.after) << c.name;
            EXPECT_EQ(store.ids[c.id].serial_number, c.id == "FIX1" && !c.source ? 77 : 5)
                << c.name;
        }
        if (c.id.empty()) {
            // Nothing was reserved for this unit, whatever else the records hold.
            for (const auto& [id, holder] : store.ids) {
                if (c.before.count(id) == 0) {
                    EXPECT_NE(holder.serial_number, 5) << c.name;
                }
            }
        }
        for (const auto& [id, holder] : c.before) {
            const IdState expected = id == c.spent ? IdState::spent
                                     : id == c.id  ? store.ids[id].state
                                                   : holder.state;
            EXPECT_EQ(store.ids[id].state, expected) << c.name << ": " << id;
        }
        EXPECT_FALSE(records.begun()) << c.name << ": the next unit starts afresh";
    }
}

TEST(UnitRecords, ASchemeNearItsEndSaysHowManyAreLeft) {
    struct Case {
        std::string name;
        std::optional<std::uint64_t> id_start;
        std::uint64_t counter;  // the next value the records would give
        std::optional<std::uint64_t> left;
    };
    // ABCDEF{} gives ABCDEF1 to ABCDEF99.
    const std::vector<Case> cases = {
        {"under 90 % used", std::nullopt, 90, std::nullopt},
        {"90 % used", std::nullopt, 91, 9},
        {"the last one", std::nullopt, 99, 1},
        {"the range starts at --id-start", 50, 94, std::nullopt},
        {"90 % of what --id-start leaves", 50, 95, 5},
    };
    for (const Case& c : cases) {
        MemoryStore store;
        store.counters["ABCDEF{}"] = c.counter;
        const Recipe recipe = scheme_recipe("ABCDEF{}", c.id_start);
        UnitRecords records(store, recipe, {"host", "p", "1"});
        const UnitFacts facts = unit(5, std::nullopt);
        ASSERT_TRUE(records.begin(&facts).ok()) << c.name;
        const IdDecision decision = records.choose_id(facts);
        ASSERT_EQ(decision.action, IdAction::reserve) << c.name;
        EXPECT_EQ(decision.running_out, c.left) << c.name;
    }
}

TEST(UnitRecords, TheRowIsBegunWithTheUnitAndCompletedWithItsSteps) {
    MemoryStore store;
    Recipe recipe = scheme_recipe("L{:03}");
    recipe.station_number = 3;
    recipe.operator_name = "Dana";
    recipe.then = FinalMode::run;
    recipe.checks.min_version = 216;
    UnitRecords records(store, recipe, {"st1", "/dev/ttyUSB1", "1.2.3"});
    const UnitFacts facts = unit(42, "OLD1");
    ASSERT_TRUE(records.begin(&facts).ok());
    const RunStart& start = store.begun.at(records.run_key());
    EXPECT_EQ(start.serial_number, 42);
    EXPECT_EQ(start.id_before, "OLD1");
    EXPECT_EQ(start.host, "st1");
    EXPECT_EQ(start.port, "/dev/ttyUSB1");
    EXPECT_EQ(start.station_number, 3u);
    EXPECT_EQ(start.operator_name, "Dana");
    EXPECT_EQ(start.image, "app.vr4");
    EXPECT_EQ(start.tool_version, "1.2.3");
    EXPECT_EQ(start.settings_before, (DeviceCodes{1, 2, 3}));
    EXPECT_EQ(records.refusal(facts),
              "the unit's firmware is 2.15, the recipe wants 2.16 or later");

    records.step_ended(RecipeStep::download, STEP_SUCCESS);
    records.step_ended(RecipeStep::id, "not_confirmed");
    UnitEnd end = ended(Result::not_confirmed);
    end.id_after = "OLD1";
    const RecordsEnd done = records.complete(&facts, end);
    ASSERT_TRUE(done.completed);
    const RunEnd& row = store.completed.at(done.run_key);
    // No settings in the recipe: not asked; the step after the failure: skipped.
    EXPECT_EQ(row.steps, (RunSteps{"success", "not_confirmed", "not_asked", "skipped"}));
    EXPECT_EQ(row.result, "not_confirmed");
    EXPECT_EQ(row.exit_code, 1);
    EXPECT_EQ(row.id_after, "OLD1");
    EXPECT_EQ(row.duration_ms, 1200u);
}

TEST(UnitRecords, AFailedWriteIsTheUnitsFailure) {
    struct Case {
        std::string name;
        bool begin_first;  // the row was begun before the unit ended
        bool fail_writes, fail_spend;
        bool begun_now, completed;
        std::string row_result;  // empty: no row completed
    };
    const std::vector<Case> cases = {
        {"a unit that ended before its row is recorded all the same", false, false, false, true,
         true, "no_link"},
        {"the row cannot be begun", false, true, false, false, false, ""},
        {"the row cannot be completed", true, true, false, false, false, ""},
        // A reservation never confirmed stays with its unit: nothing is spent, nothing fails.
        {"the unit ended with an ID reserved", true, false, true, false, true, "no_link"},
    };
    for (const Case& c : cases) {
        MemoryStore store;
        const Recipe recipe = scheme_recipe("L{:03}");
        UnitRecords records(store, recipe, {"host", "p", "1"});
        const UnitFacts facts = unit(8, std::nullopt);
        if (c.begin_first) {
            ASSERT_TRUE(records.begin(&facts).ok()) << c.name;
            ASSERT_EQ(records.choose_id(facts).action, IdAction::reserve) << c.name;
            ASSERT_EQ(records.reserve_id(facts).action, IdAction::send) << c.name;
        }
        store.fail_writes = c.fail_writes;
        store.fail_spend = c.fail_spend;
        const RecordsEnd end = records.complete(nullptr, ended(Result::no_link));
        EXPECT_EQ(end.error.ok(), !c.fail_writes) << c.name;
        EXPECT_EQ(end.begun_now, c.begun_now) << c.name;
        EXPECT_EQ(end.completed, c.completed) << c.name;
        if (c.row_result.empty()) {
            EXPECT_TRUE(store.completed.empty()) << c.name;
        } else {
            ASSERT_EQ(store.completed.size(), 1u) << c.name;
            EXPECT_EQ(store.completed.begin()->second.result, c.row_result) << c.name;
        }
        if (c.begun_now) {
            EXPECT_EQ(store.begun.begin()->second.serial_number, std::nullopt) << c.name;
        }
    }
}

}  // namespace
}  // namespace vrk::test
