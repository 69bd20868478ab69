#include "app/cli/station/station_commands.h"

#include "app/cli/station/log_export.h"
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

std::optional<std::string> database_name_problem(const std::string& db) {
    if (!is_line_database(db)) return std::nullopt;
    return line_uri_problem(db);
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
    // The recipe first: a mistake in it is told before anything is created or opened. The
    // database is the command line's, else the recipe's, else VRK_DB's, else the default file.
    std::string db_error;
    const auto from_environment = platform::environment_variable(STATION_DB_VARIABLE);
    const std::optional<std::string> fallback =
        from_environment ? from_environment : default_station_db(false, &db_error);
    RecipeOutcome made = make_recipe(options, files, fallback.value_or(""));
    if (!made.recipe) return fail(made.exit_code, made.result, made.error);
    const std::string& db = made.recipe->db_path;
    if (db.empty()) return fail(EXIT_DATABASE, "database_unusable", db_error);
    if (const auto problem = database_name_problem(db))
        return fail(EXIT_USAGE, "usage", *problem);
    const bool default_file = !from_environment && fallback && db == *fallback;
    if (default_file && !default_station_db(true, &db_error))
        return fail(EXIT_DATABASE, "database_unusable", db_error);

    StoreError failure;
    start.store = open ? open(made.recipe->db_path, &failure)
                       : open_station_store(made.recipe->db_path, StoreAccess::station, &failure);
    if (!start.store) return fail(EXIT_DATABASE, "database_unusable", failure.message);
    start.recipe = std::move(made.recipe);
    return start;
}

int run_log(const Options& options, std::FILE* out, std::FILE* err) {
    const auto fail = [err](const std::string& message) {
        std::fprintf(err, "vrk: %s\n", message.c_str());
        return EXIT_DATABASE;
    };
    std::string path = options.db ? *options.db
                                   : platform::environment_variable(STATION_DB_VARIABLE).value_or("");
    if (const auto problem = database_name_problem(path)) {
        std::fprintf(err, "vrk: %s\n", problem->c_str());
        return EXIT_USAGE;
    }
    if (path.empty()) {
        std::string error;
        const auto found = default_station_db(false, &error);
        if (!found) return fail(error);
        path = *found;
    }
    StoreError failure;
    const auto store = open_station_store(path, StoreAccess::export_only, &failure);
    if (!store) return fail(failure.message);
    RunFilter filter;
    filter.since = options.since;
    filter.serial_number = options.serial_number;
    filter.id = options.id_filter;
    bool written = true;
    failure = export_runs(*store, filter, options.log_format, [&](std::string_view text) {
        written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    });
    if (!failure.ok()) return fail(failure.message);
    if (std::fflush(out) != 0 || !written) {
        std::fprintf(err, "vrk: the records could not be written to standard output\n");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int run_import(const Options& options, std::FILE* out, std::FILE* err) {
    const auto say = [err](const std::string& message, int code) {
        std::fprintf(err, "vrk: %s\n", message.c_str());
        return code;
    };
    const std::string line =
        options.db ? *options.db
                   : platform::environment_variable(STATION_DB_VARIABLE).value_or("");
    if (!is_line_database(line))
        return say("vrk import brings a station's file into a line's database: name it with "
                   "--db postgresql://USER@HOST/DB (or VRK_DB)",
                   EXIT_USAGE);
    if (const auto problem = database_name_problem(line)) return say(*problem, EXIT_USAGE);
    StoreError failure;
    const auto from = open_station_store(options.image, StoreAccess::export_only, &failure);
    if (!from) return say(failure.message, EXIT_DATABASE);
    const auto into = open_station_store(line, StoreAccess::station, &failure);
    if (!into) return say(failure.message, EXIT_DATABASE);

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
        failure = from->for_each_id([&](const IdRecord& id) {
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
                                 id.holder.id.c_str(),
                                 std::string(id_state_name(id.holder.state)).c_str(),
                                 id.holder.serial_number, options.image.c_str(), h.id.c_str(),
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
    if (!failure.ok()) return say(failure.message, EXIT_DATABASE);
    if (!stopped.ok()) return say(stopped.message, EXIT_DATABASE);
    std::fprintf(out,
                 "imported %s: %zu rows (%zu there already), %zu IDs (%zu there already, %zu "
                 "in conflict), %zu counters raised\n",
                 options.image.c_str(), rows, rows_known, ids, ids_known, conflicts, counters);
    if (std::fflush(out) != 0) return EXIT_FAILED;
    return conflicts > 0 ? EXIT_FAILED : EXIT_OK;
}

}  // namespace vrk::cli
