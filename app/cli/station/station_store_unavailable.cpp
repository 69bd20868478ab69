// The station's records on a system without SQLite (the Windows build: Debian has no SQLite
// for the cross-compiler). vrk program and vrk log say so and end.
#include "app/cli/station/station_store.h"

namespace vrk::cli {

bool station_store_available() {
    return false;
}

std::unique_ptr<StationStore> open_station_store(const std::string& path, StoreAccess,
                                                 StoreError* error) {
    *error = {StoreFailure::cannot_open,
              "the station database " + path + " cannot be used: this build has no SQLite"};
    return nullptr;
}

}  // namespace vrk::cli

namespace vrk::cli {

std::optional<std::string> line_uri_problem(const std::string&) {
    return std::nullopt;  // refused when opened: this build has no store at all
}

}  // namespace vrk::cli
