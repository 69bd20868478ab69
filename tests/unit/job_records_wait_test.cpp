// vrk program while a line's database server is away, in virtual time: the store (here the
// station's file behind a stand-in for the line's server) makes one of the unit's calls wait,
// as the PostgreSQL store does while it connects again, and the server either comes back or
// stays away past --db-wait. The port says it waits (JSON, text, board), the unit is never
// shown passed before its row is stored, and an outage past the limit fails the unit as
// records_unavailable with exit code 5. --db-wait and the recipe's db_wait reach the store.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "app/cli/station/station_store.h"
#include "sim/demo_image.h"
#include "tests/support/job_rig.h"

namespace vrk::test {
namespace {

using namespace cli;

enum class Call { begin, reserve, bind, complete };

// The station's file, standing for a line's server that goes away at one call: it tells the
// calling port it waits, then does the call (the server came back) or fails it as the
// PostgreSQL store does once the limit passed.
class AwayServer final : public StationStore {
  public:
    AwayServer(std::unique_ptr<StationStore> inner, Call at, bool comes_back,
               std::optional<std::uint32_t>* limit)
        : inner_(std::move(inner)), at_(at), comes_back_(comes_back), limit_(limit) {}

    void set_outage_limit(std::uint32_t ms) override { *limit_ = ms; }
    void watch_waits(StoreWaitObserver* observer) override { watcher_ = observer; }

    const std::string& location() const override { return inner_->location(); }
    StoreError begin_run(const RunStart& s) override {
        return away(Call::begin, [&] { return inner_->begin_run(s); });
    }
    StoreError complete_run(const RunEnd& e) override {
        return away(Call::complete, [&] { return inner_->complete_run(e); });
    }
    StoreError record_hook(const HookRecord& h) override { return inner_->record_hook(h); }
    StoreResult<std::optional<std::string>> bound_id(std::int32_t serial) override {
        return inner_->bound_id(serial);
    }
    StoreResult<std::optional<IdHolder>> id_holder(std::string_view id) override {
        return inner_->id_holder(id);
    }
    StoreResult<Reservation> reserve_next(const IdScheme& scheme,
                                          std::optional<std::uint64_t> start,
                                          const IdClaimant& claimant) override {
        return away(Call::reserve,
                    [&] { return inner_->reserve_next(scheme, start, claimant); });
    }
    StoreResult<Reservation> peek_next(const IdScheme& scheme,
                                       std::optional<std::uint64_t> start) override {
        return inner_->peek_next(scheme, start);
    }
    StoreResult<std::optional<std::string>> pending_reservation(const IdScheme& scheme,
                                                                std::int32_t serial) override {
        return inner_->pending_reservation(scheme, serial);
    }
    StoreResult<Claim> claim(std::string_view id, IdSource source,
                             const IdClaimant& claimant) override {
        return inner_->claim(id, source, claimant);
    }
    StoreError bind(std::string_view id, std::int32_t serial) override {
        return away(Call::bind, [&] { return inner_->bind(id, serial); });
    }
    StoreError spend(std::string_view id) override { return inner_->spend(id); }
    StoreError for_each_id(const IdFilter& f,
                           const std::function<void(const IdHolder&)>& id) override {
        return inner_->for_each_id(f, id);
    }
    StoreError for_each_run(const RunFilter& f,
                            const std::function<void(const RunRecord&)>& row) override {
        return inner_->for_each_run(f, row);
    }
    StoreError for_each_counter(const std::function<void(const CounterRecord&)>& row) override {
        return inner_->for_each_counter(row);
    }
    StoreResult<Report> report(const ReportQuery& q) override { return inner_->report(q); }

