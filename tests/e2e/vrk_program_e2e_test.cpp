// vrk program as a production line runs it: the real program, several simulated units on
// pseudo-terminals (each with a serial number of its own), a real database file. Four units at
// once get the whole recipe; a vrk killed between reserving an ID and its confirmation gives no
// ID twice; two vrk processes on one database give distinct IDs; --repeat waits for a port that
// is not there yet.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/station/station_store.h"
#include "sim/demo_image.h"
#include "sim/simulator.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/subprocess.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr std::size_t IMAGE_SIZE = 20'000;
constexpr std::uint8_t RUN_APPLICATION = 0x20;

class VrkProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.enter("vrk-program",
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        image_ = sim::make_demo_image(IMAGE_SIZE, 5);
        std::ofstream("app.vr4", std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()),
                   static_cast<std::streamsize>(image_.size()));
    }
    void TearDown() override {
        units_.clear();
        folder_.leave();
    }

    // A unit with its own serial number and an application in its flash, reached through a
    // link of its own name ("u0", ...).
    // `flip_byte`: a flash that loses a bit of that byte after programming (a verify fails).
    sim::Simulator& add_unit(std::int32_t serial, bool no_id_reply = false,
                             std::optional<std::size_t> flip_byte = std::nullopt) {
        units_.push_back(nullptr);
        return swap_unit(units_.size() - 1, serial, no_id_reply, flip_byte);
    }
    // Another unit (or the same one, mended) on a port: the one there goes first.
    // `id`: the ID it carries.
    sim::Simulator& swap_unit(std::size_t index, std::int32_t serial, bool no_id_reply = false,
                              std::optional<std::size_t> flip_byte = std::nullopt,
                              const std::string& id = "VRK00042") {
        units_[index].reset();
        sim::UnitConfig config;
        config.serial_number = serial;
        config.id = id;
        config.previous_application = 65536;
        config.no_id_reply = no_id_reply;
        config.flip_byte = flip_byte;
        units_[index] = std::make_unique<sim::Simulator>(config);
        std::string error;
        EXPECT_TRUE(units_[index]->start(&error)) << error;
        EXPECT_TRUE(units_[index]->link_at(port(index), &error)) << error;
        return *units_[index];
    }
    [[nodiscard]] std::string port(std::size_t index) const {
        return (folder_.path() / ("u" + std::to_string(index))).string();
    }

    static std::vector<Json> objects(const Subprocess& vrk) {
        std::vector<Json> found;
        for (const std::string& line : vrk.lines()) {
            Json object = Json::parse(line, nullptr, false);
            EXPECT_FALSE(object.is_discarded()) << line;
            found.push_back(std::move(object));
        }
        return found;
    }
    static bool received(const sim::Simulator& unit, std::uint8_t type, std::size_t length) {
        return has_message(unit.received_messages(), type, length);
    }
    [[nodiscard]] bool flash_holds_image(const sim::Simulator& unit) const {
        return unit.flash_copy(image_.size()) == image_;
    }
    // Who holds each ID in the database.
    static std::map<std::string, cli::IdHolder> holders(const std::set<std::string>& ids) {
        std::map<std::string, cli::IdHolder> found;
        cli::StoreError error;
        auto store = cli::open_station_store("st.db", cli::StoreAccess::export_only, &error);
        EXPECT_TRUE(store) << error.message;
        if (!store) return found;
        for (const std::string& id : ids) {
            const auto held = store->id_holder(id);
            EXPECT_TRUE(held.ok());
            if (held.value) found[id] = *held.value;
        }
        return found;
    }

    WorkingFolder folder_;
    std::vector<std::uint8_t> image_;
    std::vector<std::unique_ptr<sim::Simulator>> units_;
};

