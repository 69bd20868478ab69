// vrk report's numbers on one table of hand-made runs: passes, failures of several results, a
// unit that failed then passed, one reworked after its pass, a port lost, a run never
// completed, a run without a serial number, two work orders, two stations, runs on both sides
// of midnight. The table goes through the store interface only, so it runs against every
// store (one instantiation per store at the bottom): a station's SQLite file, and a line's
// database on the throw-away PostgreSQL cluster, whose server is told this machine's zone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/cli/station/report_output.h"
#include "app/cli/station/postgres_station_store.h"
#include "app/cli/station/sqlite_station_store.h"
#include "tests/support/pg_scratch.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace cli;

struct HandMadeRun {
    std::string key, started_at;
    std::uint32_t station;
    std::string port, operator_name, lot;
    std::optional<std::int32_t> serial;
    std::string result;  // empty: never completed
    RunSteps steps = {};
    std::uint32_t duration_ms = 0;
};

const RunSteps PASSED = {"success", "success", "success", "not_asked"};
RunSteps download_failed(std::string result) {
    return {std::move(result), "skipped", "skipped", "not_asked"};
}
const RunSteps NOTHING = {"skipped", "skipped", "skipped", "not_asked"};

// Station 1 (host st1) works lot A on 1 March; station 2 (st2) lot B around midnight UTC.
const std::vector<HandMadeRun>& runs() {
    static const std::vector<HandMadeRun> table = {
        {"r01", "2025-03-01T08:00:00.000Z", 1, "p0", "Dana", "A", 101, "success", PASSED, 60000},
        {"r02", "2025-03-01T08:01:00.000Z", 1, "p1", "Dana", "A", 102, "mismatch",
         download_failed("mismatch"), 30000},
        // 102 failed, then passed.
        {"r03", "2025-03-01T08:05:00.000Z", 1, "p1", "Dana", "A", 102, "success", PASSED, 62000},
        {"r04", "2025-03-01T09:00:00.000Z", 1, "p0", "Dana", "A", 103, "not_responding",
         download_failed("not_responding"), 9000},
        // The port went while 104 was on it: the station's fault; its next run is its first.
        {"r05", "2025-03-01T09:10:00.000Z", 1, "p0", "Dana", "A", 104, "port_lost",
         download_failed("port_lost"), 5000},
        {"r06", "2025-03-01T09:20:00.000Z", 1, "p0", "Dana", "A", 104, "success", PASSED, 64000},
        {"r07", "2025-03-01T23:50:00.000Z", 2, "p0", "Eli", "B", 201, "success", PASSED, 70000},
        // 101 passed at station 1 and is reworked at station 2, where its ID is not confirmed.
        {"r08",
         "2025-03-02T00:10:00.000Z",
         2,
         "p0",
         "Eli",
         "B",
         101,
         "not_confirmed",
         {"success", "not_confirmed", "skipped", "not_asked"},
         20000},
        {"r09", "2025-03-02T00:20:00.000Z", 2, "p1", "Eli", "B", 202, "mismatch",
         download_failed("mismatch"), 31000},
        {"r10", "2025-03-02T00:30:00.000Z", 2, "p1", "Eli", "B", 202, ""},
        {"r11", "2025-03-02T00:40:00.000Z", 2, "p0", "Eli", "B", 203, "success", PASSED, 80000},
        // Its reports never agreed: no serial number, a failure, no unit.
        {"r12", "2025-03-02T00:45:00.000Z", 2, "p0", "Eli", "B", std::nullopt,
         "identity_unconfirmed", NOTHING, 4000},
    };
    return table;
}

// The numbers a test looks at beside the Paretos.
struct Counts {
    std::int64_t units, passed, first_units, first_passed, failed, station, unfinished;
    friend bool operator==(const Counts&, const Counts&) = default;
};

Counts counts(const ReportNumbers& n) {
    return {n.units,       n.passed,       n.first_units, n.first_passed,
            n.failed_runs, n.station_runs, n.unfinished};
}

std::ostream& operator<<(std::ostream& out, const Counts& c) {
    return out << "units " << c.units << ", passed " << c.passed << ", first " << c.first_passed
               << "/" << c.first_units << ", failed " << c.failed << ", station " << c.station
               << ", unfinished " << c.unfinished;
}

