// vrk program on one unit, as the station runs it, in virtual time: the recipe's steps over one
// link-up, the station's records (the row begun before the unit is touched and completed
// before it is shown passed, the ID reserved, bound or spent) and what the unit holds after.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/station/id_scheme.h"
#include "app/cli/station/station_store.h"
#include "platform/sha256.h"
#include "sim/demo_image.h"
#include "tests/support/failing_vfs.h"
#include "tests/support/job_rig.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

using Json = nlohmann::json;

constexpr std::size_t IMAGE_SIZE = 5000;
constexpr std::int32_t SERIAL = 70012;

// The common recipe: the image, IDs from L1{:05}, two settings and the application started.
std::vector<std::string> recipe(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--json", "program",    "app.vr4", "--set", "gps=SiRF",
                                     "--set",  "internal=9", "--then",  "run"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Something the test does when the job reaches a moment.
struct Act {
    std::optional<cli::RecipeStep> at_step;  // when this step starts; nullopt: at unit_found
    std::function<void(JobRig&)> act;
};

class Actor final : public cli::JobObserver {
  public:
    Actor(JobRig& rig, std::optional<Act> act) : rig_(rig), act_(std::move(act)) {}
    void unit_found(const cli::UnitIdentity&, std::uint32_t) override {
        if (act_ && !act_->at_step) act_->act(rig_);
    }
    void step_started(cli::RecipeStep step) override {
        if (act_ && act_->at_step == step) act_->act(rig_);
    }

  private:
    JobRig& rig_;
    std::optional<Act> act_;
};

struct ProgramCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(sim::UnitConfig&)> unit = {};
    std::function<void(cli::StationStore&)> before = {};  // what the records hold already
    std::optional<Act> act = std::nullopt;
    int exit_code = 0;
    std::string result = "success";
    // The row's steps (download, id, settings, then); nullopt: no completed row.
    std::optional<cli::RunSteps> steps = cli::RunSteps{"success", "success", "success", "success"};
    std::string unit_id = "L100001";  // what the unit holds after
    bool flashed = true;              // the unit's flash holds the image
    std::function<void(const JobRun&, JobRig&, cli::StationStore&)> also = {};
};