std::vector<std::string> csv_fields(const std::string& line) {
    // The records hold no comma or quote here: a plain split.
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

TEST_F(VrkProgram, FourUnitsAtOnceGetTheWholeRecipeOverOneLinkUpEach) {
    std::vector<std::string> args = {"--json"};
    for (int i = 0; i < 4; ++i) {
        add_unit(81001 + i);
        args.insert(args.end(), {"--port", port(static_cast<std::size_t>(i))});
    }
    args.insert(args.end(), {"program", "app.vr4", "--db", "st.db", "--id-format", "L7{:05}",
                             "--station-number", "3", "--operator", "Dana", "--set", "gps=SiRF",
                             "--set", "internal=9", "--set", "external=SLIP", "--then", "run"});
    Subprocess vrk(VRK_PROGRAM, args);
    const auto code = vrk.finish(240s);
    ASSERT_TRUE(code.has_value()) << vrk.errors();
    EXPECT_EQ(*code, 0) << vrk.errors();

    const auto all = objects(vrk);
    const auto finished = of_event(all, "finished");
    ASSERT_EQ(finished.size(), 4u);
    std::set<std::string> ids;
    for (const Json& f : finished) {
        EXPECT_EQ(f["result"], "success") << f.dump();
        ids.insert(f["id_after"].get<std::string>());
    }
    EXPECT_EQ(ids, (std::set<std::string>{"L700001", "L700002", "L700003", "L700004"}));
    // One run and one link-up per unit.
    std::map<std::string, int> link_ups;
    for (const Json& up : of_event(all, "link_up")) ++link_ups[up["port"]];
    EXPECT_EQ(link_ups.size(), 4u);
    for (const auto& [p, n] : link_ups) EXPECT_EQ(n, 1) << p;

    for (std::size_t i = 0; i < units_.size(); ++i) {
        const sim::Simulator& unit = *units_[i];
        EXPECT_TRUE(flash_holds_image(unit)) << i;
        EXPECT_TRUE(ids.count(unit.unit_id())) << unit.unit_id();
        EXPECT_EQ(unit.gps_type(), 1) << i;
        EXPECT_EQ(unit.internal_device(), 9) << i;
        EXPECT_EQ(unit.external_device(), 11) << i;
        EXPECT_TRUE(received(unit, RUN_APPLICATION, 2)) << i;
    }

    Subprocess log(VRK_PROGRAM, {"log", "--db", "st.db", "--format", "csv"});
    ASSERT_EQ(log.finish(60s), 0) << log.errors();
    ASSERT_EQ(log.lines().size(), 5u);
    const auto header = csv_fields(log.lines()[0].substr(0, log.lines()[0].find('\r')));
    std::set<std::string> serials;
    for (std::size_t row = 1; row < log.lines().size(); ++row) {
        const std::string line = log.lines()[row].substr(0, log.lines()[row].find('\r'));
        const auto fields = csv_fields(line);
        ASSERT_EQ(fields.size(), header.size()) << line;
        // Every column of a completed run is filled, but what this run did not ask for: a work
        // order and a hook.
        const std::set<std::string> not_asked = {"lot", "hook", "hook_message"};
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (!not_asked.count(header[f])) {
                EXPECT_FALSE(fields[f].empty()) << header[f] << " in " << line;
            }
        }
        serials.insert(fields[6]);
    }
    EXPECT_EQ(serials.size(), 4u);
}

