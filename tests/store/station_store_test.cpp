// The station's records as the flow sees them, the same table run against each store: a
// SQLite file in a temporary folder, and a database of its own on the throw-away PostgreSQL
// cluster. IDs never given twice (across threads, processes and a process killed between
// reserve and bind), the counters, the holders and the rows read back whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/station/id_assignment.h"
#include "tests/support/pg_scratch.h"
#include "tests/support/station_samples.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace cli;

enum class Store { sqlite, postgres };

void PrintTo(Store store, std::ostream* out) {
    *out << (store == Store::sqlite ? "SQLite" : "PostgreSQL");
}

std::string store_name(const ::testing::TestParamInfo<Store>& info) {
    return info.param == Store::sqlite ? "sqlite" : "postgres";
}

class BothStores : public ::testing::TestWithParam<Store> {
  protected:
    void SetUp() override {
        if (GetParam() == Store::sqlite) {
            std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
            for (char& c : name)
                if (c == '/') c = '-';
            dir_ = fs::temp_directory_path() /
                   ("vrk-both-" + std::to_string(::getpid()) + "-" + name);
            fs::remove_all(dir_);
            fs::create_directories(dir_);
        }
        fresh();
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // A new, empty database for the store under test.
    void fresh() {
        if (GetParam() == Store::sqlite) {
            location_ = (dir_ / ("station-" + std::to_string(++made_) + ".db")).string();
            return;
        }
        if (database_) {  // emptied: quicker than a database made anew
            ASSERT_EQ(database_->run(
                          "DROP TABLE IF EXISTS hooks, runs, ids, counters, vrk_schema_version"),
                      "");
            return;
        }
        database_ = std::make_unique<ScratchDatabase>();
        ASSERT_TRUE(database_->ok()) << database_->error();
        location_ = database_->socket_uri();
    }

    std::unique_ptr<cli::StationStore> open() {
        StoreError error;
        auto store = open_station_store(location_, StoreAccess::station, &error);
        EXPECT_TRUE(store) << error.message;
        return store;
    }

    fs::path dir_;
    int made_ = 0;
    std::unique_ptr<ScratchDatabase> database_;
    std::string location_;
};

INSTANTIATE_TEST_SUITE_P(Stores, BothStores, ::testing::Values(Store::sqlite, Store::postgres),
                         store_name);

std::vector<std::string> reserve_many(cli::StationStore& store, int count, std::int32_t serial) {
    std::vector<std::string> ids;
    const IdScheme s = scheme("L{station}{:05}", 1);
    for (int i = 0; i < count; ++i) {
        const auto r = store.reserve_next(s, std::nullopt, {serial + i, new_run_key()});
        EXPECT_TRUE(r.ok()) << r.error.message;
        ids.push_back(r.value.id);
    }
    return ids;
}

TEST_P(BothStores, TwoConnectionsInTwoThreadsNeverGiveAnIdTwice) {
    auto first = open();
    auto second = open();
    std::vector<std::string> a, b;
    std::thread one([&] { a = reserve_many(*first, 40, 1000); });
    std::thread two([&] { b = reserve_many(*second, 40, 2000); });
    one.join();
    two.join();
    std::set<std::string> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 80u);
}

TEST_P(BothStores, TwoProcessesNeverGiveAnIdTwice) {
    constexpr int PER_PROCESS = 25;
    std::vector<std::pair<pid_t, int>> children;
    for (int p = 0; p < 2; ++p) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            StoreError error;
            auto store = open_station_store(location_, StoreAccess::station, &error);
            std::string out;
            if (!store) std::fprintf(stderr, "%s\n", error.message.c_str());
            if (store)
                for (const auto& id : reserve_many(*store, PER_PROCESS, 10'000 * (p + 1)))
                    out += id + "\n";
            const bool written =
                ::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
            ::_exit(store && written ? 0 : 1);
        }
        ::close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    std::set<std::string> ids;
    std::size_t total = 0;
    for (auto [pid, fd] : children) {
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
             at = end + 1, ++total)
            ids.insert(text.substr(at, end - at));
    }
    EXPECT_EQ(total, 2u * PER_PROCESS);
    EXPECT_EQ(ids.size(), total);
}

