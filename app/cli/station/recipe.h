// The recipe of vrk program: what every unit on the station gets, in this order: the image
// downloaded (and verified), its ID, its three device settings, then optionally its
// application started or QB7 mode; checks that refuse a unit before it is touched. It comes
// from the command line, from a TOML file (--recipe station.toml), or both: the command line
// overrides the file key by key.
//
// make_recipe checks everything that can be checked without a unit: a recipe that comes back
// is one the flow can carry out on every unit; a mistake is reported before any port or the
// database is opened, naming the file and line it sits on ("station.toml:7: ...").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/common/results.h"
#include "app/cli/station/device_codes.h"
#include "app/cli/station/id_scheme.h"
#include "device/events.h"
#include "platform/files.h"

namespace vrk::cli {

// What a unit is left doing at the end of its run: in its configuration (none), running its
// application, or in QB7 mode.
enum class FinalMode { none, run, qb7 };
// "run" and "qb7", as the command line and recipe files write them; nullopt for another text.
[[nodiscard]] std::optional<FinalMode> final_mode_named(std::string_view name);
[[nodiscard]] std::string_view final_mode_name(FinalMode mode);

// What the command line says of a recipe: each is nullopt (or empty) when not given; the
// recipe file, if any, fills in what the command line leaves out (see make_recipe).
struct RecipeOptions {
    std::vector<std::string> ports;  // --port, in order given: a fixed ID goes to one
    bool repeat = false;
    std::string image;                     // download, compare, program
    bool verify = true;                    // --no-verify turns it off
    std::optional<std::string> recipe;     // --recipe FILE
    std::optional<std::string> fixed_id;   // --id: a station ID (letters upper case)
    std::optional<std::string> id_format;  // --id-format: checked once the station is known
    std::optional<std::uint64_t> id_start;
    bool new_id = false;
    DeviceCodes settings;           // --set gps=VALUE, internal=, external=: resolved codes
    std::optional<FinalMode> then;  // --then run|qb7
    std::optional<std::uint32_t> station_number;
    std::string operator_name;           // --operator, empty by default
    std::optional<std::string> lot;      // --lot: the work order the units belong to
    std::optional<std::string> db;       // program, log, report, import: --db FILE|URI
    std::optional<std::uint32_t> count;  // program --repeat: stop after this many units
    std::optional<std::uint32_t> max_failures;
    std::optional<std::string> on_unit;  // --on-unit COMMAND
    std::optional<std::uint32_t> on_unit_timeout_s;
    std::optional<std::uint32_t> db_wait_s;  // --db-wait SECONDS
};

// How long a hook may run unless told otherwise.
inline constexpr std::uint32_t HOOK_TIMEOUT_DEFAULT_S = 30;
inline constexpr std::uint32_t HOOK_TIMEOUT_MAX_S = 86400;
// How long a station waits for a line's server that went away (--db-wait, db_wait), and the
// most it may be told: a day, as for a hook.
inline constexpr std::uint32_t DB_WAIT_DEFAULT_S = 60;
inline constexpr std::uint32_t DB_WAIT_MAX_S = 86400;

enum class IdChoice {
    keep,    // no ID step: the unit keeps the ID it has
    fixed,   // fixed_id, for the one unit of the run
    scheme,  // the next ID of `scheme`, unless the unit has one already (see below)
};

// Conditions a unit must meet before it is touched; one it fails is recorded as refused.
struct RecipeChecks {
    std::optional<std::uint8_t> flash_type;  // the flash type code the unit must report
    // The lowest firmware version the unit may report, in hundredths (2.15 is 215).
    std::optional<std::int16_t> min_version;
};

struct Recipe {
    std::string source;  // the recipe file as named, empty when there is none

    std::string image;         // the image's path, as it is opened (relative to the file's folder
                               // when the file named it)
    std::string image_sha256;  // of the image as read now: 64 lower-case hex digits
    std::uint32_t image_size = 0;
    bool verify = true;

    IdChoice id_choice = IdChoice::keep;
    std::string fixed_id;  // IdChoice::fixed: a station ID (0x21-0x7E, letters upper case)
    // IdChoice::scheme: a unit whose serial number the records bind to an ID keeps that ID; a
    // unit that carries an ID the scheme gives (at any station) keeps it unless another unit
    // holds it; any other unit gets the scheme's next ID. new_id: a unit the records know gets
    // a new one all the same (its old ID is spent).
    std::optional<IdScheme> scheme;
    std::optional<std::uint64_t> id_start;  // the counter starts at, or is raised to, this
    bool new_id = false;

    DeviceCodes settings;  // nullopt: left as the unit has it
    FinalMode then = FinalMode::none;
    RecipeChecks checks;

    // Of the station, for the records.
    std::optional<std::uint32_t> station_number;
    std::string operator_name;
    std::optional<std::string> lot;  // the work order the units belong to
    std::string db_path;

    // --repeat: stop after this many units, or after this many failures, over all ports.
    bool repeat = false;
    std::optional<std::uint32_t> count;
    std::optional<std::uint32_t> max_failures;

    // The hook run once each unit's row is completed: the command as given, and its words
    // (empty: no hook).
    std::string on_unit;
    std::vector<std::string> on_unit_words;
    std::uint32_t on_unit_timeout_ms = HOOK_TIMEOUT_DEFAULT_S * 1000;

    // How long a call to a line's database waits for its server (0: it fails at once); a
    // station's file ignores it.
    std::uint32_t db_wait_ms = DB_WAIT_DEFAULT_S * 1000;
};

struct RecipeOutcome {
    std::optional<Recipe> recipe;
    // When there is no recipe: usage, or the image's failure for an image named on the
    // command line; `error` is a whole sentence for standard error.
    Result result = Result::success;
    std::string error;
};

// The recipe of `options` (Command::program): the recipe file read through `files` and parsed,
// the command line laid over it, the image read and its SHA-256 taken, every value checked.
// `db_path` is the database to use when neither --db nor the recipe's db names one.
[[nodiscard]] RecipeOutcome make_recipe(const RecipeOptions& options, platform::FileSystem& files,
                                        const std::string& db_path);

// What a recipe file says, each value with the line it stands on. Only the keys present are
// set; types are checked, values are not (make_recipe does that).
template <typename T>
struct FromFile {
    T value{};
    std::uint32_t line = 0;
};

struct RecipeFile {
    std::optional<FromFile<std::string>> image, image_sha256, id, id_format, then, lot, on_unit;
    // The station database (a file, or a line database's URI) when --db names none.
    std::optional<FromFile<std::string>> db;
    std::optional<FromFile<bool>> verify;
    std::optional<FromFile<std::int64_t>> id_start, db_wait;
    // [settings]: a value as vrk set takes it; an integer is a code, kept as its decimal text.
    std::optional<FromFile<std::string>> gps, internal, external;
    // [checks]
    std::optional<FromFile<std::int64_t>> flash_type;
    std::optional<FromFile<std::string>> min_version;
};

// Parses the text of a recipe file named `name` (the name errors carry). nullopt, with
// "name:line: what is wrong" in *error, for TOML that does not parse, a key that is not one of
// the recipe's, or a value of the wrong type. Builds without a TOML library say so.
[[nodiscard]] std::optional<RecipeFile> parse_recipe_file(std::string_view text,
                                                          const std::string& name,
                                                          std::string* error);

}  // namespace vrk::cli
