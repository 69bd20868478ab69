// The station's records in a real SQLite file in a temporary folder: IDs never given twice
// (across threads, processes and a process killed between reserve and bind), the look-ups the
// flow relies on, the schema's upgrade, and every way the database can be unusable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/station/id_assignment.h"
#include "app/cli/station/sqlite_station_store.h"
#include "tests/support/failing_vfs.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace cli;

IdScheme scheme(const std::string& text, std::optional<std::uint32_t> station = std::nullopt) {
    std::string error;
    auto parsed = IdScheme::parse(text, station, &error);
    EXPECT_TRUE(parsed) << error;
    return *parsed;
}

RunStart a_start(const std::string& key, std::int32_t serial) {
    RunStart s;
    s.run_key = key;
    s.started_at = "2025-03-01T10:00:00.000Z";
    s.host = "station-1";
    s.station_number = 1;
    s.operator_name = "Dana";
    s.port = "/dev/ttyUSB0";
    s.serial_number = serial;
    s.id_before = "OLD1";
    s.firmware_version = "2.15";
    s.flash_type_code = 0x28;
    s.flash_type = "2 Meg";
    s.settings_before = {0, 1, 1};
    s.image = "fw/app.vr4";
    s.image_sha256 = std::string(64, 'a');
    s.tool_version = "42.15";
    s.lot = "WO-2025-0117";
    return s;
}

class StationStore : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vrk-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "station.db").string();
    }
    void TearDown() override {
        failing_vfs_faults().clear();
        fs::remove_all(dir_);
    }

    std::unique_ptr<cli::StationStore> open(StoreAccess access = StoreAccess::station,
                                            SqliteStoreSettings settings = {}) {
        settings.vfs = failing_vfs();
        StoreError error;
        auto store = open_sqlite_station_store(path_, access, &error, settings);
        EXPECT_TRUE(store) << error.message;
        return store;
    }

    fs::path dir_;
    std::string path_;
};

// Reserves `count` IDs of L{station}{:05} at station 1, each for its own serial number.
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