void PrintTo(const ProgramCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<cli::RunRecord> rows(cli::StationStore& store) {
    std::vector<cli::RunRecord> found;
    EXPECT_TRUE(store.for_each_run({}, [&](const cli::RunRecord& r) { found.push_back(r); }).ok());
    return found;
}

std::optional<cli::IdHolder> holder(cli::StationStore& store, const std::string& id) {
    const auto held = store.id_holder(id);
    EXPECT_TRUE(held.ok());
    return held.value;
}

bool received(const sim::UnitEnd& unit, std::uint8_t type, std::size_t length) {
    return has_message(unit.received_messages(), type, length);
}
constexpr std::uint8_t ERASE = 0x28, ID_MESSAGE = 0x0B, RUN_APPLICATION = 0x20;

const std::vector<ProgramCase>& cases() {
    static const std::vector<ProgramCase> table = {
        {.name = "whole_recipe_over_one_link_up",
         .args = recipe({"--id-format", "L1{:05}"}),
         .also =
             [](const JobRun& run, JobRig& rig, cli::StationStore& store) {
                 sim::UnitEnd& unit = *rig.socket.unit();
                 EXPECT_EQ(unit.gps_type(), 1);
                 EXPECT_EQ(unit.internal_device(), 9);
                 EXPECT_TRUE(received(unit, RUN_APPLICATION, 2));
                 EXPECT_EQ(run.of("link_up").size(), 1u);
                 const auto row = rows(store).at(0);
                 EXPECT_EQ(row.start.serial_number, SERIAL);
                 EXPECT_EQ(row.start.id_before, "VRK00042");
                 EXPECT_EQ(row.start.firmware_version, "2.15");
                 EXPECT_EQ(row.start.flash_type_code, 0x28);
                 EXPECT_EQ(row.start.settings_before, (cli::DeviceCodes{0, 1, 1}));
                 EXPECT_EQ(row.start.host, "station-test");
                 EXPECT_EQ(row.end->settings_after, (cli::DeviceCodes{1, 9, 1}));
                 EXPECT_EQ(holder(store, "L100001")->state, cli::IdState::bound);
                 // Reserved once the image is in place: after the download's events.
                 const auto at = [&](const std::string& event) {
                     for (std::size_t i = 0; i < run.objects.size(); ++i)
                         if (run.objects[i].value("event", "") == event) return i;
                     return run.objects.size();
                 };
                 EXPECT_LT(at("step"), at("id_reserved"));
                 EXPECT_EQ(run.of("id_reserved").at(0)["source"], "scheme");
             }},
        {.name = "a_unit_the_records_know_gets_its_id_back",
         .args = recipe({"--id-format", "L1{:05}"}),
         .before = [](cli::StationStore& s) { ASSERT_TRUE(s.bind("L100007", SERIAL).ok()); },
         .unit_id = "L100007",
         .also =
             [](const JobRun& run, JobRig&, cli::StationStore& store) {
                 EXPECT_FALSE(holder(store, "L100001")) << "no ID of the counter is used";
                 // Said so, with what the unit carried; nothing reserved for it.
                 const auto back = run.of("id_from_records");
                 ASSERT_EQ(back.size(), 1u);
                 EXPECT_EQ(back[0]["id"], "L100007");
                 EXPECT_EQ(back[0]["id_before"], "VRK00042");
                 EXPECT_TRUE(run.of("id_reserved").empty());
             }},
        {.name = "a_unit_numbered_by_another_station_keeps_its_id_unsent",
         .args = recipe({"--id-format", "L{station}{:05}", "--station-number", "1"}),
         .unit = [](sim::UnitConfig& u) { u.id = "L200042"; },
         .unit_id = "L200042",
         .also =
             [](const JobRun&, JobRig& rig, cli::StationStore& store) {
                 EXPECT_FALSE(received(*rig.socket.unit(), ID_MESSAGE, 10));
                 EXPECT_EQ(holder(store, "L200042")->state, cli::IdState::bound);
             }},
        {.name = "a_fixed_id", .args = recipe({"--id", "fix-1"}), .unit_id = "FIX-1"},
        {.name = "a_fixed_id_another_unit_holds_is_refused",
         .args = recipe({"--id", "FIX-2"}),
         .before = [](cli::StationStore& s) { ASSERT_TRUE(s.bind("FIX-2", 99).ok()); },
         .exit_code = 1,
         .result = "id_taken",
         .steps = cli::RunSteps{"skipped", "skipped", "skipped", "skipped"},
         .unit_id = "VRK00042",
         .flashed = false},
        {.name = "refused_by_the_flash_type_check",
         .args = {"--json", "program", "--recipe", "flash.toml", "--id-format", "L1{:05}"},
         .exit_code = 1,
         .result = "refused",
         .steps = cli::RunSteps{"skipped", "skipped", "not_asked", "not_asked"},
         .unit_id = "VRK00042",
         .flashed = false},
        {.name = "refused_by_the_version_check",
         .args = {"--json", "program", "--recipe", "version.toml"},
         .exit_code = 1,
         .result = "refused",
         .steps = cli::RunSteps{"skipped", "not_asked", "not_asked", "not_asked"},
         .unit_id = "VRK00042",
         .flashed = false},
        // No progress for 30 s: in virtual time, at once. No ID is reserved for a unit whose
        // download fails.
        {.name = "unit_stops_answering_mid_download",
         .args = recipe({"--id-format", "L1{:05}"}),
         .unit = [](sim::UnitConfig& u) { u.stop_after_pages = 8; },
         .exit_code = 1,
         .result = "not_responding",
         .steps = cli::RunSteps{"not_responding", "skipped", "skipped", "skipped"},
         .unit_id = "VRK00042",
         .flashed = false,
         .also =
             [](const JobRun& run, JobRig&, cli::StationStore& store) {
                 EXPECT_FALSE(holder(store, "L100001"));
                 EXPECT_TRUE(run.of("id_reserved").empty());
                 EXPECT_EQ(run.of("finished").at(0)["pages_done"], 8);
             }},
        // The set's answer held back: the unit is asked for its ID, and confirms it twice.
        {.name = "an_id_set_left_unanswered_is_asked_for",
         .args = recipe({"--id-format", "L1{:05}"}),
         .unit = [](sim::UnitConfig& u) { u.no_id_reply = true; }},
        {.name = "an_id_never_confirmed_stays_with_its_unit",
         .args = recipe({"--id-format", "L1{:05}"}),
         .act = Act{cli::RecipeStep::id, [](JobRig& rig) { rig.socket.unit()->set_silent(true); }},
         .exit_code = 1,
         .result = "not_confirmed",
         .steps = cli::RunSteps{"success", "not_confirmed", "skipped", "skipped"},
         .unit_id = "VRK00042",
         .also =
             [](const JobRun&, JobRig&, cli::StationStore& store) {
                 EXPECT_EQ(holder(store, "L100001")->state, cli::IdState::reserved);
                 EXPECT_EQ(holder(store, "L100001")->serial_number, SERIAL);
             }},
        {.name = "an_exhausted_scheme_stops_before_the_unit",
         .args = recipe({"--id-format", "ABCDEFG{}", "--id-start", "9"}),
         .before =
             [](cli::StationStore& s) {
                 std::string error;
                 const auto scheme = cli::IdScheme::parse("ABCDEFG{}", std::nullopt, &error);
                 ASSERT_TRUE(s.reserve_next(*scheme, 9, {SERIAL + 1, "earlier"}).ok());
             },
         .exit_code = 2,
         .result = "ids_exhausted",
         .steps = cli::RunSteps{"skipped", "skipped", "skipped", "skipped"},
         .unit_id = "VRK00042",
         .flashed = false},
        // Another station took the last ID while this unit downloaded: its image stays, no ID
        // is set, and its row says why.
        {.name = "the_last_id_taken_during_the_download",
         .args = recipe({"--id-format", "ABCDEFG{}", "--id-start", "9"}),
         .act = Act{cli::RecipeStep::download,
                    [](JobRig& rig) {
                        cli::StoreError error;
                        auto other =
                            cli::open_station_store(rig.db_path, cli::StoreAccess::station, &error);
                        ASSERT_TRUE(other) << error.message;
                        std::string bad;
                        const auto scheme = cli::IdScheme::parse("ABCDEFG{}", std::nullopt, &bad);
                        ASSERT_EQ(other->reserve_next(*scheme, 9, {SERIAL + 1, "other"}).value.id,
                                  "ABCDEFG9");
                    }},
         .exit_code = 2,
         .result = "ids_exhausted",
         .steps = cli::RunSteps{"success", "ids_exhausted", "skipped", "skipped"},
         .unit_id = "VRK00042"},
        // 98 of ABCDEF1..ABCDEF99 used: the scheme says so before the unit takes the last.
        {.name = "a_scheme_near_its_end_says_so",
         .args = recipe({"--id-format", "ABCDEF{}"}),
         .before =
             [](cli::StationStore& s) {
                 std::string error;
                 const auto scheme = cli::IdScheme::parse("ABCDEF{}", std::nullopt, &error);
                 ASSERT_TRUE(s.reserve_next(*scheme, 98, {SERIAL + 1, "earlier"}).ok());
             },
         .unit_id = "ABCDEF99",
         .also =
             [](const JobRun& run, JobRig&, cli::StationStore&) {
                 ASSERT_EQ(run.of("ids_running_out").size(), 1u);
                 EXPECT_EQ(run.of("ids_running_out")[0]["left"], 1);
                 EXPECT_EQ(run.of("ids_running_out")[0]["scheme"], "ABCDEF{}");
             }},
        {.name = "the_row_cannot_be_begun",
         .args = recipe({"--id-format", "L1{:05}"}),
         .act = Act{std::nullopt, [](JobRig&) { failing_vfs_faults().write_error = SQLITE_FULL; }},
         .exit_code = 5,
         .result = "database_unusable",
         .steps = std::nullopt,
         .unit_id = "VRK00042",
         .flashed = false,
         .also =
             [](const JobRun& run, JobRig& rig, cli::StationStore& store) {
                 EXPECT_TRUE(rows(store).empty());
                 EXPECT_FALSE(received(*rig.socket.unit(), ERASE, 2));
                 EXPECT_NE(run.err.find("station.db"), std::string::npos) << run.err;
             }},
        // Everything done to the unit, but its row cannot be completed: never shown passed.
        {.name = "the_row_cannot_be_completed",
         .args = recipe({"--id-format", "L1{:05}"}),
         .act = Act{cli::RecipeStep::then,
                    [](JobRig&) { failing_vfs_faults().write_error = SQLITE_IOERR_WRITE; }},
         .exit_code = 5,
         .result = "database_unusable",
         .steps = std::nullopt,
         .also =
             [](const JobRun& run, JobRig&, cli::StationStore& store) {
                 ASSERT_EQ(rows(store).size(), 1u);
                 EXPECT_FALSE(rows(store)[0].end) << "begun, never completed";
                 EXPECT_EQ(run.of("finished").at(0)["ok"], false);
             }},
        {.name = "the_image_changed_on_the_disk",
         .args = recipe({"--id-format", "L1{:05}"}),
         .act =
             Act{std::nullopt,
                 [](JobRig& rig) { rig.files.files["app.vr4"] = sim::make_demo_image(4000, 9); }},
         .exit_code = 4,
         .result = "image_changed",
         .steps = cli::RunSteps{"image_changed", "skipped", "skipped", "skipped"},
         .unit_id = "VRK00042",
         .flashed = false,
         .also = [](const JobRun&, JobRig& rig,
                    cli::StationStore&) { EXPECT_FALSE(received(*rig.socket.unit(), ERASE, 2)); }},
    };
    return table;
}

class JobProgram : public ::testing::TestWithParam<ProgramCase> {
  protected:
    void TearDown() override { failing_vfs_faults().clear(); }
};

TEST_P(JobProgram, Runs) {
    const ProgramCase& c = GetParam();
    JobRig rig;
    const Bytes image = sim::make_demo_image(IMAGE_SIZE, 3);
    rig.files.files["app.vr4"] = image;
    const auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    rig.files.files["flash.toml"] = text("image = \"app.vr4\"\n[checks]\nflash_type = 43\n");
    rig.files.files["version.toml"] =
        text("image = \"app.vr4\"\n[checks]\nmin_version = \"2.16\"\n");
    if (c.before) {
        cli::StoreError error;
        auto store = cli::open_station_store(rig.db_path, cli::StoreAccess::station, &error);
        ASSERT_TRUE(store) << error.message;
        c.before(*store);
    }
    sim::UnitConfig config = unit_with_serial(SERIAL);
    if (c.unit) c.unit(config);
    rig.socket.plug_in(config);

    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--db", rig.db_path});
    Actor actor(rig, c.act);
    const JobRun run = rig.run(args, &actor);
    failing_vfs_faults().write_error = 0;

    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    const auto finished = run.of("finished");
    ASSERT_EQ(finished.size(), 1u) << run.out;
    EXPECT_EQ(finished[0]["result"], c.result) << finished[0].dump();

    auto store = rig.records();
    ASSERT_TRUE(store);
    const auto records = rows(*store);
    if (c.steps) {
        ASSERT_EQ(records.size(), 1u);
        ASSERT_TRUE(records[0].end);
        EXPECT_EQ(records[0].end->steps, *c.steps);
        EXPECT_EQ(records[0].end->result, c.result);
        EXPECT_EQ(records[0].end->exit_code, c.exit_code);
        EXPECT_EQ(records[0].end->id_after, c.unit_id);
        EXPECT_EQ(records[0].start.image_sha256, platform::sha256_hex(image));
    }
    sim::UnitEnd& unit = *rig.socket.unit();
    EXPECT_EQ(unit.unit_id(), c.unit_id);
    const Bytes flash = unit.flash_copy(IMAGE_SIZE);
    EXPECT_EQ(flash == image, c.flashed);
    if (c.also) c.also(run, rig, *store);
}

INSTANTIATE_TEST_SUITE_P(Recipes, JobProgram, ::testing::ValuesIn(cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
