#include "app/cli/station/station_commands.h"

#include "app/cli/station/log_export.h"
#include "app/cli/station/report_output.h"
#include "platform/machine.h"

namespace vrk::cli {

std::optional<std::string> default_station_db(bool create_folder, std::string* error) {
    const auto found = platform::station_data_directory();
    if (!found) {
        *error =
            "this system names no folder for the station database (is HOME set?): name the "
            "station database with --db FILE";
        return std::nullopt;
    }
    const std::string& folder = *found;
    if (create_folder && !platform::make_directories(folder, nullptr)) {
        *error = "the folder " + folder +
                 " for the station database cannot be made: name another with --db FILE";
        return std::nullopt;
    }
    return platform::path_in(folder, "station.db");
}

ProgramStart start_program(const RecipeOptions& options, platform::FileSystem& files,
                           const StoreOpener& open) {
    ProgramStart start;
    const auto fail = [&start](Result result, std::string error) {
        start.result = result;
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
    if (!made.recipe) return fail(made.result, made.error);
    if (!db || (!options.db && !default_station_db(true, &db_error)))
        return fail(Result::database_unusable, db_error);

    StoreError failure;
    start.store = open ? open(made.recipe->db_path, &failure)
                       : open_station_store(made.recipe->db_path, StoreAccess::station, &failure);
    if (!start.store) return fail(Result::database_unusable, failure.message);
    start.recipe = std::move(made.recipe);
    return start;
}

namespace {

// The database a reader opens: `db`, or the station's own. nullptr after the reason is told.
std::unique_ptr<StationStore> open_for_reading(const std::optional<std::string>& db,
                                               std::FILE* err) {
    std::string path = db.value_or("");
    if (!db) {
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

// Standard output flushed: success, or the failure told (a full disk, a closed pipe).
int finish_output(std::FILE* out, std::FILE* err, bool written, const char* what) {
    if (std::fflush(out) != 0 || !written) {
        std::fprintf(err, "vrk: %s could not be written to standard output\n", what);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// Told after the output, where a person sees it: what was shown is what could be read.
void tell_reading_note(const StationStore& store, std::FILE* err) {
    if (!store.reading_note().empty())
        std::fprintf(err, "vrk: note: %s\n", store.reading_note().c_str());
}

// An export of the database named by `db`, written to `out` by `export_to`.
int run_export(const std::optional<std::string>& db, std::FILE* out, std::FILE* err,
               const char* what,
               const std::function<StoreError(StationStore&,
                                              const std::function<void(std::string_view)>&)>&
                   export_to) {
    const auto store = open_for_reading(db, err);
    if (!store) return exit_code_of(Result::database_unusable);
    bool written = true;
    const StoreError failure = export_to(*store, [&](std::string_view text) {
        written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    });
    if (!failure.ok()) {
        std::fprintf(err, "vrk: %s\n", failure.message.c_str());
        return exit_code_of(Result::database_unusable);
    }
    tell_reading_note(*store, err);
    return finish_output(out, err, written, what);
}

}  // namespace

int run_log(const LogRequest& request, std::FILE* out, std::FILE* err) {
    return run_export(request.db, out, err, "the records", [&](StationStore& store, const auto& write) {
        return export_runs(store, request.filter, request.format, write);
    });
}

int run_ids(const IdsRequest& request, std::FILE* out, std::FILE* err) {
    return run_export(request.db, out, err, "the IDs", [&](StationStore& store, const auto& write) {
        return export_ids(store, request.filter, request.format, write);
    });
}

int run_report(const ReportRequest& request, std::FILE* out, std::FILE* err) {
    const auto store = open_for_reading(request.db, err);
    if (!store) return exit_code_of(Result::database_unusable);
    const StoreResult<Report> report = store->report(request.query);
    if (!report.ok()) {
        std::fprintf(err, "vrk: %s\n", report.error.message.c_str());
        return exit_code_of(Result::database_unusable);
    }
    const std::string text = format_report(report.value, request.query, request.format);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    tell_reading_note(*store, err);
    return finish_output(out, err, written, "the report");
}

}  // namespace vrk::cli
