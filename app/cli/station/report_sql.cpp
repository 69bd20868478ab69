#include "app/cli/station/report_sql.h"

#include <algorithm>
#include <utility>

#include "app/cli/common/results.h"

namespace vrk::cli {

namespace {

// "'port_lost', 'port_unavailable', ...": our own constant names, never a user's text.
std::string station_reasons_sql() {
    std::string list;
    for (const ResultRow& entry : result_table()) {
        if (!is_station_reason(entry.kind)) continue;
        if (!list.empty()) list += ", ";
        list += "'" + std::string(entry.name) + "'";
    }
    return list;
}

// Orders counts as a Pareto: the most frequent first, then by name.
void pareto(std::vector<ReportCount>& counts) {
    std::sort(counts.begin(), counts.end(), [](const ReportCount& a, const ReportCount& b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
}

}  // namespace

bool report_filtered(const ReportQuery& query) {
    return query.since || query.until || query.lot || query.station_number || query.operator_name;
}

ReportSql report_sql(const ReportSqlInputs& given) {
    const std::vector<std::string>& keys = given.keys;
    // k0, k1, ...: the key's columns in each query's rows, first in every SELECT.
    std::string key_columns, key_select, partition;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string name = "k" + std::to_string(i);
        key_columns += name + ", ";
        key_select += keys[i] + " AS " + name + ", ";
        partition += (i == 0 ? "" : ", ") + name;
    }
    const std::string group_by = keys.empty() ? "" : " GROUP BY " + partition;
    const std::string partition_by = partition.empty() ? "" : "PARTITION BY " + partition + " ";
    const std::string& source = given.source;
    const std::string& filters = given.filters;
    const std::string station = station_reasons_sql();

    ReportSql sql;
    // Units, passed and first passes. `ever` numbers each unit's counted runs over the whole
    // database, so that a first run before the range is seen; the chosen ones are then taken
    // together per group and unit. With filters, only the units of chosen rows are numbered
    // (most of a year's units are not in a shift's report).
    const std::string of_chosen_units =
        given.filtered ? "\n      AND serial_number IN (SELECT serial_number FROM " + source +
                             " WHERE " + filters + ")"
                       : std::string();
    sql.units = R"sql(
WITH ever AS (
    SELECT serial_number, result, started_at, lot, station_number, operator, )sql" +
                key_select + R"sql(
           ROW_NUMBER() OVER (PARTITION BY serial_number ORDER BY started_at, run_key) AS nth_ever
    FROM )sql" + source +
                R"sql(
    WHERE result IS NOT NULL AND serial_number IS NOT NULL AND result NOT IN ()sql" +
                station + ")" + of_chosen_units + R"sql(
), units AS (
    -- Per group and unit: its last chosen run is the one with the highest nth_ever, so
    -- nth_ever * 2 + passed is highest there and its lowest bit says whether it passed.
    SELECT )sql" +
                key_columns + R"sql(
           MAX(nth_ever * 2 + CASE WHEN result = 'success' THEN 1 ELSE 0 END) % 2 AS last_passed,
           MAX(CASE WHEN nth_ever = 1 THEN 1 ELSE 0 END) AS first_chosen,
           MAX(CASE WHEN nth_ever = 1 AND result = 'success' THEN 1 ELSE 0 END) AS first_passed
    FROM ever
    WHERE )sql" +
                filters + R"sql(
    GROUP BY )sql" +
                key_columns + R"sql(serial_number
)
SELECT )sql" + key_columns +
                R"sql(COUNT(*), SUM(last_passed), SUM(first_chosen), SUM(first_passed)
FROM units)sql" +
                group_by;

    // Every chosen row by its class, result and the step that failed.
    sql.classes = "SELECT " + key_select + R"sql(
       CASE WHEN result IS NULL THEN 'unfinished'
            WHEN result IN ()sql" +
                  station + R"sql() THEN 'station'
            WHEN result = 'success' THEN 'passed'
            ELSE 'failed' END AS row_class,
       result,
       CASE WHEN result IS NULL OR result = 'success' THEN NULL
            WHEN step_download NOT IN ('success', 'skipped', 'not_asked') THEN 'download'
            WHEN step_id NOT IN ('success', 'skipped', 'not_asked') THEN 'id'
            WHEN step_settings NOT IN ('success', 'skipped', 'not_asked') THEN 'settings'
            WHEN step_then NOT IN ('success', 'skipped', 'not_asked') THEN 'then'
            ELSE 'before_steps' END AS failed_step,
       COUNT(*)
FROM )sql" + source +
                  " WHERE " + filters + R"sql(
GROUP BY )sql" + key_columns +
                  "row_class, result, failed_step";

    // The durations of passed runs: the median and the 95th percentile by nearest rank
    // (rank ceil(p * n), in whole numbers as (n * p + 99) / 100), and the longest.
    sql.durations = "SELECT " + key_columns + R"sql(COUNT(*),
       MIN(CASE WHEN nth = (n * 50 + 99) / 100 THEN duration_ms END),
       MIN(CASE WHEN nth = (n * 95 + 99) / 100 THEN duration_ms END),
       MAX(duration_ms)
FROM (SELECT )sql" + key_columns +
                    R"sql(duration_ms,
             ROW_NUMBER() OVER ()sql" +
                    partition_by + R"sql(ORDER BY duration_ms) AS nth,
             COUNT(*) OVER ()sql" +
                    partition_by + R"sql() AS n
      FROM (SELECT )sql" +
                    key_select + R"sql(duration_ms FROM )sql" + source + " WHERE " + filters +
                    R"sql(
              AND result = 'success' AND serial_number IS NOT NULL AND duration_ms IS NOT NULL
           ) AS chosen
     ) AS passed)sql" +
                    group_by;
    return sql;
}

void add_report_class(ReportNumbers& n, std::string_view row_class, const std::string& result,
                      const std::string& step, std::int64_t count) {
    const auto add = [count](std::vector<ReportCount>& counts, const std::string& name) {
        const auto it = std::find_if(counts.begin(), counts.end(),
                                     [&](const ReportCount& c) { return c.name == name; });
        if (it == counts.end())
            counts.push_back({name, count});
        else
            it->count += count;
    };
    if (row_class == "unfinished") {
        n.unfinished += count;
    } else if (row_class == "station") {
        n.station_runs += count;
        add(n.station_reasons, result);
    } else if (row_class == "failed") {
        n.failed_runs += count;
        add(n.failures, result);
        add(n.failed_steps, step);
    }
}

Report assemble_report(std::map<ReportGroupKey, ReportNumbers> totals,
                       std::map<ReportGroupKey, ReportNumbers> groups) {
    const auto order = [](ReportNumbers& n) {
        pareto(n.failures);
        pareto(n.failed_steps);
        pareto(n.station_reasons);
    };
    Report report;
    if (!totals.empty()) {
        report.totals = std::move(totals.begin()->second);
        order(report.totals);
    }
    for (auto& [key, numbers] : groups) {
        order(numbers);
        report.groups.push_back({key, std::move(numbers)});
    }
    return report;
}

}  // namespace vrk::cli
