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

std::optional<std::string> database_name_problem(const std::string& db) {
    if (!is_line_database(db)) return std::nullopt;
    return line_uri_problem(db);
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
    // The recipe first: a mistake in it is told before anything is created or opened. The
    // database is the command line's, else the recipe's, else VRK_DB's, else the default file.
    std::string db_error;
    const auto from_environment = platform::environment_variable(STATION_DB_VARIABLE);
    const std::optional<std::string> fallback =
        from_environment ? from_environment : default_station_db(false, &db_error);
    RecipeOutcome made = make_recipe(options, files, fallback.value_or(""));
    if (!made.recipe) return fail(made.result, made.error);
    const std::string& db = made.recipe->db_path;
    if (db.empty()) return fail(Result::database_unusable, db_error);
    if (const auto problem = database_name_problem(db)) return fail(Result::usage, *problem);
    const bool default_file = !from_environment && fallback && db == *fallback;
    if (default_file && !default_station_db(true, &db_error))
        return fail(Result::database_unusable, db_error);

    StoreError failure;
    start.store = open ? open(made.recipe->db_path, &failure)
                       : open_station_store(made.recipe->db_path, StoreAccess::station, &failure);
    if (!start.store) return fail(Result::database_unusable, failure.message);
    start.store->set_outage_limit(made.recipe->db_wait_ms);
    start.recipe = std::move(made.recipe);
    return start;
}

namespace {

// The database a reader opens: `db`, else VRK_DB's, else the station's own file. nullptr
// after the reason is told, with the exit code it calls for in `code`.
std::unique_ptr<StationStore> open_for_reading(const std::optional<std::string>& db,
                                               std::FILE* err, int* code) {
    *code = exit_code_of(Result::database_unusable);
    std::string path =
        db ? *db : platform::environment_variable(STATION_DB_VARIABLE).value_or("");
    if (const auto problem = database_name_problem(path)) {
        std::fprintf(err, "vrk: %s\n", problem->c_str());
        *code = exit_code_of(Result::usage);
        return nullptr;
    }
    if (path.empty()) {
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
    int code = 0;
    const auto store = open_for_reading(db, err, &code);
    if (!store) return code;
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
    int code = 0;
    const auto store = open_for_reading(request.db, err, &code);
    if (!store) return code;
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

int run_import(const ImportRequest& request, std::FILE* out, std::FILE* err) {
    const auto say = [err](const std::string& message, int code) {
        std::fprintf(err, "vrk: %s\n", message.c_str());
        return code;
    };
    const std::string line =
        request.db ? *request.db
                   : platform::environment_variable(STATION_DB_VARIABLE).value_or("");
    if (!is_line_database(line))
        return say("vrk import brings a station's file into a line's database: name it with "
                   "--db postgresql://USER@HOST/DB (or VRK_DB)",
                   exit_code_of(Result::usage));
    if (const auto problem = database_name_problem(line)) return say(*problem, exit_code_of(Result::usage));
    StoreError failure;
    const auto from = open_station_store(request.file, StoreAccess::export_only, &failure);
    if (!from) return say(failure.message, exit_code_of(Result::database_unusable));
    const auto into = open_station_store(line, StoreAccess::station, &failure);
    if (!into) return say(failure.message, exit_code_of(Result::database_unusable));

    // The first failure ends the import; what was imported before it stays (each row and ID
    // is its own transaction, and importing again adds only what is missing).
    StoreError stopped;
    std::size_t counters = 0, ids = 0, ids_known = 0, conflicts = 0, rows = 0, rows_known = 0;
    failure = from->for_each_counter([&](const CounterRecord& counter) {
        if (!stopped.ok()) return;
        const auto raised = into->raise_counter(counter);
        if (!raised.ok()) stopped = raised.error;
        counters += raised.value ? 1 : 0;
    });
    if (failure.ok() && stopped.ok())
        failure = from->for_each_id({}, [&](const IdHolder& id) {
            if (!stopped.ok()) return;
            const auto imported = into->import_id(id);
            if (!imported.ok()) {
                stopped = imported.error;
                return;
            }
            switch (imported.value.outcome) {
                case ImportedId::Outcome::added:
                    ++ids;
                    break;
                case ImportedId::Outcome::known:
                    ++ids_known;
                    break;
                case ImportedId::Outcome::conflict: {
                    ++conflicts;
                    const IdHolder& h = imported.value.holder.value_or(IdHolder{});
                    std::fprintf(out,
                                 "conflict: %s is %s for serial number %d in %s, but the line "
                                 "holds %s %s for serial number %d: left as the line has it\n",
                                 id.id.c_str(),
                                 std::string(id_state_name(id.state)).c_str(),
                                 id.serial_number, request.file.c_str(), h.id.c_str(),
                                 std::string(id_state_name(h.state)).c_str(), h.serial_number);
                    break;
                }
            }
        });
    if (failure.ok() && stopped.ok())
        failure = from->for_each_run({}, [&](const RunRecord& run) {
            if (!stopped.ok()) return;
            const auto added = into->import_run(run);
            if (!added.ok()) stopped = added.error;
            (added.value ? rows : rows_known) += added.ok() ? 1 : 0;
        });
    if (!failure.ok()) return say(failure.message, exit_code_of(Result::database_unusable));
    if (!stopped.ok()) return say(stopped.message, exit_code_of(Result::database_unusable));
    std::fprintf(out,
                 "imported %s: %zu rows (%zu there already), %zu IDs (%zu there already, %zu "
                 "in conflict), %zu counters raised\n",
                 request.file.c_str(), rows, rows_known, ids, ids_known, conflicts, counters);
    if (std::fflush(out) != 0) return EXIT_FAILED;
    return conflicts > 0 ? EXIT_FAILED : EXIT_OK;
}

}  // namespace vrk::cli
