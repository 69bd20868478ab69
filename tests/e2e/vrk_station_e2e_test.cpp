// The station's commands as a production line's script runs them: the real vrk program against
// a real database file. A database or recipe that cannot be used ends the run with its exit
// code before any unit is touched (the simulated unit on the port hears nothing); vrk log
// exports what the records hold.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "sim/simulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/subprocess.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

struct StationCase {
    std::string name;
    std::vector<std::string> args;  // "{unit}" stands for the simulated unit's port
    int exit_code = 0;
    std::string error = {};  // a part of standard error
    std::function<void(const std::vector<std::string>&)> output = {};
};

void PrintTo(const StationCase& c, std::ostream* out) {
    *out << c.name;
}

// Two units in the records, made through the store as vrk program makes them.
void make_records(const std::string& path) {
    cli::StoreError error;
    auto store = cli::open_station_store(path, cli::StoreAccess::station, &error);
    ASSERT_TRUE(store) << error.message;
    for (int i = 0; i < 2; ++i) {
        cli::RunStart start;
        start.run_key = "key" + std::to_string(i);
        start.started_at = "2025-03-0" + std::to_string(i + 1) + "T10:00:00.000Z";
        start.host = "st";
        start.port = "/dev/ttyUSB" + std::to_string(i);
        start.serial_number = 70012 + i;
        start.image = "app.vr4";
        start.image_sha256 = std::string(64, '0');
        start.tool_version = "42.15";
        ASSERT_TRUE(store->begin_run(start).ok());
        cli::RunEnd end;
        end.run_key = start.run_key;
        end.id_after = "L10000" + std::to_string(i + 1);
        end.result = "success";
        end.steps = {"success", "success", "not_asked", "not_asked"};
        ASSERT_TRUE(store->complete_run(end).ok());
    }
}

const std::vector<StationCase>& cases() {
    static const std::vector<StationCase> table = {
        {.name = "program_with_a_file_that_is_not_a_database",
         .args = {"--json", "--port", "{unit}", "program", "app.vr4", "--db", "garbage.db"},
         .exit_code = 5,
         .error = "the station database garbage.db is not a database",
         .output =
             [](const std::vector<std::string>& lines) {
                 ASSERT_EQ(lines.size(), 1u);
                 const Json error = Json::parse(lines[0]);
                 EXPECT_EQ(error["event"], "error");
                 EXPECT_EQ(error["result"], "database_unusable");
                 EXPECT_EQ(error["exit_code"], 5);
             }},
        {.name = "program_with_a_folder_as_database",
         .args = {"--port", "{unit}", "program", "app.vr4", "--db", "."},
         .exit_code = 5,
         .error = "the station database . cannot be opened"},
        {.name = "program_with_a_database_in_a_missing_folder",
         .args = {"--port", "{unit}", "program", "app.vr4", "--db", "no/such/station.db"},
         .exit_code = 5,
         .error = "does not exist"},
        {.name = "program_with_a_recipe_mistake",
         .args = {"--port", "{unit}", "program", "--recipe", "bad.toml", "--db", "new.db"},
         .exit_code = 2,
         .error = "bad.toml:2: unknown key 'colour'"},
        // A script that reads JSON gets its usage error as an object too.
        {.name = "a_usage_error_as_json",
         .args = {"--json", "--port", "{unit}", "program", "app.vr4", "--db", "new.db", "--then",
                  "reboot"},
         .exit_code = 2,
         .error = "--then expects run",
         .output =
             [](const std::vector<std::string>& lines) {
                 ASSERT_EQ(lines.size(), 1u);
                 const Json error = Json::parse(lines[0]);
                 EXPECT_EQ(error["schema"], 1);
                 EXPECT_EQ(error["event"], "error");
                 EXPECT_EQ(error["result"], "usage");
                 EXPECT_EQ(error["exit_code"], 2);
                 EXPECT_TRUE(error["port"].is_null());
             }},
        {.name = "log_of_a_missing_database",
         .args = {"log", "--db", "new.db"},
         .exit_code = 5,
         .error = "the station database new.db does not exist"},
        {.name = "log_of_a_file_that_is_not_a_database",
         .args = {"log", "--db", "garbage.db"},
         .exit_code = 5,
         .error = "is not a database"},
        {.name = "log_as_csv",
         .args = {"log", "--db", "records.db"},
         .output =
             [](const std::vector<std::string>& lines) {
                 ASSERT_EQ(lines.size(), 3u);
                 EXPECT_EQ(lines[0].rfind("run_key,started_at,host,", 0), 0u);
                 EXPECT_EQ(
                     lines[1].rfind("key0,2025-03-01T10:00:00.000Z,st,,,/dev/ttyUSB0,70012,", 0),
                     0u);
                 EXPECT_EQ(lines[2].rfind("key1,", 0), 0u);
             }},
        {.name = "log_as_json_lines_of_one_unit",
         .args = {"log", "--db", "records.db", "--format", "jsonl", "--serial", "70013"},
         .output =
             [](const std::vector<std::string>& lines) {
                 ASSERT_EQ(lines.size(), 1u);
                 const Json run = Json::parse(lines[0]);
                 EXPECT_EQ(run["run_key"], "key1");
                 EXPECT_EQ(run["id_after"], "L100002");
                 EXPECT_EQ(run["step_settings"], "not_asked");
                 EXPECT_TRUE(run["station_number"].is_null());
             }},
        {.name = "log_of_the_users_own_database",
         .args = {"log", "--id", "l100001"},
         .output =
             [](const std::vector<std::string>& lines) {
                 ASSERT_EQ(lines.size(), 2u);
                 EXPECT_EQ(lines[1].rfind("key0,", 0), 0u);
             }},
    };
    return table;
}

class VrkStation : public ::testing::TestWithParam<StationCase> {
  protected:
    void SetUp() override {
        folder_.enter("vrk-station", GetParam().name);
        // The user's own database, where vrk finds it without --db.
        ::setenv("XDG_DATA_HOME", (folder_.path() / "data").string().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        folder_.leave();
    }

    WorkingFolder folder_;
};

TEST_P(VrkStation, Runs) {
    const StationCase& c = GetParam();
    std::ofstream("app.vr4", std::ios::binary) << std::string(3000, 'A');
    std::ofstream("garbage.db", std::ios::binary) << std::string(8192, 'x');
    std::ofstream("bad.toml") << "image = \"app.vr4\"\ncolour = \"red\"\n";
    make_records((folder_.path() / "records.db").string());
    fs::create_directories(folder_.path() / "data" / "vrk");
    make_records((folder_.path() / "data" / "vrk" / "station.db").string());

    sim::Simulator unit{sim::UnitConfig{}};
    std::string error;
    ASSERT_TRUE(unit.start(&error)) << error;
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "{unit}" ? unit.device_path() : a);

    Subprocess vrk(VRK_PROGRAM, args);
    const std::optional<int> exit_code = vrk.finish(60s);
    ASSERT_TRUE(exit_code.has_value()) << vrk.errors();
    EXPECT_EQ(*exit_code, c.exit_code) << vrk.errors();
    if (!c.error.empty()) {
        EXPECT_NE(vrk.errors().find(c.error), std::string::npos) << vrk.errors();
    }
    if (c.output) c.output(vrk.lines());
    // Refused before the port: the unit heard nothing, and no database was made.
    EXPECT_TRUE(unit.received_messages().empty());
    EXPECT_FALSE(fs::exists("new.db"));
}

INSTANTIATE_TEST_SUITE_P(Commands, VrkStation, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
