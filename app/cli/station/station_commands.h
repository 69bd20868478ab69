// The station's commands as far as they need no unit: vrk log and vrk report, and what vrk
// program does before any port is opened (its recipe made and checked, its database opened).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/options.h"
#include "app/cli/station/recipe.h"
#include "app/cli/station/station_store.h"
#include "platform/files.h"

namespace vrk::cli {

// The database's file when --db names none: <user data>/vrk/station.db. `create_folder` makes
// the folder when it is missing (program; log only reads). nullopt, with the reason in *error,
// when the system names no folder for user data or it cannot be made.
[[nodiscard]] std::optional<std::string> default_station_db(bool create_folder, std::string* error);

// vrk program up to its first unit: the recipe, then the database (a recipe mistake is told
// without the database touched). When `store` is null, the run must end with `exit_code`:
// EXIT_USAGE or EXIT_BAD_IMAGE (the recipe), EXIT_DATABASE (the database), with `error` for
// standard error and `result` its stable name.
struct ProgramStart {
    std::optional<Recipe> recipe;
    std::unique_ptr<StationStore> store;
    int exit_code = EXIT_OK;
    std::string result;
    std::string error;
};
// Opens the station database for program; empty: open_station_store.
using StoreOpener =
    std::function<std::unique_ptr<StationStore>(const std::string& path, StoreError* error)>;
[[nodiscard]] ProgramStart start_program(const Options& options, platform::FileSystem& files,
                                         const StoreOpener& open = {});

// vrk log: the records of the database (--db, or the default) that pass the filters, written
// to `out` in the format asked for. Returns the exit code; errors go to `err`.
[[nodiscard]] int run_log(const Options& options, std::FILE* out, std::FILE* err);

// vrk report: the numbers of the rows of the database (--db, or the default) that pass the
// filters, in the format asked for. Returns the exit code; errors go to `err`.
[[nodiscard]] int run_report(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace vrk::cli