TEST_P(BothStores, AReservationKilledBeforeItsBindIsNeverGivenAgain) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Reserve, tell the parent, and die as vrk killed with SIGKILL would: no clean-up.
        StoreError error;
        auto store = open_station_store(location_, StoreAccess::station, &error);
        const std::string id =
            store ? store->reserve_next(scheme("K{:03}"), std::nullopt, {77, "k"}).value.id : "";
        (void)!::write(fds[1], id.data(), id.size());
        ::kill(::getpid(), SIGKILL);
        ::_exit(1);
    }
    ::close(fds[1]);
    char buffer[16] = {};
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GT(n, 0);
    const std::string killed(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(killed, "K001");

    auto store = open();
    EXPECT_EQ(store->reserve_next(scheme("K{:03}"), std::nullopt, {78, "r"}).value.id, "K002");
    const auto holder = store->id_holder(killed).value;
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->state, IdState::reserved);
    EXPECT_EQ(holder->serial_number, 77);
    // The unit may have taken it before the kill: when it comes back carrying it, it keeps it.
    EXPECT_TRUE(store->claim(killed, IdSource::fixed, {77, "again"}).value.claimed);
    EXPECT_FALSE(store->claim(killed, IdSource::fixed, {79, "other"}).value.claimed);
}

TEST_P(BothStores, CountersStartRiseOnlyAndSkipIdsTheRecordsHold) {
    auto store = open();
    struct Step {
        std::string what;
        std::function<std::string(cli::StationStore&)> act;
        std::string expected;
    };
    const auto reserve = [](std::string text, std::optional<std::uint64_t> start,
                            std::optional<std::uint32_t> station = std::nullopt) {
        return [=](cli::StationStore& s) {
            const auto r = s.reserve_next(scheme(text, station), start, {5, "run"});
            if (!r.ok()) return r.error.message;
            return r.value.exhausted ? std::string("exhausted") : r.value.id;
        };
    };
    const Step steps[] = {
        {"a new counter starts at 1", reserve("L1{:05}", std::nullopt), "L100001"},
        {"--id-start raises it", reserve("L1{:05}", 5), "L100005"},
        {"a lower --id-start does not lower it", reserve("L1{:05}", 2), "L100006"},
        {"a fixed ID claimed ahead of the counter",
         [](cli::StationStore& s) {
             return s.claim("L100007", IdSource::fixed, {9, "fixed"}).value.claimed ? "claimed" : "refused";
         },
         "claimed"},
        {"is skipped", reserve("L1{:05}", std::nullopt), "L100008"},
        {"another station's counter is its own", reserve("L{station}{:05}", std::nullopt, 2),
         "L200001"},
        {"the same IDs by another template share the counter",
         reserve("L{station}{:05}", std::nullopt, 1), "L100009"},
        {"an ID of another scheme in the records is skipped too", reserve("L10{:04}", 8),
         "L100010"},
        {"a start of 0", reserve("Z{}", 0), "Z0"},
        {"the last ID that fits", reserve("ABCDEF{}", 99), "ABCDEF99"},
        {"then none is left", reserve("ABCDEF{}", std::nullopt), "exhausted"},
        {"and nothing changed", reserve("ABCDEF{}", std::nullopt), "exhausted"},
    };
    for (const Step& step : steps) EXPECT_EQ(step.act(*store), step.expected) << step.what;
}