TEST_F(VrkProgram, AVrkKilledBetweenReserveAndConfirmGivesNoIdTwice) {
    // The unit takes the ID but holds back its answer: vrk waits for it, and is killed there.
    sim::Simulator& first = add_unit(82001, true);
    {
        Subprocess vrk(VRK_PROGRAM, {"--json", "--port", port(0), "program", "app.vr4", "--db",
                                     "st.db", "--id-format", "K{:05}"});
        ASSERT_TRUE(vrk.wait_for_line(
            [](const std::string& line) {
                return line.find("\"event\":\"id_reserved\"") != std::string::npos;
            },
            120s))
            << vrk.errors();
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (first.unit_id() != "K00001" && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_EQ(first.unit_id(), "K00001");
        vrk.kill();
    }

    // The next run: the unit killed on, and a new one beside it.
    sim::Simulator& second = add_unit(82002);
    Subprocess vrk(VRK_PROGRAM, {"--json", "--port", port(0), "--port", port(1), "program",
                                 "app.vr4", "--db", "st.db", "--id-format", "K{:05}"});
    const auto code = vrk.finish(240s);
    ASSERT_TRUE(code.has_value()) << vrk.errors();
    EXPECT_EQ(*code, 0) << vrk.errors();
    // The unit killed on keeps the ID reserved for it; the new one never gets it.
    EXPECT_EQ(first.unit_id(), "K00001");
    EXPECT_EQ(second.unit_id(), "K00002");
    const auto held = holders({first.unit_id(), second.unit_id(), "K00001", "K00002"});
    ASSERT_EQ(held.count(first.unit_id()), 1u);
    ASSERT_EQ(held.count(second.unit_id()), 1u);
    EXPECT_EQ(held.at(first.unit_id()).serial_number, 82001);
    EXPECT_EQ(held.at(first.unit_id()).state, cli::IdState::bound);
    EXPECT_EQ(held.at(second.unit_id()).serial_number, 82002);
    EXPECT_EQ(held.at(second.unit_id()).state, cli::IdState::bound);
    // Each ID the records hold belongs to one unit only.
    for (const auto& [id, holder] : held)
        EXPECT_TRUE(holder.serial_number == 82001 || holder.serial_number == 82002) << id;
}

TEST_F(VrkProgram, AUnitThatFailsTwiceSpendsNoIdAndIdsListsEveryIdWithItsSource) {
    add_unit(86001);
    struct Run {
        std::int32_t serial;
        std::optional<std::size_t> flip_byte;  // its verify fails
        std::string carried;
        std::vector<std::string> recipe;
        int exit_code;
        std::string id_after;
    };
    const std::vector<std::string> scheme = {"--id-format", "K{:05}"};
    const Run runs[] = {
        {86001, std::nullopt, "VRK00042", scheme, 0, "K00001"},
        {86002, 1000, "VRK00042", scheme, 1, "VRK00042"},
        {86002, 1000, "VRK00042", scheme, 1, "VRK00042"},
        {86002, std::nullopt, "VRK00042", scheme, 0, "K00002"},  // mended
        {86003, std::nullopt, "VRK00042", scheme, 0, "K00003"},
        {86004, std::nullopt, "VRK00042", {"--id", "FIX1"}, 0, "FIX1"},
        {86005, std::nullopt, "K00077", scheme, 0, "K00077"},  // numbered at another station
    };
    for (const Run& run : runs) {
        sim::Simulator& unit = swap_unit(0, run.serial, false, run.flip_byte, run.carried);
        std::vector<std::string> args = {"--port", port(0), "program", "app.vr4", "--db", "st.db",
                                          "--station-number", "3"};
        args.insert(args.end(), run.recipe.begin(), run.recipe.end());
        Subprocess vrk(VRK_PROGRAM, args);
        const auto code = vrk.finish(240s);
        ASSERT_TRUE(code.has_value()) << vrk.errors();
        EXPECT_EQ(*code, run.exit_code) << run.serial << ": " << vrk.errors();
        EXPECT_EQ(unit.unit_id(), run.id_after) << run.serial;
    }

    Subprocess ids(VRK_PROGRAM, {"ids", "--db", "st.db"});
    ASSERT_EQ(ids.finish(60s), 0) << ids.errors();
    std::vector<std::string> listed;
    for (const std::string& line : ids.lines()) {
        const auto f = csv_fields(line);
        ASSERT_GE(f.size(), 6u) << line;
        listed.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[4] + " " + f[5]);
    }
    const std::vector<std::string> expected = {
        "id state source serial_number station_number", "K00001 bound scheme 86001 3",
        "K00002 bound scheme 86002 3",                  "K00003 bound scheme 86003 3",
        "FIX1 bound fixed 86004 3",                     "K00077 bound carried 86005 3",
    };
    EXPECT_EQ(listed, expected);
}

TEST_F(VrkProgram, TwoVrkProcessesOnOneDatabaseGiveEightDistinctIds) {
    for (int i = 0; i < 8; ++i) add_unit(83001 + i);
    std::vector<std::unique_ptr<Subprocess>> runs;
    for (int half = 0; half < 2; ++half) {
        std::vector<std::string> args = {"--json"};
        for (int i = 0; i < 4; ++i)
            args.insert(args.end(), {"--port", port(static_cast<std::size_t>(half * 4 + i))});
        args.insert(args.end(), {"program", "app.vr4", "--no-verify", "--db", "st.db",
                                 "--id-format", "M{:05}"});
        runs.push_back(std::make_unique<Subprocess>(VRK_PROGRAM, args));
    }
    std::set<std::string> ids;
    for (auto& run : runs) {
        const auto code = run->finish(240s);
        ASSERT_TRUE(code.has_value()) << run->errors();
        EXPECT_EQ(*code, 0) << run->errors();
        for (const Json& f : of_event(objects(*run), "finished")) ids.insert(f["id_after"]);
    }
    EXPECT_EQ(ids.size(), 8u);
    std::set<std::string> in_units;
    for (const auto& unit : units_) in_units.insert(unit->unit_id());
    EXPECT_EQ(in_units, ids);
    const auto held = holders(ids);
    std::set<std::int32_t> serials;
    for (const auto& [id, holder] : held) {
        EXPECT_EQ(holder.state, cli::IdState::bound) << id;
        serials.insert(holder.serial_number);
    }
    EXPECT_EQ(serials.size(), 8u);
}

