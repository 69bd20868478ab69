#include "app/cli/station/log_export.h"

#include <cstdint>
#include <optional>

#include "app/cli/common/json_line.h"

namespace vrk::cli {

namespace {

// One field of a row: nothing (not known), a number or a text.
struct Cell {
    enum class Kind { null, number, text } kind = Kind::null;
    std::int64_t number = 0;
    std::string text;
};

Cell text(const std::string& value) {
    return {Cell::Kind::text, 0, value};
}
Cell text(const std::optional<std::string>& value) {
    return value ? text(*value) : Cell{};
}
// An empty step or result in the records is one the run did not reach.
Cell text_or_null(const std::string& value) {
    return value.empty() ? Cell{} : text(value);
}
template <typename T>
Cell number(const std::optional<T>& value) {
    return value ? Cell{Cell::Kind::number, static_cast<std::int64_t>(*value), {}} : Cell{};
}
template <typename T>
Cell number(T value) {
    return {Cell::Kind::number, static_cast<std::int64_t>(value), {}};
}

// A column of an export of records of type R.
template <typename R>
struct ColumnOf {
    std::string_view name;
    Cell (*value)(const R&);
};
using Column = ColumnOf<RunRecord>;

// The end of a run, or nothing for a run never completed.
template <typename F>
Cell at_end(const RunRecord& r, F f) {
    return r.end ? f(*r.end) : Cell{};
}

constexpr Column COLUMNS[] = {
    {"run_key", [](const RunRecord& r) { return text(r.start.run_key); }},
    {"started_at", [](const RunRecord& r) { return text(r.start.started_at); }},
    {"host", [](const RunRecord& r) { return text(r.start.host); }},
    {"station_number", [](const RunRecord& r) { return number(r.start.station_number); }},
    {"operator", [](const RunRecord& r) { return text(r.start.operator_name); }},
    {"port", [](const RunRecord& r) { return text(r.start.port); }},
    {"serial_number", [](const RunRecord& r) { return number(r.start.serial_number); }},
    {"id_before", [](const RunRecord& r) { return text(r.start.id_before); }},
    {"id_after",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text(e.id_after); });
     }},
    {"firmware_version", [](const RunRecord& r) { return text(r.start.firmware_version); }},
    {"flash_type_code", [](const RunRecord& r) { return number(r.start.flash_type_code); }},
    {"flash_type", [](const RunRecord& r) { return text(r.start.flash_type); }},
    {"gps_before", [](const RunRecord& r) { return number(r.start.settings_before.gps); }},
    {"internal_before",
     [](const RunRecord& r) { return number(r.start.settings_before.internal); }},
    {"external_before",
     [](const RunRecord& r) { return number(r.start.settings_before.external); }},
    {"gps_after",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return number(e.settings_after.gps); });
     }},
    {"internal_after",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return number(e.settings_after.internal); });
     }},
    {"external_after",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return number(e.settings_after.external); });
     }},
    {"image", [](const RunRecord& r) { return text(r.start.image); }},
    {"image_sha256", [](const RunRecord& r) { return text(r.start.image_sha256); }},
    {"step_download",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text_or_null(e.steps.download); });
     }},
    {"step_id",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text_or_null(e.steps.id); });
     }},
    {"step_settings",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text_or_null(e.steps.settings); });
     }},
    {"step_then",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text_or_null(e.steps.then); });
     }},
    {"result",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return text_or_null(e.result); });
     }},
    {"exit_code",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return number(e.exit_code); });
     }},
    {"message",
     [](const RunRecord& r) { return at_end(r, [](const RunEnd& e) { return text(e.message); }); }},
    {"duration_ms",
     [](const RunRecord& r) {
         return at_end(r, [](const RunEnd& e) { return number(e.duration_ms); });
     }},
    {"tool_version", [](const RunRecord& r) { return text(r.start.tool_version); }},
    {"lot", [](const RunRecord& r) { return text(r.start.lot); }},
    // The hook's outcome last: it comes after the unit's row is complete, from a table of its
    // own, and a reader that knows the columns before it reads on unchanged.
    {"hook", [](const RunRecord& r) { return r.hook ? text(r.hook->status) : Cell{}; }},
    {"hook_message", [](const RunRecord& r) { return r.hook ? text(r.hook->message) : Cell{}; }},
};