TEST_P(BothStores, BindsOneIdPerUnitAndTellsWhoHoldsAnId) {
    auto store = open();
    const IdScheme s = scheme("B{:02}");
    ASSERT_EQ(store->reserve_next(s, std::nullopt, {100, "r1"}).value.id, "B01");
    ASSERT_TRUE(store->bind("B01", 100).ok());
    ASSERT_EQ(store->reserve_next(s, std::nullopt, {100, "r2"}).value.id, "B02");  // --new-id
    ASSERT_TRUE(store->bind("B02", 100).ok());
    ASSERT_EQ(store->reserve_next(s, std::nullopt, {200, "r3"}).value.id, "B03");
    ASSERT_TRUE(store->spend("B03").ok());  // unit 200 never confirmed it
    ASSERT_TRUE(store->claim("FIX1", IdSource::fixed, {300, "r4"}).value.claimed);

    struct Holder {
        std::string id;
        std::optional<IdState> state;  // nullopt: the records do not know it
        std::int32_t serial = 0;
        std::string scheme = {};
    };
    const Holder holders[] = {
        {"B01", IdState::spent, 100, "B{:02}"},  // the unit's earlier ID
        {"B02", IdState::bound, 100, "B{:02}"},
        {"B03", IdState::spent, 200, "B{:02}"},
        {"FIX1", IdState::reserved, 300, ""},
        {"b02", std::nullopt},  // compared byte for byte
        {"NEVER", std::nullopt},
    };
    for (const Holder& h : holders) {
        const auto found = store->id_holder(h.id);
        ASSERT_TRUE(found.ok());
        ASSERT_EQ(found.value.has_value(), h.state.has_value()) << h.id;
        if (!found.value) continue;
        EXPECT_EQ(found.value->state, *h.state) << h.id;
        EXPECT_EQ(found.value->serial_number, h.serial) << h.id;
        EXPECT_EQ(found.value->scheme, h.scheme) << h.id;
    }

    struct Claim {
        std::string id;
        std::int32_t serial;
        bool claimed;
    };
    const Claim claims[] = {
        {"B02", 100, true},    // its own bound ID
        {"B02", 101, false},   // bound to another unit
        {"B03", 101, false},   // spent, but may sit in unit 200
        {"B03", 200, true},    // which may come back with it
        {"FIX1", 301, false},  // reserved for another
        {"NEW9", 400, true},
    };
    for (const Claim& c : claims)
        EXPECT_EQ(store->claim(c.id, IdSource::fixed, {c.serial, "c"}).value.claimed, c.claimed) << c.id;

    EXPECT_EQ(store->bound_id(100).value, std::optional<std::string>("B02"));
    EXPECT_EQ(store->bound_id(200).value, std::nullopt);
    EXPECT_EQ(store->bind("B02", 101).failure, StoreFailure::id_conflict);
    EXPECT_EQ(store->bound_id(100).value, std::optional<std::string>("B02"));
    ASSERT_TRUE(store->spend("B02").ok());  // a bound ID is not given up by a spend
    EXPECT_EQ(store->bound_id(100).value, std::optional<std::string>("B02"));
}

