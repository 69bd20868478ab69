#include "app/cli/station/report_output.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/cli/common/json_line.h"
#include "app/cli/station/log_export.h"

namespace vrk::cli {

namespace {

struct ByName {
    std::string_view name;
    ReportBy by;
};
constexpr ByName GROUPINGS[] = {
    {"station", ReportBy::station}, {"port", ReportBy::port}, {"operator", ReportBy::operator_name},
    {"lot", ReportBy::lot},         {"hour", ReportBy::hour}, {"day", ReportBy::day},
};

// A share in per cent with one decimal, cut rather than rounded: 9 998 of 10 000 units is
// 99.9 %, never a yield of 100.0 % with units failed. nullopt when there is nothing to share.
std::optional<std::string> percent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) return std::nullopt;
    const std::int64_t tenths = part * 1000 / whole;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string seconds(const std::optional<std::uint32_t>& ms) {
    if (!ms) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", *ms / 1000.0);
    return text;
}

std::string or_dash(const std::optional<std::string>& text, std::string_view unit = {}) {
    return text ? *text + std::string(unit) : "-";
}

// The group's key as columns: names and values, as a grouping lays them out.
std::vector<std::string_view> key_names(ReportBy by) {
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
            return {"hour"};
        case ReportBy::day:
            return {"day"};
    }
    return {};
}

// The key's values, each nullopt where not known (a station without a number, no lot).
std::vector<std::optional<std::string>> key_values(ReportBy by, const ReportGroupKey& key) {
    const std::optional<std::string> number =
        key.station_number ? std::optional<std::string>(std::to_string(*key.station_number))
                           : std::nullopt;
    switch (by) {
        case ReportBy::none:
            return {};
        case ReportBy::station:
            return {number, key.host};
        case ReportBy::port:
            return {number, key.host, key.port};
        default:
            return {key.value};
    }
}

// A group as a person reads it in the table's first column.
std::string group_label(ReportBy by, const ReportGroupKey& key) {
    const std::string station =
        (key.station_number ? std::to_string(*key.station_number) : "-") + " (" + key.host + ")";
    switch (by) {
        case ReportBy::station:
            return station;
        case ReportBy::port:
            return station + " " + key.port;
        case ReportBy::operator_name:
            return key.value && !key.value->empty() ? *key.value : "(none)";
        default:
            return key.value.value_or("(none)");
    }
}

// "mismatch:3;not_responding:1": a Pareto in one CSV cell.
std::string counts_cell(const std::vector<ReportCount>& counts) {
    std::string cell;
    for (const ReportCount& c : counts)
        cell += (cell.empty() ? "" : ";") + c.name + ":" + std::to_string(c.count);
    return cell;
}

