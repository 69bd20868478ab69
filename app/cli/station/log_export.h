// vrk log and vrk ids: the station's records as CSV (RFC 4180: a header row, fields quoted
// where they must be, lines ended by CR LF) or JSON Lines (one object per unit's run or per
// ID, the same names as the CSV's columns, null for what is not known). Rows from several
// stations' exports merge by their run key.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/cli/station/station_store.h"

namespace vrk::cli {

enum class LogFormat { csv, jsonl };

// The CSV header row, CR LF included.
[[nodiscard]] std::string csv_header();
// One run as a CSV row (CR LF included) or as a JSON object (line end included).
[[nodiscard]] std::string csv_row(const RunRecord& run);
[[nodiscard]] std::string json_row(const RunRecord& run);
// The same object without the hook's columns and without the line end: what a unit's hook is
// given on its standard input, before there is an outcome of its own.
[[nodiscard]] std::string json_row_for_hook(const RunRecord& run);
// A CSV field: as it is, or in double quotes (doubled inside) when it holds a comma, a quote,
// a CR or an LF, or starts or ends with a blank.
[[nodiscard]] std::string csv_field(std::string_view text);

// Writes the header (CSV) and every run that passes `filter`, oldest first, each by one call
// of `write`.
[[nodiscard]] StoreError export_runs(StationStore& store, const RunFilter& filter, LogFormat format,
                                     const std::function<void(std::string_view)>& write);

// vrk ids: every ID that passes `filter` (in the order they were reserved) with its state,
// source, scheme, unit, station and times, as CSV (a header row first) or JSON Lines.
[[nodiscard]] StoreError export_ids(StationStore& store, const IdFilter& filter, LogFormat format,
                                    const std::function<void(std::string_view)>& write);

}  // namespace vrk::cli