TEST_P(BothStores, ListsEveryIdWithItsStateSourceStationAndTimes) {
    auto store = open();
    const IdScheme s = scheme("B{:02}");
    ASSERT_TRUE(store->reserve_next(s, std::nullopt, {100, "r1", 2}).ok());     // B01
    ASSERT_TRUE(store->bind("B01", 100).ok());
    ASSERT_TRUE(store->reserve_next(s, std::nullopt, {100, "r2", 2}).ok());     // B02
    ASSERT_TRUE(store->bind("B02", 100).ok());                                    // B01 spent
    ASSERT_TRUE(store->reserve_next(s, std::nullopt, {200, "r3", 2}).ok());     // B03, kept
    ASSERT_TRUE(store->claim("FIX1", IdSource::fixed, {300, "r4", 2}).ok());
    ASSERT_TRUE(store->bind("FIX1", 300).ok());
    ASSERT_TRUE(store->claim("CAR7", IdSource::carried, {400, "r5"}).ok());
    ASSERT_TRUE(store->bind("CAR7", 400).ok());
    ASSERT_TRUE(store->bind("NEW1", 500).ok());  // confirmed without a claim

    struct Case {
        std::string name;
        IdFilter filter;
        std::vector<std::string> listed;  // "ID state source serial station"
    };
    IdFilter reserved, unit_100, fix1, both;
    reserved.state = both.state = IdState::reserved;
    unit_100.serial_number = both.serial_number = 100;
    fix1.id = "fix1";
    const std::vector<Case> cases = {
        {"every ID",
         {},
         {"B01 spent scheme 100 2", "B02 bound scheme 100 2", "B03 reserved scheme 200 2",
          "FIX1 bound fixed 300 2", "CAR7 bound carried 400 -", "NEW1 bound records 500 -"}},
        {"one state", reserved, {"B03 reserved scheme 200 2"}},
        {"one unit", unit_100, {"B01 spent scheme 100 2", "B02 bound scheme 100 2"}},
        {"an ID in any case", fix1, {"FIX1 bound fixed 300 2"}},
        {"every condition holds", both, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> listed;
        std::vector<IdHolder> holders;
        ASSERT_TRUE(store
                        ->for_each_id(c.filter,
                                      [&](const IdHolder& h) {
                                          holders.push_back(h);
                                          listed.push_back(
                                              h.id + " " + std::string(id_state_name(h.state)) +
                                              " " + std::string(id_source_name(*h.source)) + " " +
                                              std::to_string(h.serial_number) + " " +
                                              (h.station_number
                                                   ? std::to_string(*h.station_number)
                                                   : "-"));
                                      })
                        .ok());
        // Reserved within one millisecond, IDs come in the order of their names: compared as
        // sets.
        std::vector<std::string> expected = c.listed;
        std::sort(listed.begin(), listed.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected) << c.name;
        // Each change has its time, and only the changes made.
        for (const IdHolder& h : holders) {
            EXPECT_FALSE(h.reserved_at.empty()) << h.id;
            EXPECT_EQ(h.bound_at.has_value(), h.state != IdState::reserved) << h.id;
            EXPECT_EQ(h.spent_at.has_value(), h.state == IdState::spent) << h.id;
        }
    }
}

TEST_P(BothStores, ARowIsBegunThenCompletedAndReadBackWhole) {
    auto store = open();
    const RunStart started = a_start("k1", 70012);
    ASSERT_TRUE(store->begin_run(started).ok());
    RunStart bare = a_start("k2", 0);
    bare.serial_number.reset();
    bare.id_before.reset();
    bare.firmware_version.reset();
    bare.flash_type_code.reset();
    bare.flash_type.reset();
    bare.settings_before = {};
    bare.station_number.reset();
    ASSERT_TRUE(store->begin_run(bare).ok());
    RunEnd end;
    end.run_key = "k1";
    end.id_after = "L100001";
    end.settings_after = {3, 9, std::nullopt};
    end.steps = {"success", "success", "not_confirmed", "skipped"};
    end.result = "not_confirmed";
    end.exit_code = 1;
    end.message = "the unit reports, \"quoted\"";
    end.duration_ms = 61234;
    ASSERT_TRUE(store->complete_run(end).ok());
    RunEnd unknown = end;
    unknown.run_key = "nope";
    EXPECT_EQ(store->complete_run(unknown).failure, StoreFailure::no_such_run);

    // The hook's outcome comes later, beside the row; a second one for the same unit is
    // refused and leaves the first.
    const HookRecord hook{"k1", "exit 3", "printer offline, \"label\"", "2025-03-01T10:01:02.003Z"};
    ASSERT_TRUE(store->record_hook(hook).ok());
    HookRecord again = hook;
    again.status = "exit 0";
    EXPECT_FALSE(store->record_hook(again).ok());

    std::vector<RunRecord> rows;
    ASSERT_TRUE(store->for_each_run({}, [&](const RunRecord& r) { rows.push_back(r); }).ok());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].start, started);
    EXPECT_EQ(rows[0].end, end);
    EXPECT_EQ(rows[0].hook, hook);
    EXPECT_FALSE(rows[1].hook);
    EXPECT_EQ(rows[1].start, bare);
    EXPECT_FALSE(rows[1].end);  // begun, never completed
}