// Characters on a terminal: UTF-8 continuation bytes take no column.
std::size_t columns(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Lines of cells, each column as wide as its widest cell: the first left-aligned, the others
// right-aligned (numbers), two blanks between.
std::string aligned(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (width.size() <= i) width.push_back(0);
            width[i] = std::max(width[i], columns(row[i]));
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(width[i] - columns(row[i]), ' ');
            if (i > 0) line += "  ";
            line += i == 0 ? row[i] + pad : pad + row[i];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::vector<std::string> table_row(std::string label, const ReportNumbers& n) {
    return {std::move(label),
            std::to_string(n.units),
            std::to_string(n.passed),
            or_dash(percent(n.passed, n.units), " %"),
            std::to_string(n.first_passed) + " of " + std::to_string(n.first_units),
            or_dash(percent(n.first_passed, n.first_units), " %"),
            std::to_string(n.failed_runs),
            std::to_string(n.station_runs),
            std::to_string(n.unfinished),
            seconds(n.median_ms),
            seconds(n.p95_ms),
            seconds(n.longest_ms)};
}

std::string pareto_table(std::string_view title, const std::vector<ReportCount>& counts,
                         std::int64_t total) {
    if (counts.empty()) return {};
    std::vector<std::vector<std::string>> rows = {{std::string(title), "runs", "share"}};
    for (const ReportCount& c : counts)
        rows.push_back({c.name, std::to_string(c.count), or_dash(percent(c.count, total), " %")});
    return "\n" + aligned(rows);
}

std::string text_report(const Report& report, const ReportQuery& query) {
    std::vector<std::vector<std::string>> rows = {
        {query.by == ReportBy::none ? "" : std::string(report_by_name(query.by)), "units", "passed",
         "yield", "first pass", "first-pass yield", "failed runs", "station's runs", "unfinished",
         "median", "95 %", "longest"}};
    for (const ReportGroup& g : report.groups)
        rows.push_back(table_row(group_label(query.by, g.key), g.numbers));
    rows.push_back(table_row("total", report.totals));
    const ReportNumbers& t = report.totals;
    return aligned(rows) + pareto_table("failures by result", t.failures, t.failed_runs) +
           pareto_table("failures by step", t.failed_steps, t.failed_runs) +
           pareto_table("station's reasons", t.station_reasons, t.station_runs);
}

std::vector<std::string> csv_numbers(const ReportNumbers& n) {
    const auto number = [](const std::optional<std::uint32_t>& v) {
        return v ? std::to_string(*v) : std::string();
    };
    return {std::to_string(n.units),
            std::to_string(n.passed),
            percent(n.passed, n.units).value_or(""),
            std::to_string(n.first_units),
            std::to_string(n.first_passed),
            percent(n.first_passed, n.first_units).value_or(""),
            std::to_string(n.failed_runs),
            std::to_string(n.station_runs),
            std::to_string(n.unfinished),
            std::to_string(n.passed_runs),
            number(n.median_ms),
            number(n.p95_ms),
            number(n.longest_ms),
            counts_cell(n.failures),
            counts_cell(n.failed_steps),
            counts_cell(n.station_reasons)};
}

std::string csv_line(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + csv_field(cells[i]);
    return line + "\r\n";
}

std::string csv_report(const Report& report, const ReportQuery& query) {
    const auto names = key_names(query.by);
    std::vector<std::string> header = {"row"};
    header.insert(header.end(), names.begin(), names.end());
    for (const char* name :
         {"units", "passed", "yield_percent", "first_pass_units", "first_pass_passed",
          "first_pass_yield_percent", "failed_runs", "station_runs", "unfinished", "passed_runs",
          "median_ms", "p95_ms", "longest_ms", "failures", "failed_steps", "station_reasons"})
        header.emplace_back(name);
    std::string out = csv_line(header);
    const auto row = [&](std::string kind, const std::vector<std::optional<std::string>>& key,
                         const ReportNumbers& n) {
        std::vector<std::string> cells = {std::move(kind)};
        for (const auto& value : key) cells.push_back(value.value_or(""));
        const auto numbers = csv_numbers(n);
        cells.insert(cells.end(), numbers.begin(), numbers.end());
        out += csv_line(cells);
    };
    for (const ReportGroup& g : report.groups) row("group", key_values(query.by, g.key), g.numbers);
    row("total", std::vector<std::optional<std::string>>(names.size()), report.totals);
    return out;
}

JsonLine& add_text(JsonLine& json, std::string_view key, const std::optional<std::string>& v) {
    return v ? json.add(key, std::string_view(*v)) : json.add_null(key);
}
JsonLine& add_number(JsonLine& json, std::string_view key, const std::optional<std::uint32_t>& v) {
    return v ? json.add(key, *v) : json.add_null(key);
}
// A percentage as a JSON number with one decimal, or null.
JsonLine& add_percent(JsonLine& json, std::string_view key, std::int64_t part, std::int64_t whole) {
    const auto p = percent(part, whole);
    return p ? json.add_raw(key, *p) : json.add_null(key);
}

std::string json_counts(const std::vector<ReportCount>& counts, std::string_view name,
                        std::int64_t total) {
    std::string list = "[";
    for (const ReportCount& c : counts) {
        JsonLine item;
        item.add(name, std::string_view(c.name)).add("count", c.count);
        add_percent(item, "share_percent", c.count, total);
        list += (list.size() > 1 ? "," : "") + item.text();
    }
    return list + "]";
}

std::string json_numbers(const ReportNumbers& n) {
    JsonLine json;
    json.add("units", n.units).add("passed", n.passed);
    add_percent(json, "yield_percent", n.passed, n.units);
    JsonLine first;
    first.add("units", n.first_units).add("passed", n.first_passed);
    add_percent(first, "yield_percent", n.first_passed, n.first_units);
    json.add_raw("first_pass", first.text())
        .add("failed_runs", n.failed_runs)
        .add_raw("failures", json_counts(n.failures, "result", n.failed_runs))
        .add_raw("failed_steps", json_counts(n.failed_steps, "step", n.failed_runs))
        .add("station_runs", n.station_runs)
        .add_raw("station_reasons", json_counts(n.station_reasons, "result", n.station_runs))
        .add("unfinished", n.unfinished);
    JsonLine durations;
    durations.add("passed_runs", n.passed_runs);
    add_number(durations, "median_ms", n.median_ms);
    add_number(durations, "p95_ms", n.p95_ms);
    add_number(durations, "longest_ms", n.longest_ms);
    json.add_raw("durations", durations.text());
    return json.text();
}

std::string json_report(const Report& report, const ReportQuery& query) {
    JsonLine filters;
    add_text(filters, "since", query.since);
    add_text(filters, "until", query.until);
    add_text(filters, "lot", query.lot);
    add_number(filters, "station_number", query.station_number);
    add_text(filters, "operator", query.operator_name);
    if (query.by == ReportBy::none)
        filters.add_null("by");
    else
        filters.add("by", report_by_name(query.by));
    filters.add("utc", query.utc);

    std::string groups = "[";
    const auto names = key_names(query.by);
    for (const ReportGroup& g : report.groups) {
        JsonLine group;
        const auto values = key_values(query.by, g.key);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == "station_number")
                add_number(group, names[i], g.key.station_number);
            else
                add_text(group, names[i], values[i]);
        }
        group.add_raw("numbers", json_numbers(g.numbers));
        groups += (groups.size() > 1 ? "," : "") + group.text();
    }
    JsonLine json;
    json.add("schema", REPORT_JSON_SCHEMA)
        .add_raw("filters", filters.text())
        .add_raw("totals", json_numbers(report.totals))
        .add_raw("groups", groups + "]");
    return json.text() + "\n";
}

}  // namespace

std::optional<ReportBy> report_by_named(std::string_view name) {
    for (const ByName& g : GROUPINGS)
        if (g.name == name) return g.by;
    return std::nullopt;
}

std::string_view report_by_name(ReportBy by) {
    for (const ByName& g : GROUPINGS)
        if (g.by == by) return g.name;
    return "";
}

std::string format_report(const Report& report, const ReportQuery& query, ReportFormat format) {
    switch (format) {
        case ReportFormat::csv:
            return csv_report(report, query);
        case ReportFormat::json:
            return json_report(report, query);
        case ReportFormat::text:
            break;
    }
    return text_report(report, query);
}

}  // namespace vrk::cli