  private:
    template <typename F>
    auto away(Call call, const F& f) -> decltype(f()) {
        // Once the limit passed, the server stays away for every later call.
        if (!gone_ && (call != at_ || done_)) return f();
        if (!done_ && watcher_ != nullptr)
            watcher_->records_waiting("2025-03-01T12:30:15.000Z",
                                      "server closed the connection unexpectedly");
        done_ = true;
        if (!comes_back_) {
            gone_ = true;
            decltype(f()) failed{};
            StoreError error{StoreFailure::unreachable,
                             "the line database postgresql://line-db/vrk cannot be reached: "
                             "server closed the connection unexpectedly (it did not answer "
                             "again within 60 s)"};
            if constexpr (std::is_same_v<decltype(f()), StoreError>)
                failed = error;
            else
                failed.error = error;
            return failed;
        }
        auto result = f();
        if (watcher_ != nullptr) watcher_->records_back();
        return result;
    }

    std::unique_ptr<StationStore> inner_;
    Call at_;
    bool comes_back_;
    std::optional<std::uint32_t>* limit_;
    StoreWaitObserver* watcher_ = nullptr;
    bool done_ = false;
    bool gone_ = false;
};

struct Outage {
    const char* name;
    Call at;
    bool comes_back;
    const char* result;
    int exit_code;
    const char* unit_id;  // what the unit holds at the end
};

// The events of one run, by name, in their order: where the wait stands among them.
std::vector<std::string> sequence(const JobRun& run) {
    std::vector<std::string> events;
    for (const auto& o : run.objects) {
        const std::string event = o.value("event", "");
        if (event == "records_waiting" || event == "records_back" || event == "finished")
            events.push_back(event);
        else if (event == "record")
            events.push_back("record " + o.value("state", std::string()));
    }
    return events;
}

TEST(JobRecordsWait, APortWaitsForTheLineServerAndNeverShowsAUnitPassedBeforeItsRow) {
    const Outage outages[] = {
        {"back_before_the_row_is_begun", Call::begin, true, "success", 0, "L100001"},
        {"back_before_the_id_is_reserved", Call::reserve, true, "success", 0, "L100001"},
        {"back_before_the_id_is_bound", Call::bind, true, "success", 0, "L100001"},
        {"back_before_the_row_is_completed", Call::complete, true, "success", 0, "L100001"},
        {"away_past_the_limit_at_the_row_start", Call::begin, false, "records_unavailable", 5,
         "VRK00042"},
        {"away_past_the_limit_at_the_reservation", Call::reserve, false, "records_unavailable",
         5, "VRK00042"},
        {"away_past_the_limit_at_the_binding", Call::bind, false, "records_unavailable", 5,
         "L100001"},
        {"away_past_the_limit_at_the_completion", Call::complete, false, "records_unavailable",
         5, "L100001"},
    };
    for (const Outage& o : outages) {
        JobRig rig;
        rig.files.files["app.vr4"] = sim::make_demo_image(4000, 3);
        rig.socket.plug_in(unit_with_serial(70012));
        std::optional<std::uint32_t> limit;
        rig.wrap_store = [&](std::unique_ptr<StationStore> inner) -> std::unique_ptr<StationStore> {
            return std::make_unique<AwayServer>(std::move(inner), o.at, o.comes_back, &limit);
        };
        const JobRun run = rig.run({"--json", "program", "app.vr4", "--no-verify", "--id-format",
                                    "L1{:05}", "--then", "run", "--db", rig.db_path,
                                    "--db-wait", "7"});
        EXPECT_EQ(run.exit_code, o.exit_code) << o.name << ": " << run.err;
        EXPECT_EQ(limit, 7000u) << o.name;
        ASSERT_EQ(run.of("finished").size(), 1u) << o.name;
        EXPECT_EQ(run.of("finished")[0]["result"], o.result) << o.name;
        EXPECT_EQ(rig.socket.unit()->unit_id(), o.unit_id) << o.name;
        const auto waiting = run.of("records_waiting");
        ASSERT_EQ(waiting.size(), 1u) << o.name;
        EXPECT_EQ(waiting[0]["since"], "2025-03-01T12:30:15.000Z") << o.name;
        EXPECT_EQ(run.of("records_back").size(), o.comes_back ? 1u : 0u) << o.name;

        const std::vector<std::string> seen = sequence(run);
        if (o.comes_back) {
            // Passed only after the row was completed, and after the port's wait was over.
            ASSERT_GE(seen.size(), 2u) << o.name;
            EXPECT_EQ(seen[seen.size() - 2], "record completed") << o.name;
            EXPECT_EQ(seen.back(), "finished") << o.name;
            const auto back = std::find(seen.begin(), seen.end(), "records_back");
            const auto wait = std::find(seen.begin(), seen.end(), "records_waiting");
            EXPECT_LT(wait, back) << o.name;
        } else {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), "record completed"), 0) << o.name;
            EXPECT_NE(run.err.find("did not answer again within 60 s"), std::string::npos)
                << o.name << ": " << run.err;
        }
    }
}