// vrk ids: an ID's state and source, then where and when it went through them.
constexpr ColumnOf<IdHolder> ID_COLUMNS[] = {
    {"id", [](const IdHolder& h) { return text(h.id); }},
    {"state", [](const IdHolder& h) { return text(std::string(id_state_name(h.state))); }},
    {"source",
     [](const IdHolder& h) {
         return h.source ? text(std::string(id_source_name(*h.source))) : Cell{};
     }},
    {"scheme", [](const IdHolder& h) { return text_or_null(h.scheme); }},
    {"serial_number", [](const IdHolder& h) { return number(h.serial_number); }},
    {"station_number", [](const IdHolder& h) { return number(h.station_number); }},
    {"run_key", [](const IdHolder& h) { return text_or_null(h.run_key); }},
    {"reserved_at", [](const IdHolder& h) { return text(h.reserved_at); }},
    {"bound_at", [](const IdHolder& h) { return text(h.bound_at); }},
    {"spent_at", [](const IdHolder& h) { return text(h.spent_at); }},
};

template <typename R, std::size_t N>
std::string csv_header_of(const ColumnOf<R> (&columns)[N]) {
    std::string line;
    for (const ColumnOf<R>& column : columns) {
        if (!line.empty()) line += ',';
        line += column.name;
    }
    return line + "\r\n";
}

template <typename R, std::size_t N>
std::string csv_row_of(const ColumnOf<R> (&columns)[N], const R& record) {
    std::string line;
    bool first = true;
    for (const ColumnOf<R>& column : columns) {
        if (!first) line += ',';
        first = false;
        const Cell cell = column.value(record);
        if (cell.kind == Cell::Kind::number) line += std::to_string(cell.number);
        if (cell.kind == Cell::Kind::text) line += csv_field(cell.text);
    }
    return line + "\r\n";
}

// The record as one JSON object, without a line end; `keep` chooses the columns.
template <typename R, std::size_t N>
std::string json_object_of(const ColumnOf<R> (&columns)[N], const R& record,
                           bool (*keep)(std::string_view name)) {
    JsonLine line;
    for (const ColumnOf<R>& column : columns) {
        if (!keep(column.name)) continue;
        const Cell cell = column.value(record);
        switch (cell.kind) {
            case Cell::Kind::null:
                line.add_null(column.name);
                break;
            case Cell::Kind::number:
                line.add(column.name, cell.number);
                break;
            case Cell::Kind::text:
                line.add(column.name, std::string_view(cell.text));
                break;
        }
    }
    return line.text();
}

bool every_column(std::string_view) {
    return true;
}
bool no_hook_column(std::string_view name) {
    return !name.starts_with("hook");
}

}  // namespace

std::string csv_field(std::string_view value) {
    const bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!quote) return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string csv_header() {
    return csv_header_of(COLUMNS);
}

std::string csv_row(const RunRecord& run) {
    return csv_row_of(COLUMNS, run);
}

std::string json_row(const RunRecord& run) {
    return json_object_of(COLUMNS, run, every_column) + "\n";
}

std::string json_row_for_hook(const RunRecord& run) {
    return json_object_of(COLUMNS, run, no_hook_column);
}

StoreError export_runs(StationStore& store, const RunFilter& filter, LogFormat format,
                       const std::function<void(std::string_view)>& write) {
    if (format == LogFormat::csv) write(csv_header());
    return store.for_each_run(filter, [&](const RunRecord& run) {
        write(format == LogFormat::csv ? csv_row(run) : json_row(run));
    });
}

StoreError export_ids(StationStore& store, const IdFilter& filter, LogFormat format,
                      const std::function<void(std::string_view)>& write) {
    if (format == LogFormat::csv) write(csv_header_of(ID_COLUMNS));
    return store.for_each_id(filter, [&](const IdHolder& id) {
        write(format == LogFormat::csv ? csv_row_of(ID_COLUMNS, id)
                                       : json_object_of(ID_COLUMNS, id, every_column) + "\n");
    });
}

}  // namespace vrk::cli
