// The station's records in SQLite: one file, nothing to start, safe for several processes.
//
// The file is in WAL mode (readers, such as vrk log, never wait for a station that writes)
// with synchronous=FULL (a transaction that returned is on the medium, also across a power
// cut). Every transaction that writes begins IMMEDIATE, so it takes the write lock at once and
// waits for another process's (busy time-out) instead of failing half-way. The tables carry a
// schema version (PRAGMA user_version) and are brought up to date, one step after the other,
// when the file is opened for a station.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/cli/station/station_store.h"
#include "platform/machine.h"

namespace vrk::cli {

// One step of the schema's history: SQL that takes the tables from version n to n + 1, where
// n is the step's index in the list.
struct SchemaStep {
    std::string_view sql;
};

// The steps this version of the tool knows; the schema version is their number.
[[nodiscard]] std::span<const SchemaStep> station_schema();

struct SqliteStoreSettings {
    // The SQLite VFS to open the file with (empty: the system's default). For tests that make
    // the medium fail.
    std::string vfs;
    // The schema's steps (empty: station_schema()). For tests of a schema's upgrade.
    std::span<const SchemaStep> schema;
    // How long a call waits for another connection's transaction.
    int busy_timeout_ms = STORE_BUSY_TIMEOUT_MS;
    // What stands in the way of writing the file, when SQLite cannot say (empty: ask the
    // system). For tests that make the medium fail through `vfs`.
    std::function<platform::WriteBlock(const std::string&)> why_unwritable;
};

[[nodiscard]] std::unique_ptr<StationStore> open_sqlite_station_store(
    const std::string& path, StoreAccess access, StoreError* error,
    const SqliteStoreSettings& settings = {});

}  // namespace vrk::cli