// A new store in `folder`, or in a database of its own that `database` keeps until the test ends.
using StoreMaker = std::function<std::unique_ptr<cli::StationStore>(
    const fs::path& folder, std::unique_ptr<ScratchDatabase>& database)>;

struct StoreKind {
    std::string name;
    StoreMaker make;
};

void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

class StationReport : public ::testing::TestWithParam<StoreKind> {
  protected:
    void SetUp() override {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '-');
        folder_ =
            fs::temp_directory_path() / ("vrk-report-" + std::to_string(::getpid()) + "-" + test);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        store_ = GetParam().make(folder_, database_);
        ASSERT_TRUE(store_);
        for (const HandMadeRun& r : runs()) {
            RunStart s;
            s.run_key = r.key;
            s.started_at = r.started_at;
            s.host = "st" + std::to_string(r.station);
            s.station_number = r.station;
            s.operator_name = r.operator_name;
            s.port = r.port;
            s.serial_number = r.serial;
            s.image = "app.vr4";
            s.image_sha256 = std::string(64, 'a');
            s.tool_version = "1";
            s.lot = r.lot;
            ASSERT_TRUE(store_->begin_run(s).ok());
            if (r.result.empty()) continue;
            RunEnd e;
            e.run_key = r.key;
            e.steps = r.steps;
            e.result = r.result;
            e.exit_code = r.result == "success" ? 0 : 1;
            e.duration_ms = r.duration_ms;
            ASSERT_TRUE(store_->complete_run(e).ok());
        }
    }
    void TearDown() override {
        store_.reset();
        database_.reset();
        fs::remove_all(folder_);
    }

    Report report(const ReportQuery& query) {
        auto made = store_->report(query);
        EXPECT_TRUE(made.ok()) << made.error.message;
        return made.value;
    }

    fs::path folder_;
    std::unique_ptr<ScratchDatabase> database_;
    std::unique_ptr<cli::StationStore> store_;
};

TEST_P(StationReport, TotalsOfEveryRow) {
    ReportNumbers want;
    want.units = 7;   // 101, 102, 103, 104, 201, 202, 203
    want.passed = 4;  // 101's last run failed, 103 and 202 never passed
    want.first_units = 7;
    want.first_passed = 4;  // 101, 104 (after the port's loss), 201, 203
    want.failed_runs = 5;
    want.failures = {
        {"mismatch", 2}, {"identity_unconfirmed", 1}, {"not_confirmed", 1}, {"not_responding", 1}};
    want.failed_steps = {{"download", 3}, {"before_steps", 1}, {"id", 1}};
    want.station_runs = 1;
    want.station_reasons = {{"port_lost", 1}};
    want.unfinished = 1;
    want.passed_runs = 5;    // 60, 62, 64, 70, 80 s
    want.median_ms = 64000;  // rank 3 of 5
    want.p95_ms = 80000;     // rank 5 of 5
    want.longest_ms = 80000;
    const Report all = report({});
    EXPECT_EQ(all.totals, want);
    EXPECT_TRUE(all.groups.empty());
}