TEST(JobRecordsWait, TheBoardSaysThePortWaitsForTheDatabase) {
    JobRig rig;
    rig.console.terminal = true;
    rig.files.files["app.vr4"] = sim::make_demo_image(4000, 3);
    rig.socket.plug_in(unit_with_serial(70012));
    std::optional<std::uint32_t> limit;
    rig.wrap_store = [&](std::unique_ptr<StationStore> inner) -> std::unique_ptr<StationStore> {
        return std::make_unique<AwayServer>(std::move(inner), Call::complete, true, &limit);
    };
    const JobRun run = rig.run({"program", "app.vr4", "--no-verify", "--id-format", "L1{:05}",
                                "--db", rig.db_path});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const auto shown = run.err.find("waiting for the database since 12:30:15 UTC");
    EXPECT_NE(shown, std::string::npos) << run.err;
    // The unit's PASS comes after, once its row is stored.
    EXPECT_NE(run.err.find("PASS", shown), std::string::npos) << run.err;
    EXPECT_EQ(limit, 60'000u);  // the default
}

TEST(JobRecordsWait, TheRecipesDbWaitIsTheLimitUnlessTheCommandLineSaysOther) {
    struct Case {
        const char* name;
        std::string recipe;
        std::vector<std::string> more;
        std::optional<std::uint32_t> limit;  // nullopt: refused as a mistake in the recipe
    };
    const Case cases[] = {
        {"from_the_recipe", "image = \"app.vr4\"\nid_format = \"L1{:05}\"\ndb_wait = 15\n", {},
         15'000},
        {"none_given", "image = \"app.vr4\"\nid_format = \"L1{:05}\"\n", {}, 60'000},
        {"the_command_line_first", "image = \"app.vr4\"\nid_format = \"L1{:05}\"\ndb_wait = 15\n",
         {"--db-wait", "0"}, 0},
        {"negative", "image = \"app.vr4\"\nid_format = \"L1{:05}\"\ndb_wait = -1\n", {},
         std::nullopt},
    };
    for (const Case& c : cases) {
        JobRig rig;
        rig.files.files["app.vr4"] = sim::make_demo_image(4000, 3);
        rig.files.files["line.toml"] = Bytes(c.recipe.begin(), c.recipe.end());
        rig.socket.plug_in(unit_with_serial(70012));
        std::optional<std::uint32_t> limit;
        rig.wrap_store = [&](std::unique_ptr<StationStore> inner) -> std::unique_ptr<StationStore> {
            return std::make_unique<AwayServer>(std::move(inner), Call::begin, true, &limit);
        };
        std::vector<std::string> args = {"program", "--recipe", "line.toml", "--no-verify",
                                         "--db", rig.db_path};
        args.insert(args.end(), c.more.begin(), c.more.end());
        const JobRun run = rig.run(args);
        EXPECT_EQ(limit, c.limit) << c.name << ": " << run.err;
        EXPECT_EQ(run.exit_code, c.limit ? 0 : 2) << c.name << ": " << run.err;
        if (!c.limit) {
            EXPECT_NE(run.err.find("line.toml:3: db_wait must be a number of seconds"),
                      std::string::npos)
                << c.name << ": " << run.err;
        }
    }
}

}  // namespace
}  // namespace vrk::test
