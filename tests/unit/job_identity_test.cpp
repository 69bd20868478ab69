// A unit's identity is believed only once two consecutive reports of its ID and of its version
// agree: on a noisy line a garbled report would otherwise be shown, recorded and numbered as
// the unit's.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/unit_identity.h"
#include "tests/support/job_rig.h"

namespace vrk::cli {
namespace {

// One moment of an agreement: time passes to `at`, a report may come, and the agreement is
// asked whether to ask the unit again.
struct Moment {
    std::uint32_t at = 0;
    std::optional<std::string> report;
    bool asks = false;  // what ask() says at that moment
};

struct AgreementCase {
    std::string name;
    std::uint32_t time_limit_ms = 0;
    std::uint32_t first_answer_ms = 0;
    std::vector<Moment> moments;
    Agreement state;
    std::optional<std::string> value = std::nullopt;
};

TEST(ReportAgreement, AsksUntilTwoConsecutiveReportsAgree) {
    const std::vector<AgreementCase> table = {
        {"the probe's report and one more that says the same",
         0,
         0,
         {{0, "L1", true}, {20, "L1", false}},
         Agreement::agreed,
         "L1"},
        {"a garbled report is outvoted by the next two",
         0,
         0,
         {{0, "LX", true}, {20, "L1", true}, {40, "L1", false}},
         Agreement::agreed,
         "L1"},
        {"reports that never agree end after five",
         0,
         0,
         {{0, "A", true}, {20, "B", true}, {40, "C", true}, {60, "D", true}, {80, "E", false}},
         Agreement::failed},
        {"an asking unanswered counts as an attempt, and is asked again after 1.5 s",
         0,
         0,
         {{0, "L1", true},
          {1500, std::nullopt, false},
          {1501, std::nullopt, true},
          {1510, "L1", false}},
         Agreement::agreed,
         "L1"},
        {"a unit that stops answering is given up after five attempts",
         0,
         0,
         {{0, "L1", true},
          {1501, std::nullopt, true},
          {3002, std::nullopt, true},
          {4503, std::nullopt, true},
          {6004, std::nullopt, false}},
         Agreement::failed},
        {"the time limit ends it before the attempts are spent",
         1000,
         0,
         {{0, "L1", true}, {400, "L2", true}, {1001, std::nullopt, false}},
         Agreement::failed},
        {"a request on its way (an ID set) waits for its answer as long as asked",
         0,
         5000,
         {{0, std::nullopt, false}, {4999, "L7", true}, {5010, "L7", false}},
         Agreement::agreed,
         "L7"},
        {"its answer not come: asked for with a query",
         0,
         5000,
         {{5001, std::nullopt, true}, {5010, "L7", true}, {5020, "L7", false}},
         Agreement::agreed,
         "L7"},
    };
    for (const auto& c : table) {
        ReportAgreement<std::string> agreement;
        agreement.start(0, c.time_limit_ms, c.first_answer_ms);
        for (const Moment& m : c.moments) {
            if (m.report) agreement.report(*m.report);
            EXPECT_EQ(agreement.ask(m.at), m.asks) << c.name << " at " << m.at;
        }
        EXPECT_EQ(agreement.state(), c.state) << c.name;
        if (c.value) {
            EXPECT_EQ(agreement.value(), c.value) << c.name;
        }
        EXPECT_LE(agreement.attempts(), AGREEMENT_ATTEMPTS) << c.name;
    }
}

TEST(ReportAgreement, VersionReportsAgreeInEveryFieldTheUnitSent) {
    const VersionFacts base{0x28, 215, 70012, 14745600, "2.15", "2 Meg", "14.7456 MHz"};
    struct Row {
        const char* change;
        VersionFacts other;
        bool same;
    };
    std::vector<Row> table = {{"nothing", base, true}};
    VersionFacts v = base;
    v.serial_number = 70013;
    table.push_back({"serial number", v, false});
    v = base;
    v.version_hundredths = 216;
    table.push_back({"firmware version", v, false});
    v = base;
    v.flash_type_code = 0x2B;
    table.push_back({"flash type", v, false});
    v = base;
    v.crystal_hz = 16000000;
    table.push_back({"crystal", v, false});
    v = base;
    v.crystal_hz.reset();
    table.push_back({"the short report, without the crystal", v, false});
    for (const Row& row : table) EXPECT_EQ(base.same_report(row.other), row.same) << row.change;
}

// On a line that garbles one byte in a hundred, info never shows a unit as it is not: either
// its true identity and settings or, when its reports never agree, no identity at all.
TEST(IdentityOverNoise, InfoShowsTheTrueUnitOrNone) {
    constexpr int RUNS = 200;
    int shown = 0, unconfirmed = 0;
    std::uint64_t garbled = 0;
    for (int run = 0; run < RUNS; ++run) {
        test::JobRig rig;
        sim::UnitConfig unit = test::unit_with_serial(70100 + run);
        unit.corrupt = 0.01;
        unit.seed = static_cast<std::uint64_t>(run) + 1;
        unit.id = "L1000" + std::to_string(10 + run);
        rig.socket.plug_in(unit);
        const test::JobRun result = rig.run({"--json", "info"});
        garbled += rig.socket.unit()->stats().bytes_corrupted;
        const auto units = result.of("unit");
        if (units.empty()) {
            ++unconfirmed;
            EXPECT_NE(result.exit_code, 0) << run;
            continue;
        }
        ++shown;
        EXPECT_EQ(result.exit_code, 0) << run;
        EXPECT_EQ(units[0]["serial_number"], 70100 + run) << run;
        EXPECT_EQ(units[0]["id"], unit.id) << run;
        EXPECT_EQ(units[0]["version"], "2.15") << run;
        EXPECT_EQ(units[0]["crystal_hz"], 14745600) << run;
        EXPECT_EQ(units[0]["flash_type_code"], 0x28) << run;
        // The settings too, as the records keep them from before the unit is touched.
        EXPECT_EQ(units[0]["gps"]["code"], unit.gps_type) << run;
        EXPECT_EQ(units[0]["internal"]["code"], unit.internal_device) << run;
        EXPECT_EQ(units[0]["external"]["code"], unit.external_device) << run;
    }
    EXPECT_GT(garbled, 0u) << "the line garbled nothing: the case proves nothing";
    EXPECT_GT(shown, RUNS / 2);
    std::printf("%d units shown, %d not confirmed, %llu bytes garbled\n", shown, unconfirmed,
                static_cast<unsigned long long>(garbled));
}

}  // namespace
}  // namespace vrk::cli
