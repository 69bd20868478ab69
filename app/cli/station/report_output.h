// vrk report's three shapes of one Report: a plain table aligned for a terminal or a printout,
// CSV (RFC 4180, CR LF) with a row per group and the total last, and one JSON object with the
// filters, the totals and the groups.
#pragma once

#include <string>

#include "app/cli/station/station_store.h"

namespace vrk::cli {

enum class ReportFormat { text, csv, json };

// The JSON object's "schema": raised when a field changes meaning or goes.
inline constexpr int REPORT_JSON_SCHEMA = 1;

// The report as the format shows it, ending with a line end. `query` gives the grouping and,
// for JSON, the filters.
[[nodiscard]] std::string format_report(const Report& report, const ReportQuery& query,
                                        ReportFormat format);

// "station", "port", "operator", "lot", "hour", "day"; nullopt for none of them.
[[nodiscard]] std::optional<ReportBy> report_by_named(std::string_view name);
[[nodiscard]] std::string_view report_by_name(ReportBy by);

}  // namespace vrk::cli
