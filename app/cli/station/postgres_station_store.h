// The station's records on a PostgreSQL server: the line's database, shared by every station
// of a production line, so that one authority gives the IDs of the whole line.
//
// Every call is a transaction of its own on one connection per process (the ports' threads
// take turns, as with SQLite). The IDs' table's key on the ID guards every claim: an ID is
// inserted with ON CONFLICT DO NOTHING, and only the transaction whose row went in holds it,
// however many stations race for it. A scheme's counter is taken under a row lock (SELECT ...
// FOR UPDATE) for the length of one reservation, rather than inserting optimistically and
// retrying on conflict: stations of one line share their counters, so optimistic inserts would
// collide on every unit flashed at the same moment and each retry costs a round trip, while
// the lock is held for a few milliseconds and makes the others wait in turn, each then
// getting the next ID without a gap. A serial number has at most one bound ID (a unique
// index over the bound IDs).
//
// No statement waits forever: every connection sets lock_timeout (a lock held by another
// station), statement_timeout and idle_in_transaction_session_timeout (a station gone quiet
// in a transaction frees the counter it holds), and TCP keep-alives and a user time-out on the
// client's side, so that a server that vanishes is noticed.
//
// A server that goes away in the middle of a run is waited for inside the call (riding_out):
// the call that finds the connection broken connects again at once (a backend ended alone
// comes back then), then 0.2 s later, waiting twice as long each time up to 5 s, until a call
// goes through or the outage limit (counted from the first failure) passes. The other ports'
// calls wait for their turn meanwhile, and every waiting port's observer is told. A statement
// whose reply was lost may have been committed: each call is safe to make again (a row's start
// by its key, its completion with the same values, a reservation looked up by its unit and
// run before another is made, a claim or a bind that finds the ID already the unit's, a
// hook's outcome already there).
//
// The schema is versioned in the table vrk_schema_version; a station brings it up to date
// in one transaction (DDL is transactional in PostgreSQL) under an advisory lock, so that
// stations started together upgrade it once. Readers read older versions as they are.
//
// vrk report reads the runs in their units' order and tallies them as on a station's file
// (report_tally.h); hours and days are converted by the server in the zone of the machine
// that asks, named to the server with the statement, since the server's own zone may be
// another.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/cli/station/station_store.h"

namespace vrk::cli {

// The steps this version of the tool knows, in PostgreSQL's dialect; the schema version is
// their number, as with SQLite.
[[nodiscard]] std::span<const SchemaStep> line_schema();

// Whether this process's libpq can speak TLS. The Windows build's libpq is made without
// OpenSSL (scripts/libpq-windows), Debian's for Linux with it.
[[nodiscard]] bool line_client_has_tls();

// line_uri_problem for a client with or without TLS: besides a password and what libpq cannot
// read, a URI is refused when its sslmode (else PGSSLMODE) asks for TLS that the client lacks:
// require, verify-ca, verify-full, or requiressl=1 (the older way of saying require). Without
// TLS only disable, allow and prefer work (prefer, libpq's default, falls back to a plain
// connection). The message says what to do instead.
[[nodiscard]] std::optional<std::string> line_uri_problem_for(const std::string& uri,
                                                              bool client_has_tls);

struct PostgresStoreSettings {
    // The schema's steps (empty: line_schema()). For tests of a schema's upgrade.
    std::span<const SchemaStep> schema;
    // How long a statement waits for another station's lock.
    int busy_timeout_ms = STORE_BUSY_TIMEOUT_MS;
    // How long a call waits for a server that went away (set_outage_limit).
    std::uint32_t outage_limit_ms = STORE_OUTAGE_LIMIT_DEFAULT_S * 1000;
};

[[nodiscard]] std::unique_ptr<StationStore> open_postgres_station_store(
    const std::string& uri, StoreAccess access, StoreError* error,
    const PostgresStoreSettings& settings = {});

}  // namespace vrk::cli
