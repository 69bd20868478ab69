// How anything vrk does can end: one row per result, with its name (in JSON, in the text lines
// and in the station's records), its exit code, its kind and what it means. Every exit code
// vrk returns comes from these rows; --help and the README list them.
//
// Used by the command line and by its station alike: nothing here knows either.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "device/events.h"

namespace vrk::cli {

// The exit codes. With several ports, the highest of theirs.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;     // the unit answered but the operation failed
inline constexpr int EXIT_USAGE = 2;      // unknown command or option, bad value
inline constexpr int EXIT_NO_LINK = 3;    // port not opened or lost, no unit within the time-out
inline constexpr int EXIT_BAD_IMAGE = 4;  // the image is missing, unreadable, empty or too large
inline constexpr int EXIT_DATABASE = 5;   // the station database cannot be opened or written

enum class ResultKind {
    success,
    unit_failed,   // the unit answered, and did not do what was asked
    usage,         // the command line, a recipe, a file vrk was to make
    port,          // the port or the link to the unit
    image,         // the image file
    database,      // the station's records
    interruption,  // Ctrl+C
};

enum class Result {
    success,
    mismatch,
    not_responding,
    link_lost,
    port_lost,
    interrupted,
    file_not_found,
    file_unreadable,
    file_empty,
    file_too_large,
    no_link,
    port_unavailable,
    not_confirmed,
    record_failed,
    identity_unconfirmed,
    refused,
    id_taken,
    ids_exhausted,
    image_changed,
    database_unusable,
    records_unavailable,
    usage,
    trace_failed,
};

struct ResultRow {
    Result result;
    std::string_view name;  // stable: scripts and records compare it
    int exit_code;
    ResultKind kind;
    std::string_view meaning;  // for people, in --help
};

// Every result, in the order of the enumeration.
[[nodiscard]] std::span<const ResultRow> result_table();
[[nodiscard]] const ResultRow& result_spec(Result result);
[[nodiscard]] inline std::string_view result_name(Result result) {
    return result_spec(result).name;
}
[[nodiscard]] inline int exit_code_of(Result result) {
    return result_spec(result).exit_code;
}
// The engine's end of an operation as vrk's result.
[[nodiscard]] Result result_of(device::Result result);

// What each exit code means, for --help.
struct ExitCodeSpec {
    int code;
    std::string_view meaning;
};
[[nodiscard]] std::span<const ExitCodeSpec> exit_code_table();

// --help's list of exit codes, each with its meaning and the results that end with it.
[[nodiscard]] std::string exit_code_text();

}  // namespace vrk::cli
