#include "app/cli/station/report_tally.h"

#include <algorithm>

namespace vrk::cli {

namespace {

// Whether the result is one the station ended the run with. Asked for every run of a report:
// the few such names are picked out of the results table once.
bool station_reason(std::string_view result) {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> found;
        for (const ResultRow& row : result_table())
            if (is_station_reason(row.kind)) found.push_back(row.name);
        return found;
    }();
    return std::find(names.begin(), names.end(), result) != names.end();
}

// The step that failed: the first whose result is a failure; a unit refused, or whose
// identity or ID stopped it, failed before any.
std::string failed_step(const RunSteps& steps) {
    const auto failure = [](const std::string& s) {
        return !s.empty() && s != STEP_SUCCESS && s != STEP_SKIPPED && s != STEP_NOT_ASKED;
    };
    if (failure(steps.download)) return "download";
    if (failure(steps.id)) return "id";
    if (failure(steps.settings)) return "settings";
    if (failure(steps.then)) return "then";
    return "before_steps";
}

void add_count(std::vector<ReportCount>& counts, const std::string& name) {
    const auto it = std::find_if(counts.begin(), counts.end(),
                                 [&](const ReportCount& c) { return c.name == name; });
    if (it == counts.end())
        counts.push_back({name, 1});
    else
        ++it->count;
}

// Most frequent first, then by name.
void pareto(std::vector<ReportCount>& counts) {
    std::sort(counts.begin(), counts.end(), [](const ReportCount& a, const ReportCount& b) {
        return a.count != b.count ? a.count > b.count : a.name < b.name;
    });
}

// The value at rank ceil(percent / 100 * n) of the durations in ascending order.
std::uint32_t nearest_rank(std::vector<std::uint32_t>& durations, std::size_t percent) {
    const std::size_t rank = (durations.size() * percent + 99) / 100;
    const auto at = durations.begin() + static_cast<std::ptrdiff_t>(rank - 1);
    std::nth_element(durations.begin(), at, durations.end());
    return *at;
}

}  // namespace

bool report_filtered(const ReportQuery& query) {
    return query.since || query.until || query.lot || query.station_number || query.operator_name;
}

std::vector<std::string> report_key_columns(ReportBy by, const std::string& time_column) {
    switch (by) {
        case ReportBy::none:
            return {};
        case ReportBy::station:
            return {"station_number", "host"};
        case ReportBy::port:
            return {"station_number", "host", "port"};
        case ReportBy::operator_name:
            return {"operator"};
        case ReportBy::lot:
            return {"lot"};
        case ReportBy::hour:
        case ReportBy::day:
            break;
    }
    return {time_column};
}

std::vector<std::string> tally_statements(const std::vector<std::string>& keys,
                                          const std::string& source, const std::string& filters,
                                          bool filtered) {
    std::string key_select;
    for (std::size_t i = 0; i < keys.size(); ++i)
        key_select += keys[i] + " AS k" + std::to_string(i) + ", ";
    const std::string columns = "SELECT " + key_select +
                                "serial_number, result, step_download, step_id, step_settings, "
                                "step_then, duration_ms, (" +
                                filters + ") AS chosen FROM " + source;
    const std::string in_order = " ORDER BY serial_number, started_at, run_key";
    if (!filtered) return {columns + in_order};
    return {columns + " WHERE serial_number IS NULL AND " + filters,
            columns + " WHERE serial_number IN (SELECT serial_number FROM " + source + " WHERE " +
                filters + ")" + in_order};
}

void ReportTally::count_run(Numbers& n, const TallyRun& run, Ending ending) {
    ReportNumbers& r = n.numbers;
    if (ending == Ending::unfinished) {
        ++r.unfinished;
    } else if (ending == Ending::station) {
        ++r.station_runs;
        add_count(r.station_reasons, *run.result);
    } else if (ending == Ending::failed) {
        ++r.failed_runs;
        add_count(r.failures, *run.result);
        add_count(r.failed_steps, failed_step(run.steps));
    } else if (run.serial_number && run.duration_ms) {
        n.durations.push_back(*run.duration_ms);
    }
}

ReportTally::Numbers& ReportTally::group(const ReportGroupKey& key) {
    if (last_key_ == nullptr || !(*last_key_ == key)) {
        const auto it = groups_.try_emplace(key).first;
        last_key_ = &it->first;
        last_group_ = &it->second;
    }
    return *last_group_;
}

void ReportTally::add(const TallyRun& run) {
    if (run.serial_number && (!unit_ || unit_->serial_number != *run.serial_number)) {
        end_unit();
        unit_ = Unit{};
        unit_->serial_number = *run.serial_number;
    }
    const Ending ending = !run.result                                   ? Ending::unfinished
                          : station_reason(*run.result)                 ? Ending::station
                          : *run.result == result_name(Result::success) ? Ending::passed
                                                                        : Ending::failed;
    if (run.chosen) {
        count_run(totals_, run, ending);
        if (grouped_) count_run(group(run.key), run, ending);
    }
    // Units count by their counted runs: completed, with a serial number, not ended by the
    // station.
    const bool counted =
        run.serial_number && (ending == Ending::passed || ending == Ending::failed);
    if (!counted) return;
    const bool passed = ending == Ending::passed;
    if (!unit_->has_first) {
        unit_->has_first = true;
        unit_->first_chosen = run.chosen;
        unit_->first_passed = passed;
        unit_->first_key = run.key;
    }
    if (run.chosen) {
        unit_->last_passed = passed;
        if (grouped_) unit_->last_in_group[run.key] = passed;
    }
}

void ReportTally::end_unit() {
    if (!unit_) return;
    const auto count_unit = [](ReportNumbers& n, bool passed) {
        ++n.units;
        if (passed) ++n.passed;
    };
    const auto count_first = [this](ReportNumbers& n) {
        ++n.first_units;
        if (unit_->first_passed) ++n.first_passed;
    };
    if (unit_->last_passed) count_unit(totals_.numbers, *unit_->last_passed);
    for (const auto& [key, passed] : unit_->last_in_group) count_unit(group(key).numbers, passed);
    if (unit_->has_first && unit_->first_chosen) {
        count_first(totals_.numbers);
        if (grouped_) count_first(group(unit_->first_key).numbers);
    }
    unit_.reset();
}

Report ReportTally::finish() {
    end_unit();
    const auto done = [](Numbers& n) {
        ReportNumbers r = std::move(n.numbers);
        pareto(r.failures);
        pareto(r.failed_steps);
        pareto(r.station_reasons);
        if (!n.durations.empty()) {
            r.passed_runs = static_cast<std::int64_t>(n.durations.size());
            r.longest_ms = *std::max_element(n.durations.begin(), n.durations.end());
            r.median_ms = nearest_rank(n.durations, 50);
            r.p95_ms = nearest_rank(n.durations, 95);
        }
        return r;
    };
    Report report;
    report.totals = done(totals_);
    for (auto& [key, numbers] : groups_) report.groups.push_back({key, done(numbers)});
    groups_.clear();
    last_key_ = nullptr;
    return report;
}

}  // namespace vrk::cli
