// The station's records in a real SQLite file in a temporary folder, where they are SQLite's
// own: the schema's upgrade, every way the file can be unusable, a failing medium and another
// program holding the file. What every store does alike is in tests/store.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/cli/station/sqlite_station_store.h"
#include "tests/support/failing_vfs.h"
#include "tests/support/station_samples.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace cli;

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
