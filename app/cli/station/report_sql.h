// vrk report's queries, written once for every store: the definitions above ReportBy are in
// this SQL, which uses only what SQLite and PostgreSQL both have (window functions, CASE and
// plain aggregates), so that a station's file and a line's database count alike. What differs
// between the stores comes in as inputs: the grouping's expressions (a time zone is named in
// each dialect its own way), the runs' source and the filters with the store's parameters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/station/station_store.h"

namespace vrk::cli {

struct ReportSqlInputs {
    std::vector<std::string> keys;  // the grouping's expressions, in ReportGroupKey's order
    std::string source;             // the runs for FROM: the table, or a view of an older one
    std::string filters;            // the chosen rows' condition, in the store's parameters
    bool filtered = false;          // whether any filter is set (report_filtered)
};

// Each query's rows begin with the key's columns (one per expression of `keys`), then:
struct ReportSql {
    std::string units;      // units, passed, first units, first passed
    std::string classes;    // row class, result, failed step, count (add_report_class)
    std::string durations;  // passed runs, median, 95th percentile, longest
};

[[nodiscard]] ReportSql report_sql(const ReportSqlInputs& given);

// Whether the query chooses fewer rows than all.
[[nodiscard]] bool report_filtered(const ReportQuery& query);

// Adds one row of the classes query (row class "unfinished", "station", "passed" or "failed")
// to its group's numbers.
void add_report_class(ReportNumbers& numbers, std::string_view row_class, const std::string& result,
                      const std::string& step, std::int64_t count);

// The report out of the groups' numbers of the totals' queries (one group, or none when no row
// was chosen) and of the grouping's: every count list ordered as a Pareto.
[[nodiscard]] Report assemble_report(std::map<ReportGroupKey, ReportNumbers> totals,
                                     std::map<ReportGroupKey, ReportNumbers> groups);

}  // namespace vrk::cli
