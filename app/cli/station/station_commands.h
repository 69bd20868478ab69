// The station's commands as far as they need no unit: vrk log, vrk ids and vrk report, and what vrk
// program does before any port is opened (its recipe made and checked, its database opened).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/common/results.h"
#include "app/cli/station/log_export.h"
#include "app/cli/station/recipe.h"
#include "app/cli/station/report_output.h"
#include "app/cli/station/station_store.h"
#include "platform/files.h"

namespace vrk::cli {

// The environment variable that names the station database when neither --db nor the recipe
// does: a file, or a line database's URI.
inline constexpr const char* STATION_DB_VARIABLE = "VRK_DB";

// Why the database named `db` is refused before it is opened (a line database's URI holding a
// password, or one this build cannot reach), for standard error; nullopt when it may be opened.
[[nodiscard]] std::optional<std::string> database_name_problem(const std::string& db);

// The database's file when --db names none: station.db in the system's folder for the
// station's records (the user's data on Linux, the machine's ProgramData on Windows).
// `create_folder` makes the folder when it is missing (program; log only reads). nullopt, with
// the reason in *error, when the system names no such folder or it cannot be made.
[[nodiscard]] std::optional<std::string> default_station_db(bool create_folder, std::string* error);

// vrk program up to its first unit: the recipe, then the database (a recipe mistake is told
// without the database touched). When `store` is null, the run ends with `result` (usage or an
// image's failure for the recipe, database_unusable for the database), `error` saying why.
struct ProgramStart {
    std::optional<Recipe> recipe;
    std::unique_ptr<StationStore> store;
    Result result = Result::success;
    std::string error;
};
// Opens the station database for program; empty: open_station_store.
using StoreOpener =
    std::function<std::unique_ptr<StationStore>(const std::string& path, StoreError* error)>;
[[nodiscard]] ProgramStart start_program(const RecipeOptions& options, platform::FileSystem& files,
                                         const StoreOpener& open = {});

// What vrk log is asked for.
struct LogRequest {
    std::optional<std::string> db;  // nullopt: VRK_DB's, else the default database
    RunFilter filter;
    LogFormat format = LogFormat::csv;
};
// vrk log: the records of the database that pass the filter, written to `out` in the format
// asked for. Returns the exit code; errors go to `err`.
[[nodiscard]] int run_log(const LogRequest& request, std::FILE* out, std::FILE* err);

// What vrk import is asked for.
struct ImportRequest {
    std::string file;               // the station's SQLite file
    std::optional<std::string> db;  // the line's database; nullopt: VRK_DB's
};
// vrk import: the records of a station's file brought into the line's database: counters,
// IDs, then rows. Writes what it did to `out`, one line per conflict first. Returns the exit
// code: EXIT_FAILED when an ID conflicted.
[[nodiscard]] int run_import(const ImportRequest& request, std::FILE* out, std::FILE* err);
// What vrk ids is asked for.
struct IdsRequest {
    std::optional<std::string> db;  // nullopt: the default database
    IdFilter filter;
    LogFormat format = LogFormat::csv;
};
// vrk ids: the IDs of the database that pass the filter, with their states and sources.
[[nodiscard]] int run_ids(const IdsRequest& request, std::FILE* out, std::FILE* err);

// What vrk report is asked for.
struct ReportRequest {
    std::optional<std::string> db;  // nullopt: the default database
    ReportQuery query;
    ReportFormat format = ReportFormat::text;
};
// vrk report: the numbers of the rows of the database that pass the query's filters, in the
// format asked for. Returns the exit code; errors go to `err`.
[[nodiscard]] int run_report(const ReportRequest& request, std::FILE* out, std::FILE* err);

}  // namespace vrk::cli
