#include "app/cli/station/station_commands.h"

#include "app/cli/station/log_export.h"
#include "app/cli/station/report_output.h"
#include "platform/machine.h"

namespace vrk::cli {

std::optional<std::string> default_station_db(bool create_folder, std::string* error) {
    const auto data = platform::user_data_directory();
    if (!data) {
        *error =
            "this system names no folder for your data (HOME is not set): name the "
            "station database with --db FILE";
        return std::nullopt;
    }
    const std::string folder = *data + "/vrk";
    if (create_folder && !platform::make_directories(folder, nullptr)) {
        *error = "the folder " + folder +
                 " for the station database cannot be made: name another with --db FILE";
        return std::nullopt;
    }
    return folder + "/station.db";
}

ProgramStart start_program(const Options& options, platform::FileSystem& files,
                           const StoreOpener& open) {
    ProgramStart start;
    const auto fail = [&start](int code, std::string result, std::string error) {
        start.exit_code = code;
        start.result = std::move(result);
        start.error = std::move(error);
        start.recipe.reset();
        start.store.reset();
        return std::move(start);
    };
    // The recipe first: a mistake in it is told before anything is created or opened.
    std::string db_error;
    const std::optional<std::string> db =
        options.db ? options.db : default_station_db(false, &db_error);
    RecipeOutcome made = make_recipe(options, files, db.value_or(""));
    if (!made.recipe) return fail(made.exit_code, made.result, made.error);
    if (!db || (!options.db && !default_station_db(true, &db_error)))
        return fail(EXIT_DATABASE, "database_unusable", db_error);

    StoreError failure;
    start.store = open ? open(made.recipe->db_path, &failure)
                       : open_station_store(made.recipe->db_path, StoreAccess::station, &failure);
    if (!start.store) return fail(EXIT_DATABASE, "database_unusable", failure.message);
    start.recipe = std::move(made.recipe);
    return start;
}

namespace {

// The database a reader opens: --db, or the user's own. nullptr after the reason is told.
std::unique_ptr<StationStore> open_for_reading(const Options& options, std::FILE* err) {
    std::string path = options.db.value_or("");
    if (!options.db) {
        std::string error;
        const auto found = default_station_db(false, &error);
        if (!found) {
            std::fprintf(err, "vrk: %s\n", error.c_str());
            return nullptr;
        }
        path = *found;
    }
    StoreError failure;
    auto store = open_station_store(path, StoreAccess::export_only, &failure);
    if (!store) std::fprintf(err, "vrk: %s\n", failure.message.c_str());
    return store;
}

// Standard output flushed: EXIT_OK, or the failure told (a full disk, a closed pipe).
int finish_output(std::FILE* out, std::FILE* err, bool written, const char* what) {
    if (std::fflush(out) != 0 || !written) {
        std::fprintf(err, "vrk: %s could not be written to standard output\n", what);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

}  // namespace

int run_log(const Options& options, std::FILE* out, std::FILE* err) {
    const auto store = open_for_reading(options, err);
    if (!store) return EXIT_DATABASE;
    RunFilter filter;
    filter.since = options.since;
    filter.serial_number = options.serial_number;
    filter.id = options.id_filter;
    filter.lot = options.lot;
    bool written = true;
    const StoreError failure =
        export_runs(*store, filter, options.log_format, [&](std::string_view text) {
            written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
        });
    if (!failure.ok()) {
        std::fprintf(err, "vrk: %s\n", failure.message.c_str());
        return EXIT_DATABASE;
    }
    return finish_output(out, err, written, "the records");
}

int run_report(const Options& options, std::FILE* out, std::FILE* err) {
    const auto store = open_for_reading(options, err);
    if (!store) return EXIT_DATABASE;
    ReportQuery query;
    query.since = options.since;
    query.until = options.until;
    query.lot = options.lot;
    query.station_number = options.station_number;
    if (!options.operator_name.empty()) query.operator_name = options.operator_name;
    query.by = options.report_by;
    query.utc = options.utc;
    const StoreResult<Report> report = store->report(query);
    if (!report.ok()) {
        std::fprintf(err, "vrk: %s\n", report.error.message.c_str());
        return EXIT_DATABASE;
    }
    const std::string text = format_report(report.value, query, options.report_format);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return finish_output(out, err, written, "the report");
}

}  // namespace vrk::cli
