// vrk log: the station's records as CSV and JSON Lines, every column, and the filters, read
// from a real SQLite file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/station/log_export.h"
#include "app/cli/station/sqlite_station_store.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace cli;

TEST(StationLog, CsvFieldsAreQuotedAsRfc4180Asks) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {" padded", "\" padded\""},
        {"\xD7\xA8\xD7\x91", "\xD7\xA8\xD7\x91"},
    };
    for (const auto& [text, field] : cases) EXPECT_EQ(csv_field(text), field) << text;
}

class StationLogExport : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vrk-log-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        StoreError error;
        store_ = open_sqlite_station_store((dir_ / "s.db").string(), StoreAccess::station, &error);
        ASSERT_TRUE(store_) << error.message;

        // Three units: a pass, a failure with a message that needs quoting, one never completed.
        RunStart s;
        s.run_key = "b2";
        s.started_at = "2025-03-01T10:00:00.000Z";
        s.host = "st1";
        s.station_number = 1;
        s.operator_name = "Dana";
        s.port = "/dev/ttyUSB0";
        s.serial_number = 70012;
        s.id_before = "VRK00042";
        s.firmware_version = "2.15";
        s.flash_type_code = 40;
        s.flash_type = "2 Meg";
        s.settings_before = {0, 1, 1};
        s.image = "app.vr4";
        s.image_sha256 = "ab";
        s.tool_version = "42.15";
        s.lot = "WO-7, \"b\"";
        ASSERT_TRUE(store_->begin_run(s).ok());
        RunEnd e;
        e.run_key = "b2";
        e.id_after = "L100001";
        e.settings_after = {3, 9, 1};
        e.steps = {"success", "success", "success", "success"};
        e.result = "success";
        e.message = "";
        e.duration_ms = 61000;
        ASSERT_TRUE(store_->complete_run(e).ok());

        s.run_key = "a1";
        s.started_at = "2025-03-02T08:00:00.000Z";
        s.serial_number = 70013;
        s.id_before = "l100002";
        s.lot = "WO-8";
        ASSERT_TRUE(store_->begin_run(s).ok());
        e.run_key = "a1";
        e.id_after = "l100002";
        e.steps = {"mismatch", "skipped", "skipped", "not_asked"};
        e.result = "mismatch";
        e.exit_code = 1;
        e.message = "page 3, \"verify\"";
        ASSERT_TRUE(store_->complete_run(e).ok());
        ASSERT_TRUE(store_->record_hook({"a1", "timed out", "waiting, for \"lp\"", "x"}).ok());

        s = RunStart{};
        s.run_key = "c3";
        s.started_at = "2025-03-02T09:00:00.000Z";
        s.host = "st1";
        s.port = "/dev/ttyUSB1";
        s.image = "app.vr4";
        s.image_sha256 = "ab";
        s.tool_version = "42.15";
        ASSERT_TRUE(store_->begin_run(s).ok());
    }
    void TearDown() override {
        store_.reset();
        fs::remove_all(dir_);
    }

    std::string exported(const RunFilter& filter, LogFormat format) {
        std::string out;
        const StoreError error =
            export_runs(*store_, filter, format, [&](std::string_view text) { out += text; });
        EXPECT_TRUE(error.ok()) << error.message;
        return out;
    }

    fs::path dir_;
    std::unique_ptr<cli::StationStore> store_;
};

