#include "app/cli/common/results.h"

#include <cassert>

namespace vrk::cli {

namespace {

using K = ResultKind;

constexpr ResultRow RESULTS[] = {
    {Result::success, "success", EXIT_OK, K::success, "everything asked for was done"},
    {Result::mismatch, "mismatch", EXIT_FAILED, K::unit_failed,
     "the unit's flash differs from the image (compare or verify)"},
    {Result::not_responding, "not_responding", EXIT_FAILED, K::unit_failed,
     "the unit stopped answering during an operation"},
    {Result::link_lost, "link_lost", EXIT_FAILED, K::unit_failed,
     "the unit went away during a step"},
    {Result::port_lost, "port_lost", EXIT_NO_LINK, K::port, "the port went away"},
    {Result::interrupted, "interrupted", EXIT_FAILED, K::interruption, "Ctrl+C ended it"},
    {Result::file_not_found, "file_not_found", EXIT_BAD_IMAGE, K::image,
     "the image does not exist"},
    {Result::file_unreadable, "file_unreadable", EXIT_BAD_IMAGE, K::image,
     "the image cannot be read"},
    {Result::file_empty, "file_empty", EXIT_BAD_IMAGE, K::image, "the image is empty"},
    {Result::file_too_large, "file_too_large", EXIT_BAD_IMAGE, K::image,
     "the image is larger than the unit's flash takes"},
    {Result::no_link, "no_link", EXIT_NO_LINK, K::port,
     "no unit answered within the link time-out, or one answered and did not report itself"},
    {Result::port_unavailable, "port_unavailable", EXIT_NO_LINK, K::port,
     "the port cannot be opened"},
    {Result::not_confirmed, "not_confirmed", EXIT_FAILED, K::unit_failed,
     "the unit did not confirm a change or a mode"},
    {Result::record_failed, "record_failed", EXIT_USAGE, K::usage,
     "the --record macro file cannot be created"},
    {Result::identity_unconfirmed, "identity_unconfirmed", EXIT_FAILED, K::unit_failed,
     "the unit's reports of its identity did not agree"},
    {Result::refused, "refused", EXIT_FAILED, K::unit_failed, "the unit fails the recipe's checks"},
    {Result::id_taken, "id_taken", EXIT_FAILED, K::unit_failed,
     "a fixed ID that the records give another unit"},
    {Result::ids_exhausted, "ids_exhausted", EXIT_USAGE, K::usage,
     "the ID scheme has no ID left (every port stops)"},
    {Result::image_changed, "image_changed", EXIT_BAD_IMAGE, K::image,
     "the image changed on the disk after the recipe checked it (every port stops)"},
    {Result::database_unusable, "database_unusable", EXIT_DATABASE, K::database,
     "the station database cannot be opened or written (every port stops)"},
    {Result::records_unavailable, "records_unavailable", EXIT_DATABASE, K::database,
     "the line's database went away and did not answer within --db-wait (every port stops)"},
    {Result::usage, "usage", EXIT_USAGE, K::usage,
     "a mistake on the command line or in the recipe"},
    {Result::trace_failed, "trace_failed", EXIT_USAGE, K::usage,
     "the --trace file cannot be created"},
};

constexpr ExitCodeSpec EXIT_CODES[] = {
    {EXIT_OK, "everything asked for succeeded (for download, including the verify)"},
    {EXIT_FAILED, "the unit answered but the operation failed, or Ctrl+C interrupted it"},
    {EXIT_USAGE,
     "usage error: unknown command or option, a bad value, an ID too long, a mistake in the\n"
     "recipe (named by file and line), a file that cannot be made, no ID left"},
    {EXIT_NO_LINK, "no link: the port cannot be opened or was lost, or no unit answered in time"},
    {EXIT_BAD_IMAGE,
     "the image does not exist, cannot be read, is empty or too large, or changed on the disk"},
    {EXIT_DATABASE,
     "the station database cannot be opened, is not one, is read-only or the disk is full\n"
     "(a unit whose record cannot be written is never shown passed; every port stops)"},
};

}  // namespace

std::span<const ResultRow> result_table() {
    return RESULTS;
}

const ResultRow& result_spec(Result result) {
    const auto index = static_cast<std::size_t>(result);
    assert(index < std::size(RESULTS) && RESULTS[index].result == result);
    return RESULTS[index];
}

Result result_of(device::Result result) {
    switch (result) {
        case device::Result::success:
            return Result::success;
        case device::Result::mismatch:
            return Result::mismatch;
        case device::Result::not_responding:
            return Result::not_responding;
        case device::Result::link_lost:
            return Result::link_lost;
        case device::Result::port_lost:
            return Result::port_lost;
        case device::Result::interrupted:
            return Result::interrupted;
        case device::Result::file_not_found:
            return Result::file_not_found;
        case device::Result::file_unreadable:
            return Result::file_unreadable;
        case device::Result::file_empty:
            return Result::file_empty;
        case device::Result::file_too_large:
            break;
    }
    return Result::file_too_large;
}

std::span<const ExitCodeSpec> exit_code_table() {
    return EXIT_CODES;
}

std::string exit_code_text() {
    constexpr std::string_view INDENT = "     ";
    std::string text;
    for (const ExitCodeSpec& code : EXIT_CODES) {
        text += "  " + std::to_string(code.code) + "  ";
        for (const char c : code.meaning) {
            text += c;
            if (c == '\n') text += INDENT;
        }
        // The results that end with it, in lines as wide as the rest of --help.
        std::string line = std::string(INDENT) + "results:";
        bool first = true;
        for (const ResultRow& r : RESULTS) {
            if (r.exit_code != code.code) continue;
            const std::string word = (first ? " " : ", ") + std::string(r.name);
            if (line.size() + word.size() > 91) {
                text += "\n" + line + ",";
                line = std::string(INDENT) + std::string(r.name);
            } else {
                line += word;
            }
            first = false;
        }
        text += "\n" + line + "\n";
    }
    return text;
}

}  // namespace vrk::cli
