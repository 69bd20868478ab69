// The report's numbers (see ReportBy in station_store.h) computed in one pass over the runs,
// handed over in the order of their units: every run of a serial number together, in start
// order (then by run key), as an index on (serial_number, started_at, run_key) gives them. A
// unit's first run ever is then simply its first counted run, and its last run in a group the
// last one seen; what is kept is one unit's runs at a time and the numbers of each group, plus
// the passed runs' durations (4 bytes each) for the percentiles.
//
// Runs without a serial number count in the failures, station runs and unfinished runs only,
// and may come at any place in the order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"

namespace vrk::cli {

// One run as the tally needs it.
struct TallyRun {
    std::optional<std::int32_t> serial_number;
    ReportGroupKey key;                 // its group (ignored without a grouping)
    std::optional<std::string> result;  // nullopt: never completed
    RunSteps steps;                     // empty: a step not reached
    std::optional<std::uint32_t> duration_ms;
    bool chosen = false;  // passes the query's filters (the other runs of its unit only tell
                          // whether a chosen run is its unit's first)
};

// Whether the query chooses fewer runs than all.
[[nodiscard]] bool report_filtered(const ReportQuery& query);

// The columns a grouping's key is read from, in the order of ReportGroupKey's fields it fills:
// the station's number and host (and the port), the operator or the work order, or for hours
// and days `time_column`, the store's own expression of the start.
[[nodiscard]] std::vector<std::string> report_key_columns(ReportBy by,
                                                          const std::string& time_column);

// The SELECTs that hand a store's runs to a tally, in their units' order (the index on
// serial_number, started_at, run_key): the whole database without filters; with them, only
// the units of the chosen runs (a shift is a small part of a year), whose earlier runs say
// which chosen run is a unit's first, and the chosen runs that have no serial number. Each
// row: the key's columns (`keys`, report_key_columns()), then serial_number, result, the four
// steps, duration_ms and whether the run is chosen. `source` is the runs for FROM, `filters`
// the chosen runs' condition in the store's parameters.
[[nodiscard]] std::vector<std::string> tally_statements(const std::vector<std::string>& keys,
                                                        const std::string& source,
                                                        const std::string& filters, bool filtered);

class ReportTally {
  public:
    explicit ReportTally(bool grouped) : grouped_(grouped) {}

    void add(const TallyRun& run);
    // The totals and the groups (in the order of their keys); the tally is spent.
    [[nodiscard]] Report finish();

  private:
    struct Numbers {
        ReportNumbers numbers;
        std::vector<std::uint32_t> durations;  // of the passed runs
    };
    // The unit whose runs are coming in.
    struct Unit {
        std::int32_t serial_number = 0;
        bool has_first = false;
        bool first_chosen = false, first_passed = false;
        ReportGroupKey first_key;
        std::optional<bool> last_passed;               // its last chosen run, in the totals
        std::map<ReportGroupKey, bool> last_in_group;  // ... and in each group
    };

    // How a run ended, as the report counts it.
    enum class Ending { unfinished, station, passed, failed };
    void count_run(Numbers& n, const TallyRun& run, Ending ending);
    void end_unit();
    // The group's numbers; the last group asked for is kept at hand (runs in their units'
    // order mostly come one group after another).
    Numbers& group(const ReportGroupKey& key);

    bool grouped_;
    Numbers totals_;
    std::map<ReportGroupKey, Numbers> groups_;
    const ReportGroupKey* last_key_ = nullptr;  // in groups_
    Numbers* last_group_ = nullptr;
    std::optional<Unit> unit_;
};

}  // namespace vrk::cli