TEST_P(StationReport, FiltersChooseTheRowsAndFirstRunsCountOverTheWholeDatabase) {
    struct Case {
        std::string name;
        ReportQuery query;
        Counts want;
    };
    const auto q = [](auto set) {
        ReportQuery query;
        set(query);
        return query;
    };
    const Case cases[] = {
        // 101's pass in lot A is its last run there; its rework is lot B's.
        {"lot A", q([](ReportQuery& r) { r.lot = "A"; }), {4, 3, 4, 2, 2, 1, 0}},
        // 101's first run ever is in lot A: lot B's first passes leave it out.
        {"lot B", q([](ReportQuery& r) { r.lot = "B"; }), {4, 2, 3, 2, 3, 0, 1}},
        {"a lot never made", q([](ReportQuery& r) { r.lot = "C"; }), {0, 0, 0, 0, 0, 0, 0}},
        {"station 2", q([](ReportQuery& r) { r.station_number = 2; }), {4, 2, 3, 2, 3, 0, 1}},
        {"operator Dana",
         q([](ReportQuery& r) { r.operator_name = "Dana"; }),
         {4, 3, 4, 2, 2, 1, 0}},
        {"since midnight",
         q([](ReportQuery& r) { r.since = "2025-03-02T00:00:00.000Z"; }),
         {3, 1, 2, 1, 3, 0, 1}},
        // Until is the first moment left out.
        {"until 101's rework",
         q([](ReportQuery& r) { r.until = "2025-03-02T00:10:00.000Z"; }),
         {5, 4, 5, 3, 2, 1, 0}},
        {"a range and a station",
         q([](ReportQuery& r) {
             r.since = "2025-03-01T08:01:00.000Z";
             r.until = "2025-03-01T09:00:00.000Z";
             r.station_number = 1;
         }),
         {1, 1, 1, 0, 1, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(counts(report(c.query).totals), c.want) << c.name;
}

TEST_P(StationReport, GroupsHaveNumbersOfTheirOwn) {
    struct Group {
        ReportGroupKey key;
        Counts want;
    };
    struct Case {
        ReportBy by;
        bool utc;
        std::vector<Group> groups;
        const char* zone = "XXX-1";  // the machine's: one hour east of Greenwich
    };
    const Counts lot_a = {4, 3, 4, 2, 2, 1, 0}, lot_b = {4, 2, 3, 2, 3, 0, 1};
    const Case cases[] = {
        {ReportBy::station, true, {{{1, "st1", "", {}}, lot_a}, {{2, "st2", "", {}}, lot_b}}},
        // A port within its station: 101 at station 2's p0 is a unit reworked there.
        {ReportBy::port,
         true,
         {{{1, "st1", "p0", {}}, {3, 2, 3, 2, 1, 1, 0}},
          {{1, "st1", "p1", {}}, {1, 1, 1, 0, 1, 0, 0}},
          {{2, "st2", "p0", {}}, {3, 2, 2, 2, 2, 0, 0}},
          {{2, "st2", "p1", {}}, {1, 0, 1, 0, 1, 0, 1}}}},
        {ReportBy::operator_name,
         true,
         {{{{}, "", "", "Dana"}, lot_a}, {{{}, "", "", "Eli"}, lot_b}}},
        {ReportBy::lot, true, {{{{}, "", "", "A"}, lot_a}, {{{}, "", "", "B"}, lot_b}}},
        // Midnight in UTC parts 201's pass (23:50) from the rework after it.
        {ReportBy::day,
         true,
         {{{{}, "", "", "2025-03-01"}, {5, 4, 5, 3, 2, 1, 0}},
          {{{}, "", "", "2025-03-02"}, {3, 1, 2, 1, 3, 0, 1}}}},
        // An hour ahead of UTC (the zone set below), 23:50 is the 2nd already.
        {ReportBy::day,
         false,
         {{{{}, "", "", "2025-03-01"}, lot_a}, {{{}, "", "", "2025-03-02"}, lot_b}}},
        {ReportBy::hour,
         false,
         {{{{}, "", "", "2025-03-01 09:00"}, {2, 2, 2, 1, 1, 0, 0}},
          {{{}, "", "", "2025-03-01 10:00"}, {2, 1, 2, 1, 1, 1, 0}},
          {{{}, "", "", "2025-03-02 00:00"}, {1, 1, 1, 1, 0, 0, 0}},
          {{{}, "", "", "2025-03-02 01:00"}, {3, 1, 2, 1, 3, 0, 1}}}},
        // Five and a half hours east: the local hour turns at :30 of a UTC hour (00:20 and
        // 00:30 are 05:50 and 06:00).
        {ReportBy::hour,
         false,
         {{{{}, "", "", "2025-03-01 13:00"}, {2, 2, 2, 1, 1, 0, 0}},
          {{{}, "", "", "2025-03-01 14:00"}, {2, 1, 2, 1, 1, 1, 0}},
          {{{}, "", "", "2025-03-02 05:00"}, {3, 1, 2, 1, 2, 0, 0}},
          {{{}, "", "", "2025-03-02 06:00"}, {1, 1, 1, 1, 1, 0, 1}}},
         "IST-5:30"},
    };
    // The machine's zone, as the report's reader has it.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    for (const Case& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        ReportQuery query;
        query.by = c.by;
        query.utc = c.utc;
        const Report made = report(query);
        const std::string name = std::string(report_by_name(c.by)) + (c.utc ? " utc" : " local");
        ASSERT_EQ(made.groups.size(), c.groups.size()) << name;
        for (std::size_t i = 0; i < c.groups.size(); ++i) {
            EXPECT_EQ(made.groups[i].key, c.groups[i].key) << name << " " << i;
            EXPECT_EQ(counts(made.groups[i].numbers), c.groups[i].want) << name << " " << i;
        }
        // The totals do not depend on the grouping.
        EXPECT_EQ(counts(made.totals), (Counts{7, 4, 7, 4, 5, 1, 1})) << name;
    }
    if (zone != nullptr)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// A report by station as each format shows it: two stations (one without a number, its host
// not ASCII), a Pareto, a group without units.
Report two_stations() {
    Report r;
    ReportNumbers one;
    one.units = 4;
    one.passed = 3;
    one.first_units = 4;
    one.first_passed = 2;
    one.failed_runs = 3;
    one.failures = {{"mismatch", 2}, {"not_responding", 1}};
    one.failed_steps = {{"download", 3}};
    one.station_runs = 1;
    one.station_reasons = {{"port_lost", 1}};
    one.passed_runs = 3;
    one.median_ms = 62000;
    one.p95_ms = 64500;
    one.longest_ms = 64500;
    ReportNumbers none;
    none.unfinished = 2;
    r.groups = {{{1, "st1", "", {}}, one}, {{std::nullopt, "b\xC3\xA9nch", "", {}}, none}};
    r.totals = one;
    r.totals.unfinished = 2;
    return r;
}

ReportQuery by_station() {
    ReportQuery q;
    q.by = ReportBy::station;
    q.lot = "WO-1";
    q.since = "2025-03-01T00:00:00.000Z";
    return q;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// A table row's cells: the text between runs of two blanks or more.
std::vector<std::string> cells_of(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ' ' && i + 1 < line.size() && line[i + 1] == ' ') {
            if (!cell.empty()) cells.push_back(cell);
            cell.clear();
            while (i + 1 < line.size() && line[i + 1] == ' ') ++i;
            continue;
        }
        cell += line[i];
    }
    if (!cell.empty()) cells.push_back(cell);
    return cells;
}

std::size_t display_width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

TEST(StationReportOutput, TheTableIsAlignedWithAGroupPerRowAndTheParetosBelow) {
    const auto lines = lines_of(format_report(two_stations(), by_station(), ReportFormat::text));
    const std::vector<std::vector<std::string>> want = {
        {"station", "units", "passed", "yield", "first pass", "first-pass yield", "failed runs",
         "station's runs", "unfinished", "median", "95 %", "longest"},
        {"1 (st1)", "4", "3", "75.0 %", "2 of 4", "50.0 %", "3", "1", "0", "62.0 s", "64.5 s",
         "64.5 s"},
        {"- (b\xC3\xA9nch)", "0", "0", "-", "0 of 0", "-", "0", "0", "2", "-", "-", "-"},
        {"total", "4", "3", "75.0 %", "2 of 4", "50.0 %", "3", "1", "2", "62.0 s", "64.5 s",
         "64.5 s"},
        {},
        {"failures by result", "runs", "share"},
        {"mismatch", "2", "66.6 %"},
        {"not_responding", "1", "33.3 %"},
        {},
        {"failures by step", "runs", "share"},
        {"download", "3", "100.0 %"},
        {},
        {"station's reasons", "runs", "share"},
        {"port_lost", "1", "100.0 %"},
    };
    ASSERT_EQ(lines.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(cells_of(lines[i]), want[i]) << lines[i];
        // Numbers are right-aligned: every row of a table ends where its header does.
        if (i > 0 && i < 4) {
            EXPECT_EQ(display_width(lines[i]), display_width(lines[0])) << i;
        }
    }
}

TEST(StationReportOutput, CsvHasARowPerGroupAndTheTotalLast) {
    EXPECT_EQ(format_report(two_stations(), by_station(), ReportFormat::csv),
              "row,station_number,host,units,passed,yield_percent,first_pass_units,"
              "first_pass_passed,first_pass_yield_percent,failed_runs,station_runs,unfinished,"
              "passed_runs,median_ms,p95_ms,longest_ms,failures,failed_steps,station_reasons\r\n"
              "group,1,st1,4,3,75.0,4,2,50.0,3,1,0,3,62000,64500,64500,mismatch:2;not_responding:1,"
              "download:3,port_lost:1\r\n"
              "group,,b\xC3\xA9nch,0,0,,0,0,,0,0,2,0,,,,,,\r\n"
              "total,,,4,3,75.0,4,2,50.0,3,1,2,3,62000,64500,64500,mismatch:2;not_responding:1,"
              "download:3,port_lost:1\r\n");
}

TEST(StationReportOutput, JsonIsOneObjectWithTheFiltersTotalsAndGroups) {
    const std::string text = format_report(two_stations(), by_station(), ReportFormat::json);
    ASSERT_EQ(lines_of(text).size(), 1u);
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["filters"]["lot"], "WO-1");
    EXPECT_EQ(json["filters"]["since"], "2025-03-01T00:00:00.000Z");
    EXPECT_TRUE(json["filters"]["until"].is_null());
    EXPECT_TRUE(json["filters"]["operator"].is_null());
    EXPECT_EQ(json["filters"]["by"], "station");
    EXPECT_EQ(json["filters"]["utc"], false);
    const auto& totals = json["totals"];
    EXPECT_EQ(totals["units"], 4);
    EXPECT_EQ(totals["passed"], 3);
    EXPECT_DOUBLE_EQ(totals["yield_percent"].get<double>(), 75.0);
    EXPECT_EQ(totals["first_pass"]["units"], 4);
    EXPECT_EQ(totals["first_pass"]["passed"], 2);
    EXPECT_EQ(totals["failures"][0]["result"], "mismatch");
    EXPECT_EQ(totals["failures"][0]["count"], 2);
    // Cut, not rounded: a yield short of 100 % never shows as 100.0.
    EXPECT_DOUBLE_EQ(totals["failures"][0]["share_percent"].get<double>(), 66.6);
    EXPECT_EQ(totals["failed_steps"][0]["step"], "download");
    EXPECT_EQ(totals["station_reasons"][0]["result"], "port_lost");
    EXPECT_EQ(totals["unfinished"], 2);
    EXPECT_EQ(totals["durations"]["median_ms"], 62000);
    ASSERT_EQ(json["groups"].size(), 2u);
    EXPECT_EQ(json["groups"][0]["station_number"], 1);
    EXPECT_EQ(json["groups"][0]["host"], "st1");
    EXPECT_TRUE(json["groups"][1]["station_number"].is_null());
    // Nothing to divide: no yield, no duration, rather than a made-up 0.
    const auto& empty = json["groups"][1]["numbers"];
    EXPECT_TRUE(empty["yield_percent"].is_null());
    EXPECT_TRUE(empty["first_pass"]["yield_percent"].is_null());
    EXPECT_TRUE(empty["durations"]["median_ms"].is_null());
}

std::unique_ptr<cli::StationStore> sqlite_store(const fs::path& folder,
                                                std::unique_ptr<ScratchDatabase>&) {
    StoreError error;
    auto store = open_sqlite_station_store((folder / "station.db").string(),
                                           StoreAccess::station, &error);
    EXPECT_TRUE(store) << error.message;
    return store;
}

std::unique_ptr<cli::StationStore> postgres_store(const fs::path&,
                                                  std::unique_ptr<ScratchDatabase>& database) {
    database = std::make_unique<ScratchDatabase>();
    EXPECT_TRUE(database->ok()) << database->error();
    if (!database->ok()) return nullptr;
    StoreError error;
    auto store = open_postgres_station_store(database->socket_uri(), StoreAccess::station, &error);
    EXPECT_TRUE(store) << error.message;
    return store;
}

INSTANTIATE_TEST_SUITE_P(Stores, StationReport,
                         ::testing::Values(StoreKind{"sqlite", sqlite_store},
                                           StoreKind{"postgres", postgres_store}),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace vrk::test
