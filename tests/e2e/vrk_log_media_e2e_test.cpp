// The station's records on media that cannot be written, with the real vrk and real mounts: a
// copy on a file system mounted read-only, one on a full file system, and one taken while a
// station was writing (its write-ahead log never copied into the file) on a read-only file
// system. vrk log exports every row from each; vrk program names what stands in its way. The
// mounts need root (as the test command runs); elsewhere the cases are skipped, and the
// fault-injecting SQLite layer of the unit tests covers the same faults.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/subprocess.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Writes `count` finished rows into the records through `store`.
void add_rows(cli::StationStore& store, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        cli::RunStart start;
        start.run_key = "key" + std::to_string(i);
        start.started_at = "2025-03-01T10:00:0" + std::to_string(i) + ".000Z";
        start.host = "st";
        start.port = "/dev/ttyUSB0";
        start.serial_number = 70000 + i;
        start.image = "app.vr4";
        start.image_sha256 = std::string(64, '0');
        start.tool_version = "42.15";
        ASSERT_TRUE(store.begin_run(start).ok());
        cli::RunEnd end;
        end.run_key = start.run_key;
        end.result = "success";
        ASSERT_TRUE(store.complete_run(end).ok());
    }
}

std::unique_ptr<cli::StationStore> open_records(const std::string& path) {
    cli::StoreError error;
    auto store = cli::open_station_store(path, cli::StoreAccess::station, &error);
    EXPECT_TRUE(store) << error.message;
    return store;
}

struct MediumCase {
    std::string name;
    // Puts station.db (and what goes with it) into the mounted folder `medium`; true when the
    // file system is then mounted read-only.
    std::function<bool(const fs::path& here, const fs::path& medium)> place;
    int rows = 2;
    std::string program_error;  // what vrk program says of the database there
};

void PrintTo(const MediumCase& c, std::ostream* out) {
    *out << c.name;
}

const std::vector<MediumCase>& media() {
    static const std::vector<MediumCase> table = {
        {"a_copy_on_a_read_only_file_system",
         [](const fs::path& here, const fs::path& medium) {
             {
                 auto store = open_records((here / "station.db").string());
                 add_rows(*store, 0, 2);
             }
             fs::copy_file(here / "station.db", medium / "station.db");
             return true;
         },
         2, "its file system is mounted read-only"},
        {"a_database_on_a_full_file_system",
         [](const fs::path&, const fs::path& medium) {
             {
                 auto store = open_records((medium / "station.db").string());
                 add_rows(*store, 0, 2);
             }
             // The rest of the space taken, to the last block.
             std::ofstream fill(medium / "fill", std::ios::binary);
             const std::string block(4096, '\0');
             while (fill.write(block.data(), block.size())) {
             }
             return false;
         },
         2, "the disk is full"},
        // Taken while the station still had the file open: the last row is only in the log.
        {"an_unfinished_copy_with_its_log_on_a_read_only_file_system",
         [](const fs::path& here, const fs::path& medium) {
             auto store = open_records((here / "station.db").string());
             add_rows(*store, 0, 3);
             EXPECT_TRUE(fs::exists(here / "station.db-wal"));
             fs::copy_file(here / "station.db", medium / "station.db");
             fs::copy_file(here / "station.db-wal", medium / "station.db-wal");
             return true;
         },
         3, "its file system is mounted read-only"},
    };
    return table;
}

class VrkLogMedia : public ::testing::TestWithParam<MediumCase> {
  protected:
    void SetUp() override {
        folder_.enter("vrk-media", GetParam().name);
        medium_ = folder_.path() / "medium";
        fs::create_directories(medium_);
        if (::mount("tmpfs", medium_.c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "no tmpfs can be mounted here (root is needed)";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            EXPECT_EQ(::umount(medium_.c_str()), 0);
        }
        folder_.leave();
    }

    WorkingFolder folder_;
    fs::path medium_;
    bool mounted_ = false;
};

TEST_P(VrkLogMedia, ExportsEveryRow) {
    const MediumCase& c = GetParam();
    std::ofstream("app.vr4", std::ios::binary) << std::string(3000, 'A');
    if (c.place(folder_.path(), medium_)) {
        ASSERT_EQ(::mount("tmpfs", medium_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k"),
                  0);
    }
    const std::string db = (medium_ / "station.db").string();

    Subprocess log(VRK_PROGRAM, {"log", "--db", db});
    ASSERT_EQ(log.finish(60s), 0) << log.errors();
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.rows + 1)) << log.errors();
    EXPECT_EQ(lines.back().rfind("key" + std::to_string(c.rows - 1) + ",", 0), 0u);
    EXPECT_EQ(log.errors(), "");

    Subprocess program(VRK_PROGRAM, {"program", "app.vr4", "--port", "/dev/null", "--db", db});
    EXPECT_EQ(program.finish(60s), 5) << program.errors();
    EXPECT_NE(program.errors().find("the station database " + db +
                                    " cannot be written: " + c.program_error),
              std::string::npos)
        << program.errors();
}

INSTANTIATE_TEST_SUITE_P(Media, VrkLogMedia, ::testing::ValuesIn(media()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