TEST_F(StationStore, TwoStoresOnOneFileInTwoThreadsNeverGiveAnIdTwice) {
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

TEST_F(StationStore, TwoProcessesOnOneFileNeverGiveAnIdTwice) {
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
            auto store = open_sqlite_station_store(path_, StoreAccess::station, &error);
            std::string out;
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

TEST_F(StationStore, AReservationKilledBeforeItsBindIsNeverGivenAgain) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Reserve, tell the parent, and die as vrk killed with SIGKILL would: no clean-up.
        StoreError error;
        auto store = open_sqlite_station_store(path_, StoreAccess::station, &error);
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

TEST_F(StationStore, CountersStartRiseOnlyAndSkipIdsTheRecordsHold) {
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

TEST_F(StationStore, BindsOneIdPerUnitAndTellsWhoHoldsAnId) {
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

TEST_F(StationStore, ListsEveryIdWithItsStateSourceStationAndTimes) {
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
        {"every ID, in the order reserved",
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
        EXPECT_EQ(listed, c.listed) << c.name;
        // Each change has its time, and only the changes made.
        for (const IdHolder& h : holders) {
            EXPECT_FALSE(h.reserved_at.empty()) << h.id;
            EXPECT_EQ(h.bound_at.has_value(), h.state != IdState::reserved) << h.id;
            EXPECT_EQ(h.spent_at.has_value(), h.state == IdState::spent) << h.id;
        }
    }
}

TEST_F(StationStore, ARowIsBegunThenCompletedAndReadBackWhole) {
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

std::string journal_mode(const std::string& path) {
    sqlite3* db = nullptr;
    std::string mode;
    sqlite3_stmt* query = nullptr;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
        mode = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return mode;
}

TEST_F(StationStore, EachUnitGetsTheIdTheRecipeAndTheRecordsGiveIt) {
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
        fs::remove(path_);
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

// A later step a test makes up: a table the older file does not have.
constexpr SchemaStep LATER_STEP{"CREATE TABLE later (x INTEGER);"};

TEST_F(StationStore, UpgradesOldFilesReadsThemAsTheyAreAndRefusesOnesItDoesNotKnow) {
    const auto now = station_schema();
    const std::span<const SchemaStep> previous = now.first(now.size() - 1);
    std::vector<SchemaStep> later(now.begin(), now.end());
    later.push_back(LATER_STEP);
    const int current = static_cast<int>(now.size());
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;  // the file before the open
        std::span<const SchemaStep> schema;
        StoreAccess access = StoreAccess::station;
        StoreFailure failure = StoreFailure::none;
        int version = 0;  // afterwards, when the open succeeds
        int rows = 0;     // what the file held before is still there
        // The sources of the IDs as read ("-": not known): an upgrade knows a scheme's.
        std::string sources = {};
    };
    const auto sql = [](std::string statements) {
        return [statements](const std::string& path) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        };
    };
    const auto at_now = [this](const std::string& path) {
        StoreError error;
        auto store = open_sqlite_station_store(path, StoreAccess::station, &error);
        ASSERT_TRUE(store) << error.message;
        ASSERT_TRUE(store->begin_run(a_start("old", 5)).ok());
    };
    // A file as the previous version of vrk left it, with one completed row in it.
    const auto at_previous = [&](const std::string& path) {
        StoreError error;
        SqliteStoreSettings settings;
        settings.schema = previous;
        ASSERT_TRUE(open_sqlite_station_store(path, StoreAccess::station, &error, settings))
            << error.message;
        sql("INSERT INTO runs (run_key, started_at, host, operator, port, serial_number, image, "
            "image_sha256, tool_version, result, exit_code, message, duration_ms) VALUES ('old', "
            "'2025-03-01T10:00:00.000Z', 'st', '', 'p', 5, 'i', 'h', '1', 'success', 0, '', 9);"
            "INSERT INTO ids (id, state, serial_number, scheme, reserved_at) VALUES "
            "('K001', 'bound', 5, 'K{:03}', '2025-03-01T10:00:01.000Z'), "
            "('FIX', 'spent', 6, '', '2025-03-01T10:00:02.000Z')")(path);
    };
    const std::string newer = "PRAGMA application_id=1448233811; PRAGMA user_version=99;";
    const Case cases[] = {
        {"no file yet", [](const std::string&) {}, now, StoreAccess::station, StoreFailure::none,
         current},
        {"an empty file", [](const std::string& p) { std::ofstream{p}; }, now, StoreAccess::station,
         StoreFailure::none, current},
        {"the previous version brought up", at_previous, now, StoreAccess::station,
         StoreFailure::none, current, 1, "scheme -"},
        {"this version as it is", at_now, now, StoreAccess::station, StoreFailure::none, current,
         1},
        {"this version brought up to a later one", at_now, later, StoreAccess::station,
         StoreFailure::none, current + 1, 1},
        {"the previous version exported as it is", at_previous, now, StoreAccess::export_only,
         StoreFailure::none, current - 1, 1, "- -"},
        {"this version exported by a later vrk", at_now, later, StoreAccess::export_only,
         StoreFailure::none, current, 1},
        {"another program's database", sql("CREATE TABLE theirs (a);"), now, StoreAccess::station,
         StoreFailure::not_a_database},
        {"another program's version", sql("PRAGMA user_version=1;"), now, StoreAccess::station,
         StoreFailure::not_a_database},
        {"a newer vrk's", sql(newer), now, StoreAccess::station, StoreFailure::other_version},
        {"exported by an older vrk than wrote it", sql(newer), now, StoreAccess::export_only,
         StoreFailure::other_version},
    };
    for (const Case& c : cases) {
        fs::remove(path_);
        c.make(path_);
        StoreError error;
        SqliteStoreSettings settings;
        settings.schema = c.schema;
        auto store = open_sqlite_station_store(path_, c.access, &error, settings);
        EXPECT_EQ(error.failure, c.failure) << c.name << ": " << error.message;
        if (c.failure != StoreFailure::none) {
            EXPECT_FALSE(store) << c.name;
            EXPECT_NE(error.message.find(path_), std::string::npos) << c.name;
            if (c.access == StoreAccess::station) {
                EXPECT_EQ(journal_mode(path_), "delete") << c.name << ": the file was changed";
            }
            continue;
        }
        ASSERT_TRUE(store) << c.name;
        // Every reader reads every column, whatever the file's version recorded.
        std::vector<RunRecord> read;
        ASSERT_TRUE(store->for_each_run({}, [&](const RunRecord& r) { read.push_back(r); }).ok())
            << c.name;
        ASSERT_EQ(read.size(), static_cast<std::size_t>(c.rows)) << c.name;
        // A row of the previous version has no work order; it reads as not known.
        if (!read.empty()) {
            EXPECT_EQ(read[0].start.lot.has_value(), c.name.find("previous") == std::string::npos)
                << c.name;
        }
        std::string sources;
        ASSERT_TRUE(store
                        ->for_each_id({},
                                      [&](const IdHolder& h) {
                                          if (!sources.empty()) sources += ' ';
                                          sources += h.source ? id_source_name(*h.source) : "-";
                                      })
                        .ok())
            << c.name;
        EXPECT_EQ(sources, c.sources) << c.name;
        store.reset();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* query = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &query, nullptr);
        ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(query, 0), c.version) << c.name;
        sqlite3_finalize(query);
        sqlite3_close(db);
    }
}

TEST_F(StationStore, ADatabaseThatCannotBeUsedIsRefusedWithWhy) {
    struct Case {
        std::string name;
        std::function<std::string(const fs::path&)> make;  // returns the path to open
        StoreAccess access;
        int write_error = 0;
        bool read_only = false;
        StoreFailure failure;
        std::string message;
    };
    const auto file = [](std::string name, std::string content) {
        return [=](const fs::path& dir) {
            std::ofstream(dir / name, std::ios::binary) << content;
            return (dir / name).string();
        };
    };
    const auto fresh = [](const fs::path& dir) { return (dir / "new.db").string(); };
    const auto made = [](const fs::path& dir) {
        const std::string path = (dir / "made.db").string();
        StoreError error;
        EXPECT_TRUE(open_sqlite_station_store(path, StoreAccess::station, &error));
        return path;
    };
    const Case cases[] = {
        {"not a database", file("garbage.db", std::string(4096, 'x')), StoreAccess::station, 0,
         false, StoreFailure::not_a_database, "is not a database"},
        {"a folder", [](const fs::path& dir) { return dir.string(); }, StoreAccess::station, 0,
         false, StoreFailure::cannot_open, "cannot be opened"},
        {"a missing folder", [](const fs::path& dir) { return (dir / "no" / "x.db").string(); },
         StoreAccess::station, 0, false, StoreFailure::cannot_open, "does not exist"},
        {"export of a missing file", fresh, StoreAccess::export_only, 0, false,
         StoreFailure::cannot_open, "does not exist"},
        {"export of an empty file", file("empty.db", ""), StoreAccess::export_only, 0, false,
         StoreFailure::not_a_database, "is not a station database"},
        {"read-only", made, StoreAccess::station, 0, true, StoreFailure::read_only, "read-only"},
        {"a full disk", fresh, StoreAccess::station, SQLITE_FULL, false, StoreFailure::disk_full,
         "the disk is full"},
        {"a failing disk", fresh, StoreAccess::station, SQLITE_IOERR_WRITE, false,
         StoreFailure::io_error, "input/output error"},
    };
    for (const Case& c : cases) {
        const std::string path = c.make(dir_);
        failing_vfs_faults().write_error = c.write_error;
        failing_vfs_faults().read_only = c.read_only;
        StoreError error;
        SqliteStoreSettings settings;
        settings.vfs = failing_vfs();
        auto store = open_sqlite_station_store(path, c.access, &error, settings);
        failing_vfs_faults().write_error = 0;
        failing_vfs_faults().read_only = false;
        EXPECT_FALSE(store) << c.name;
        EXPECT_EQ(error.failure, c.failure) << c.name << ": " << error.message;
        EXPECT_NE(error.message.find(c.message), std::string::npos)
            << c.name << ": " << error.message;
        EXPECT_EQ(error.message.rfind("the station database " + path, 0), 0u) << error.message;
    }
    // An export of a read-only copy works.
    path_ = made(dir_);
    failing_vfs_faults().read_only = true;
    EXPECT_TRUE(open(StoreAccess::export_only));
    // And of one where no file can be made beside it (a read-only or full medium): its
    // write-ahead log is read without the shared-memory file.
    failing_vfs_faults().no_side_files = true;
    failing_vfs_faults().system_errno = EROFS;
    {
        SqliteStoreSettings settings;
        settings.vfs = failing_vfs();
        StoreError error;
        EXPECT_FALSE(open_sqlite_station_store(path_, StoreAccess::station, &error, settings));
        EXPECT_NE(error.message.find("its file system is mounted read-only"), std::string::npos)
            << error.message;
        auto store = open(StoreAccess::export_only);
        ASSERT_TRUE(store);
        EXPECT_TRUE(store->for_each_run({}, [](const RunRecord&) {}).ok());
        EXPECT_EQ(store->reading_note(), "");
    }
}

TEST_F(StationStore, AFailedWriteChangesNothingAndSaysWhy) {
    auto store = open();
    ASSERT_TRUE(store->begin_run(a_start("kept", 1)).ok());
    const IdScheme s = scheme("F{:03}");
    struct Case {
        std::string name;
        std::function<StoreError()> write;
    };
    const Case cases[] = {
        {"begin a row", [&] { return store->begin_run(a_start("lost", 2)); }},
        {"complete a row",
         [&] {
             RunEnd end;
             end.run_key = "kept";
             end.result = "success";
             return store->complete_run(end);
         }},
        {"reserve", [&] { return store->reserve_next(s, std::nullopt, {3, "r"}).error; }},
        {"claim", [&] { return store->claim("FIX", IdSource::fixed, {3, "r"}).error; }},
    };
    for (const Case& c : cases) {
        failing_vfs_faults().write_error = SQLITE_FULL;
        const StoreError error = c.write();
        failing_vfs_faults().write_error = 0;
        EXPECT_EQ(error.failure, StoreFailure::disk_full) << c.name << ": " << error.message;
    }
    std::vector<RunRecord> rows;
    ASSERT_TRUE(store->for_each_run({}, [&](const RunRecord& r) { rows.push_back(r); }).ok());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(rows[0].end);  // still incomplete: never to be shown as passed
    EXPECT_FALSE(store->id_holder("FIX").value);
    // Nothing was reserved, so nothing was sent: the counter gives the same ID now.
    EXPECT_EQ(store->reserve_next(s, std::nullopt, {3, "r"}).value.id, "F001");
}

TEST_F(StationStore, WaitsForAnotherProgramOnlyUpToItsTimeLimit) {
    SqliteStoreSettings settings;
    settings.busy_timeout_ms = 200;
    auto store = open(StoreAccess::station, settings);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const StoreError held = store->reserve_next(scheme("W{}"), std::nullopt, {1, "r"}).error;
    EXPECT_EQ(held.failure, StoreFailure::busy) << held.message;
    EXPECT_NE(held.message.find("another program"), std::string::npos);
    // Reading goes on while another writes.
    EXPECT_TRUE(store->bound_id(1).ok());
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(store->reserve_next(scheme("W{}"), std::nullopt, {1, "r"}).value.id, "W1");
}

}  // namespace
}  // namespace vrk::test
