// A line's database on a build without libpq (Windows, until its client library is built for
// mingw-w64): a postgresql:// URI is refused before anything is opened, with the way out, and
// the station's own file works as everywhere else.
#include "app/cli/station/postgres_station_store.h"

namespace vrk::cli {

namespace {

constexpr const char* NO_CLIENT =
    "this build of vrk has no PostgreSQL client, so it cannot use a line's database: keep "
    "this station's records in a file (--db FILE, or the default) and bring them into the "
    "line's database later with vrk import on a Linux station";

}  // namespace

std::span<const SchemaStep> line_schema() {
    return {};
}

std::optional<std::string> line_uri_problem(const std::string&) {
    return NO_CLIENT;
}

std::unique_ptr<StationStore> open_postgres_station_store(const std::string&, StoreAccess,
                                                          StoreError* error,
                                                          const PostgresStoreSettings&) {
    *error = {StoreFailure::cannot_open, NO_CLIENT};
    return nullptr;
}

}  // namespace vrk::cli