TEST_P(BothStores, EachUnitGetsTheIdTheRecipeAndTheRecordsGiveIt) {
    const auto fixed = [](std::string id) {
        Recipe r;
        r.id_choice = IdChoice::fixed;
        r.fixed_id = std::move(id);
        return r;
    };
    const auto numbered = [](std::string text, bool new_id = false,
                             std::optional<std::uint64_t> start = std::nullopt) {
        Recipe r;
        r.id_choice = IdChoice::scheme;
        r.scheme = scheme(text, 1);
        r.new_id = new_id;
        r.id_start = start;
        return r;
    };
    // Unit 7 is known to the records with L100001; FIX2 and L200009 belong to unit 8; L100002
    // was reserved for unit 10 and never confirmed.
    const auto known = [](cli::StationStore& s) {
        ASSERT_EQ(s.reserve_next(scheme("L{station}{:05}", 1), std::nullopt, {7, "r"}).value.id,
                  "L100001");
        ASSERT_TRUE(s.bind("L100001", 7).ok());
        ASSERT_TRUE(s.claim("FIX2", IdSource::fixed, {8, "r"}).value.claimed);
        ASSERT_TRUE(s.claim("L200009", IdSource::fixed, {8, "r"}).value.claimed);
        ASSERT_EQ(s.reserve_next(scheme("L{station}{:05}", 1), std::nullopt, {10, "r"}).value.id,
                  "L100002");
    };
    struct Case {
        std::string name;
        Recipe recipe;
        std::int32_t serial;
        std::string carried;
        IdAction action;
        std::string id = {};
        bool reserved = false;
        std::string spent = {};  // an ID of the records spent on the way
    };
    const Case cases[] = {
        {"no ID step", Recipe{}, 7, "L100001", IdAction::none},
        {"a fixed ID", fixed("FIX1"), 9, "VRK00042", IdAction::send, "FIX1", true},
        {"a fixed ID the unit carries", fixed("FIX1"), 9, "FIX1", IdAction::keep, "FIX1"},
        {"a fixed ID of another unit", fixed("FIX2"), 9, "VRK00042", IdAction::held_elsewhere,
         "FIX2"},
        {"a new unit", numbered("L{station}{:05}"), 9, "VRK00042", IdAction::send, "L100003", true},
        {"a known unit, flashed again", numbered("L{station}{:05}"), 7, "OTHER", IdAction::send,
         "L100001"},
        {"a known unit that holds its ID", numbered("L{station}{:05}"), 7, "L100001",
         IdAction::keep, "L100001"},
        {"a known unit given a new ID", numbered("L{station}{:05}", true), 7, "L100001",
         IdAction::send, "L100003", true},
        {"numbered by another station", numbered("L{station}{:05}"), 9, "L200007", IdAction::keep,
         "L200007"},
        {"numbered by another station, given to another unit", numbered("L{station}{:05}"), 9,
         "L200009", IdAction::send, "L100003", true},
        {"no ID left", numbered("ABCDEF{}", false, 100), 9, "", IdAction::exhausted},
        {"its reservation from an earlier run", numbered("L{station}{:05}"), 10, "", IdAction::send,
         "L100002", true},
        {"the earlier reservation spent for a new ID", numbered("L{station}{:05}", true), 10,
         "L100002", IdAction::send, "L100003", true, "L100002"},
    };
    for (const Case& c : cases) {
        fresh();
        auto store = open();
        known(*store);
        IdAssignment a = assign_id(*store, c.recipe, c.serial, c.carried, "run");
        ASSERT_TRUE(a.error.ok()) << c.name << ": " << a.error.message;
        if (a.action == IdAction::reserve) {
            // Decided, not reserved: the unit spends nothing until it is ready for its ID.
            const auto would = store->peek_next(*c.recipe.scheme, c.recipe.id_start).value.id;
            EXPECT_FALSE(store->id_holder(would).value) << c.name;
            a = reserve_scheme_id(*store, c.recipe, c.serial, c.carried, "run");
            ASSERT_TRUE(a.error.ok()) << c.name << ": " << a.error.message;
        }
        EXPECT_EQ(a.action, c.action) << c.name;
        EXPECT_EQ(a.id, c.id) << c.name;
        EXPECT_EQ(a.reserved, c.reserved) << c.name;
        if (a.action == IdAction::held_elsewhere) {
            ASSERT_TRUE(a.holder);
            EXPECT_EQ(a.holder->serial_number, 8);
        }
        if (a.reserved) {  // in the records before it is sent
            const auto holder = store->id_holder(a.id).value;
            ASSERT_TRUE(holder) << c.name;
            EXPECT_EQ(holder->serial_number, c.serial) << c.name;
        }
        if (!c.spent.empty()) {
            EXPECT_EQ(store->id_holder(c.spent).value->state, IdState::spent) << c.name;
        }
    }
}

}  // namespace
}  // namespace vrk::test