TEST_F(StationLogExport, CsvHasAHeaderAndEveryColumn) {
    const std::string csv = exported({}, LogFormat::csv);
    EXPECT_EQ(csv,
              "run_key,started_at,host,station_number,operator,port,serial_number,id_before,"
              "id_after,firmware_version,flash_type_code,flash_type,gps_before,internal_before,"
              "external_before,gps_after,internal_after,external_after,image,image_sha256,"
              "step_download,step_id,step_settings,step_then,result,exit_code,message,"
              "duration_ms,tool_version,lot,hook,hook_message\r\n"
              "b2,2025-03-01T10:00:00.000Z,st1,1,Dana,/dev/ttyUSB0,70012,VRK00042,L100001,2.15,"
              "40,2 Meg,0,1,1,3,9,1,app.vr4,ab,success,success,success,success,success,0,,61000,"
              "42.15,\"WO-7, \"\"b\"\"\",,\r\n"
              "a1,2025-03-02T08:00:00.000Z,st1,1,Dana,/dev/ttyUSB0,70013,l100002,l100002,2.15,"
              "40,2 Meg,0,1,1,3,9,1,app.vr4,ab,mismatch,skipped,skipped,not_asked,mismatch,1,"
              "\"page 3, \"\"verify\"\"\",61000,42.15,WO-8,timed out,\"waiting, for \"\"lp\"\"\"\r\n"
              "c3,2025-03-02T09:00:00.000Z,st1,,,/dev/ttyUSB1,,,,,,,,,,,,,app.vr4,ab,,,,,,,,,"
              "42.15,,,\r\n");
}

TEST_F(StationLogExport, JsonLinesHaveTheSameNamesAndNullForWhatIsUnknown) {
    const std::string jsonl =
        exported({std::nullopt, std::nullopt, "c3", std::nullopt}, LogFormat::jsonl);
    EXPECT_EQ(jsonl, "");  // no ID matches a run key
    const std::string unfinished = exported(
        {"2025-03-02T08:30:00.000Z", std::nullopt, std::nullopt, std::nullopt}, LogFormat::jsonl);
    EXPECT_EQ(unfinished,
              "{\"run_key\":\"c3\",\"started_at\":\"2025-03-02T09:00:00.000Z\",\"host\":\"st1\","
              "\"station_number\":null,\"operator\":\"\",\"port\":\"/dev/ttyUSB1\","
              "\"serial_number\":null,\"id_before\":null,\"id_after\":null,"
              "\"firmware_version\":null,\"flash_type_code\":null,\"flash_type\":null,"
              "\"gps_before\":null,\"internal_before\":null,\"external_before\":null,"
              "\"gps_after\":null,\"internal_after\":null,\"external_after\":null,"
              "\"image\":\"app.vr4\",\"image_sha256\":\"ab\",\"step_download\":null,"
              "\"step_id\":null,\"step_settings\":null,\"step_then\":null,\"result\":null,"
              "\"exit_code\":null,\"message\":null,\"duration_ms\":null,"
              "\"tool_version\":\"42.15\",\"lot\":null,\"hook\":null,\"hook_message\":null}\n");
}

TEST_F(StationLogExport, FiltersChooseTheRowsOldestFirst) {
    struct Case {
        RunFilter filter;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {{}, {"b2", "a1", "c3"}},
        {{"2025-03-02T00:00:00.000Z", std::nullopt, std::nullopt, std::nullopt}, {"a1", "c3"}},
        {{"2025-03-02T08:00:00.000Z", std::nullopt, std::nullopt, std::nullopt}, {"a1", "c3"}},
        {{"2025-03-03T00:00:00.000Z", std::nullopt, std::nullopt, std::nullopt}, {}},
        {{std::nullopt, 70012, std::nullopt, std::nullopt}, {"b2"}},
        {{std::nullopt, std::nullopt, "L100001", std::nullopt}, {"b2"}},   // the ID after
        {{std::nullopt, std::nullopt, "VRK00042", std::nullopt}, {"b2"}},  // the ID before
        {{std::nullopt, std::nullopt, "L100002", std::nullopt}, {"a1"}},   // letters in any case
        {{std::nullopt, 70012, "L100002", std::nullopt}, {}},              // every condition holds
        {{std::nullopt, std::nullopt, std::nullopt, "WO-8"}, {"a1"}},
        {{std::nullopt, std::nullopt, std::nullopt, "wo-8"}, {}},  // a work order as written
    };
    for (const Case& c : cases) {
        std::vector<std::string> keys;
        const StoreError error = store_->for_each_run(
            c.filter, [&](const RunRecord& r) { keys.push_back(r.start.run_key); });
        EXPECT_TRUE(error.ok());
        EXPECT_EQ(keys, c.keys) << c.filter.since.value_or("-") << " "
                                << c.filter.serial_number.value_or(0) << " "
                                << c.filter.id.value_or("-");
    }
}

}  // namespace
}  // namespace vrk::test
