#include "app/cli/station/station_commands.h"

#include "app/cli/station/log_export.h"
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

int run_log(const LogRequest& request, std::FILE* out, std::FILE* err) {
    const auto fail = [err](const std::string& message) {
        std::fprintf(err, "vrk: %s\n", message.c_str());
        return exit_code_of(Result::database_unusable);
    };
    std::string path = request.db.value_or("");
    if (!request.db) {
        std::string error;
        const auto found = default_station_db(false, &error);
        if (!found) return fail(error);
        path = *found;
    }
    StoreError failure;
    const auto store = open_station_store(path, StoreAccess::export_only, &failure);
    if (!store) return fail(failure.message);
    bool written = true;
    failure = export_runs(*store, request.filter, request.format, [&](std::string_view text) {
        written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    });
    if (!failure.ok()) return fail(failure.message);
    // Told after the rows, where a person sees it: the export itself is what could be read.
    if (!store->reading_note().empty())
        std::fprintf(err, "vrk: note: %s\n", store->reading_note().c_str());
    if (std::fflush(out) != 0 || !written) {
        std::fprintf(err, "vrk: the records could not be written to standard output\n");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

}  // namespace vrk::cli