TEST_F(VrkProgram, AReportCountsAUnitThatFailedItsVerifyOnceAsPassedButNotFirstTime) {
    std::vector<std::string> args = {"--json"};
    for (int i = 0; i < 4; ++i) {
        add_unit(85001 + i, false, i == 2 ? std::optional<std::size_t>(1000) : std::nullopt);
        args.insert(args.end(), {"--port", port(static_cast<std::size_t>(i))});
    }
    args.insert(args.end(), {"program", "app.vr4", "--db", "st.db", "--lot", "WO-1"});
    Subprocess first(VRK_PROGRAM, args);
    const auto first_code = first.finish(240s);
    ASSERT_TRUE(first_code.has_value()) << first.errors();
    EXPECT_EQ(*first_code, 1) << first.errors();

    // The unit that failed, its flash mended, on its port again.
    swap_unit(2, 85003);
    Subprocess second(VRK_PROGRAM, {"--json", "--port", port(2), "program", "app.vr4", "--db",
                                    "st.db", "--lot", "WO-1"});
    const auto second_code = second.finish(240s);
    ASSERT_TRUE(second_code.has_value()) << second.errors();
    EXPECT_EQ(*second_code, 0) << second.errors();

    Subprocess json(VRK_PROGRAM, {"report", "--db", "st.db", "--lot", "WO-1", "--format", "json"});
    ASSERT_EQ(json.finish(60s), 0) << json.errors();
    ASSERT_EQ(json.lines().size(), 1u);
    const Json report = Json::parse(json.lines()[0]);
    const Json& totals = report["totals"];
    EXPECT_EQ(totals["units"], 4) << report.dump();
    EXPECT_EQ(totals["passed"], 4) << report.dump();
    EXPECT_EQ(totals["first_pass"]["units"], 4) << report.dump();
    EXPECT_EQ(totals["first_pass"]["passed"], 3) << report.dump();
    ASSERT_FALSE(totals["failures"].empty()) << report.dump();
    EXPECT_EQ(totals["failures"][0]["result"], "mismatch") << report.dump();
    EXPECT_EQ(totals["failed_steps"][0]["step"], "download") << report.dump();
    EXPECT_EQ(totals["durations"]["passed_runs"], 4) << report.dump();

    // A table, a row per port and the total.
    Subprocess table(VRK_PROGRAM, {"report", "--db", "st.db", "--by", "port"});
    ASSERT_EQ(table.finish(60s), 0) << table.errors();
    const auto& lines = table.lines();
    ASSERT_GE(lines.size(), 6u) << table.errors();
    EXPECT_EQ(lines[0].rfind("port ", 0), 0u) << lines[0];
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NE(lines[i + 1].find(port(i)), std::string::npos) << lines[i + 1];
    EXPECT_EQ(lines[5].rfind("total ", 0), 0u) << lines[5];
}

TEST_F(VrkProgram, RepeatFlashesTheUnitOfAPortAbsentAtStart) {
    Subprocess vrk(VRK_PROGRAM, {"--json", "--repeat", "--count", "1", "--port", port(0), "program",
                                 "app.vr4", "--db", "st.db", "--id-format", "R{:05}"});
    ASSERT_TRUE(vrk.wait_for_line(
        [](const std::string& line) {
            return line.find("\"event\":\"waiting\"") != std::string::npos &&
                   line.find("\"for\":\"port\"") != std::string::npos;
        },
        60s))
        << vrk.errors();
    // The unit's adapter is plugged in: its device name appears.
    const sim::Simulator& unit = add_unit(84001);
    const auto code = vrk.finish(240s);
    ASSERT_TRUE(code.has_value()) << vrk.errors();
    EXPECT_EQ(*code, 0) << vrk.errors();
    const auto finished = of_event(objects(vrk), "finished");
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0]["result"], "success");
    EXPECT_EQ(unit.unit_id(), "R00001");
    EXPECT_TRUE(flash_holds_image(unit));
}

}  // namespace
}  // namespace vrk::test
