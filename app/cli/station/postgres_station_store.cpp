#include "app/cli/station/postgres_station_store.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/cli/common/utc_time.h"
#include "app/cli/station/pg_connection.h"
#include "app/cli/station/report_tally.h"
#include "platform/machine.h"

namespace vrk::cli {

namespace {

using pg::param;
using pg::Param;

// Version 1: the runs, the IDs and the counters of the ID schemes, as in a station's file;
// times are timestamptz here, so the line's own reports can compute with them.
constexpr SchemaStep SCHEMA[] = {
    {R"sql(
CREATE TABLE runs (
    run_key          TEXT PRIMARY KEY,
    started_at       TIMESTAMPTZ NOT NULL,
    host             TEXT NOT NULL,
    station_number   BIGINT,
    operator         TEXT NOT NULL,
    port             TEXT NOT NULL,
    serial_number    INTEGER,
    id_before        TEXT,
    firmware_version TEXT,
    flash_type_code  SMALLINT,
    flash_type       TEXT,
    gps_before       SMALLINT,
    internal_before  SMALLINT,
    external_before  SMALLINT,
    image            TEXT NOT NULL,
    image_sha256     TEXT NOT NULL,
    tool_version     TEXT NOT NULL,
    id_after         TEXT,
    gps_after        SMALLINT,
    internal_after   SMALLINT,
    external_after   SMALLINT,
    step_download    TEXT,
    step_id          TEXT,
    step_settings    TEXT,
    step_then        TEXT,
    result           TEXT,
    exit_code        INTEGER,
    message          TEXT,
    duration_ms      BIGINT
);
CREATE INDEX runs_by_start ON runs (started_at);
CREATE INDEX runs_by_serial ON runs (serial_number);
CREATE TABLE ids (
    id            TEXT PRIMARY KEY,
    state         TEXT NOT NULL CHECK (state IN ('reserved', 'bound', 'spent')),
    serial_number INTEGER NOT NULL,
    scheme        TEXT NOT NULL,
    run_key       TEXT,
    reserved_at   TIMESTAMPTZ NOT NULL,
    bound_at      TIMESTAMPTZ
);
CREATE UNIQUE INDEX one_bound_id_per_unit ON ids (serial_number) WHERE state = 'bound';
CREATE INDEX ids_by_serial ON ids (serial_number);
CREATE TABLE counters (
    scheme     TEXT PRIMARY KEY,
    next_value BIGINT NOT NULL
);
)sql"},
    // Version 2: the work order of each run (rows from before have none: NULL), and the runs
    // of each unit in start order, which a report numbers to find each unit's first run.
    {R"sql(
ALTER TABLE runs ADD COLUMN lot TEXT;
CREATE INDEX runs_by_unit ON runs (serial_number, started_at, run_key);
)sql"},
    // Version 3: the hooks' outcomes, one per unit's run, beside its row.
    {R"sql(
CREATE TABLE hooks (
    run_key  TEXT PRIMARY KEY,
    status   TEXT NOT NULL,
    message  TEXT NOT NULL,
    ended_at TIMESTAMPTZ NOT NULL
);
)sql"},
    // Version 4: each ID's history: how it came into the records, the station that reserved
    // it, when it was spent. An ID of a scheme came from its counter; of the others (fixed or
    // carried) an older database cannot say which, and says nothing.
    {R"sql(
ALTER TABLE ids ADD COLUMN source TEXT;
ALTER TABLE ids ADD COLUMN station_number INTEGER;
ALTER TABLE ids ADD COLUMN spent_at TIMESTAMPTZ;
UPDATE ids SET source = 'scheme' WHERE scheme <> '';
)sql"},
};

// The versions that brought what readers of an older database (read as it is, never
// upgraded) find missing: they read NULL for the work order and no hook in its place.
constexpr std::int64_t VERSION_WITH_LOT = 2;
constexpr std::int64_t VERSION_WITH_HOOKS = 3;
constexpr std::int64_t VERSION_WITH_ID_HISTORY = 4;

// "VRKS": the advisory lock that stations take to bring the schema up to date one at a time.
constexpr long long SCHEMA_LOCK = 0x56524B53;
// A transaction that lost a race (a deadlock, a serialisation failure, two binds of one unit)
// is tried again this often before the call fails.
constexpr int TRANSACTION_TRIES = 5;
// The pauses between tries to connect again to a server that went away: short at first (a
// connection broken by a restart comes back at once), never so long that a station stands
// idle well after its server is back.
constexpr std::uint32_t FIRST_PAUSE_MS = 200;
constexpr std::uint32_t LONGEST_PAUSE_MS = 5000;

StoreError& error_of(StoreError& error) {
    return error;
}
template <typename T>
StoreError& error_of(StoreResult<T>& result) {
    return result.error;
}

// "60 s", "0.5 s": the outage limit as a person set it.
std::string seconds_text(std::uint32_t ms) {
    char text[32];
    if (ms % 1000 == 0)
        std::snprintf(text, sizeof text, "%u s", static_cast<unsigned>(ms / 1000));
    else
        std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

// The times as the records write them ("2025-03-01T12:30:15.000Z").
constexpr std::string_view UTC_TEXT =
    R"sql(to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'))sql";

std::string utc_text(std::string_view column) {
    std::string out(UTC_TEXT);
    out.replace(out.find("%s"), 2, column);
    return out;
}

IdState state_of(std::string_view text) {
    return id_state_named(text).value_or(IdState::reserved);
}

// An ID's columns for a SELECT, in the order holder_of() reads them.
std::string id_columns() {
    return "id, state, serial_number, scheme, source, station_number, run_key, " +
           utc_text("reserved_at") + ", " + utc_text("bound_at") + ", " + utc_text("spent_at");
}

IdHolder holder_of(const pg::Result& q, int row) {
    IdHolder h;
    h.id = q.text(row, 0);
    h.state = state_of(q.text(row, 1));
    h.serial_number = static_cast<std::int32_t>(q.integer(row, 2));
    h.scheme = q.text(row, 3);
    if (const auto source = q.optional_text(row, 4)) h.source = id_source_named(*source);
    h.station_number = q.optional_integer<std::uint32_t>(row, 5);
    h.run_key = q.optional_text(row, 6).value_or("");
    h.reserved_at = q.text(row, 7);
    h.bound_at = q.optional_text(row, 8);
    h.spent_at = q.optional_text(row, 9);
    return h;
}

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

class PostgresStationStore final : public StationStore {
  public:
    PostgresStationStore(std::string uri, const PostgresStoreSettings& settings)
        : uri_(std::move(uri)),
          busy_timeout_ms_(settings.busy_timeout_ms),
          outage_limit_ms_(settings.outage_limit_ms) {}

    const std::string& location() const override { return uri_; }

    void set_outage_limit(std::uint32_t ms) override {
        const std::lock_guard lock(state_mutex_);
        outage_limit_ms_ = ms;
    }
    void watch_waits(StoreWaitObserver* observer) override;

    StoreError begin_run(const RunStart& s) override;
    StoreError complete_run(const RunEnd& e) override;
    StoreError record_hook(const HookRecord& h) override;
    StoreResult<std::optional<std::string>> bound_id(std::int32_t serial_number) override;
    StoreResult<std::optional<IdHolder>> id_holder(std::string_view id) override;
    StoreResult<Reservation> reserve_next(const IdScheme& scheme,
                                          std::optional<std::uint64_t> id_start,
                                          const IdClaimant& claimant) override;
    StoreResult<Reservation> peek_next(const IdScheme& scheme,
                                       std::optional<std::uint64_t> id_start) override;
    StoreResult<std::optional<std::string>> pending_reservation(
        const IdScheme& scheme, std::int32_t serial_number) override;
    StoreResult<Claim> claim(std::string_view id, IdSource source,
                             const IdClaimant& claimant) override;
    StoreError bind(std::string_view id, std::int32_t serial_number) override;
    StoreError spend(std::string_view id) override;
    StoreError for_each_run(const RunFilter& filter,
                            const std::function<void(const RunRecord&)>& row) override;
    StoreError for_each_id(const IdFilter& filter,
                           const std::function<void(const IdHolder&)>& id) override;
    StoreError for_each_counter(const std::function<void(const CounterRecord&)>& row) override;
    StoreResult<bool> import_run(const RunRecord& run) override;
    StoreResult<ImportedId> import_id(const IdHolder& id) override;
    StoreResult<bool> raise_counter(const CounterRecord& counter) override;
    StoreResult<Report> report(const ReportQuery& query) override;

    // Connects, and readies the tables for `access`: the failure, or none.
    [[nodiscard]] StoreError start(StoreAccess access, std::span<const SchemaStep> schema);

  private:
    // The connection is one call's at a time, each call a transaction of its own. A call
    // waiting for its turn while the one before waits for a server that went away tells its
    // own thread's observer.
    class Turn {
      public:
        explicit Turn(PostgresStationStore& store) : store_(store) { store_.take_turn(); }
        ~Turn() { store_.end_turn(); }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

      private:
        PostgresStationStore& store_;
    };
    void take_turn();
    void end_turn();
    // The calling thread's observer, or nullptr; state_mutex_ held.
    [[nodiscard]] StoreWaitObserver* watcher() const;
    // Connects (again), with the session's settings: the failure, or none.
    [[nodiscard]] StoreError connect();
    // Does `call` (one try of one call; its argument: it is tried again after the connection
    // broke, and what the try before did may have been committed) and, while it fails
    // because the server went away, connects again and tries again within the outage limit.
    template <typename Call>
    [[nodiscard]] auto riding_out(const Call& call) -> decltype(call(false));
    // After a try failed with `error` (unreachable): waits for the server and connects again.
    // false when the limit passed (or the wait was ended), with `error` saying so.
    [[nodiscard]] bool reconnect(StoreError& error);
    // A call went through: the outage, if any, is over.
    void outage_over();

    [[nodiscard]] StoreError failure(StoreFailure kind, const std::string& what) const {
        return {kind, "the line database " + uri_ + " " + what};
    }
    // A statement's failure in words that name the database.
    [[nodiscard]] StoreError failure(const pg::Result& result) const;
    [[nodiscard]] StoreError connect_failure() const;
    // Runs `attempt` (one transaction) again while it fails for a reason worth another try.
    template <typename T>
    [[nodiscard]] StoreResult<T> retried(const std::function<StoreResult<T>(bool&)>& attempt);
    [[nodiscard]] StoreResult<std::optional<IdHolder>> holder(std::string_view id, bool lock);
    // The schema's version, 0 for no vrk tables, nullopt with *error set on a failure or for
    // tables that are another program's.
    [[nodiscard]] std::optional<std::int64_t> read_version(std::int64_t known, StoreError* error);
    // Brings the tables from their version up to `known` in one transaction.
    [[nodiscard]] StoreError upgrade(std::int64_t known, std::span<const SchemaStep> schema);
    // The runs for a reader's FROM: the table, or in a database of an older version a view of
    // it with NULL for the work order; the hooks for its join, or an empty stand-in.
    [[nodiscard]] std::string runs_source() const {
        return version_ >= VERSION_WITH_LOT
                   ? "runs"
                   : "(SELECT runs.*, NULL::text AS lot FROM runs) AS runs";
    }
    // The IDs for a reader's FROM: in a database of an older version, without their history.
    [[nodiscard]] std::string ids_source() const {
        return version_ >= VERSION_WITH_ID_HISTORY
                   ? "ids"
                   : "(SELECT ids.*, NULL::text AS source, NULL::integer AS station_number, "
                     "NULL::timestamptz AS spent_at FROM ids) AS ids";
    }
    [[nodiscard]] std::string hooks_source() const {
        return version_ >= VERSION_WITH_HOOKS
                   ? "hooks"
                   : "(SELECT NULL::text AS run_key, NULL::text AS status, NULL::text AS message, "
                     "NULL::timestamptz AS ended_at WHERE false) AS hooks";
    }

    std::string uri_;
    pg::Connection connection_;
    StoreAccess access_ = StoreAccess::station;
    int busy_timeout_ms_;

    // Whose turn it is on the connection, and the outage: guarded by state_mutex_.
    mutable std::mutex state_mutex_;
    std::condition_variable turn_changed_;
    bool busy_ = false;       // a call has the connection
    bool turn_told_ = false;  // the call that has it told its observer it waits
    std::uint32_t outage_limit_ms_;
    bool outage_ = false;  // the server went away and no call went through since
    std::chrono::steady_clock::time_point outage_started_;
    std::string outage_since_;  // UTC, for the observers
    std::string outage_why_;
    std::uint32_t pause_ms_ = FIRST_PAUSE_MS;
    bool gave_up_ = false;  // the limit passed: later calls try once, and wait no more
    std::map<std::thread::id, StoreWaitObserver*> watchers_;
    std::int64_t version_ = 0;  // the schema's version, as found or brought up to
    // Set by a failed statement: whether the transaction may simply be tried again.
    std::string last_sqlstate_;
};

StoreError PostgresStationStore::failure(const pg::Result& result) const {
    const std::string state = result.sqlstate();
    const std::string message = result.message();
    if (!connection_.ok() || state.starts_with("08") || state == "57P01" || state == "57P02" ||
        state == "57P03")
        return failure(StoreFailure::unreachable,
                       "cannot be reached: " + (message.empty() ? connection_.error() : message));
    if (state.starts_with("28") || state == "3D000")
        return failure(StoreFailure::refused, "refused the station: " + message);
    if (state == "42501")
        return failure(StoreFailure::refused,
                       "does not give this role the rights vrk needs: " + message);
    if (state == "25006")
        return failure(StoreFailure::read_only,
                       "cannot be written: the server is read-only (a standby?)");
    if (state == "53100")
        return failure(StoreFailure::disk_full, "cannot be written: the server's disk is full");
    if (state == "57014" || state == "55P03" || state == pg::SERIALIZATION_FAILURE ||
        state == pg::DEADLOCK_DETECTED)
        return failure(StoreFailure::busy, "is held by another station for longer than " +
                                               std::to_string(busy_timeout_ms_) + " ms (" +
                                               message + ")");
    if (state.starts_with("XX"))
        return failure(StoreFailure::damaged, "reports damage: " + message);
    return failure(StoreFailure::io_error, "cannot be used: " + message);
}

StoreError PostgresStationStore::connect_failure() const {
    // libpq says what failed but gives no SQLSTATE before a session exists: its words tell a
    // refusal (which waiting does not mend) from a server that is not there.
    const std::string message = connection_.error();
    if (contains(message, "authentication failed") || contains(message, "no password supplied") ||
        contains(message, "pg_hba.conf") || contains(message, "role \"") ||
        contains(message, "permission denied"))
        return failure(StoreFailure::refused, "refused the station's credentials: " + message);
    if (contains(message, "database \"") && contains(message, "does not exist"))
        return failure(StoreFailure::refused, "names no database the server has: " + message);
    return failure(StoreFailure::unreachable, "cannot be reached: " + message);
}

template <typename T>
StoreResult<T> PostgresStationStore::retried(const std::function<StoreResult<T>(bool&)>& attempt) {
    StoreResult<T> result;
    for (int tries = 1;; ++tries) {
        bool again = false;
        result = attempt(again);
        if (!again || tries == TRANSACTION_TRIES) return result;
    }
}

void PostgresStationStore::watch_waits(StoreWaitObserver* observer) {
    const std::lock_guard lock(state_mutex_);
    if (observer != nullptr)
        watchers_[std::this_thread::get_id()] = observer;
    else
        watchers_.erase(std::this_thread::get_id());
}

StoreWaitObserver* PostgresStationStore::watcher() const {
    const auto found = watchers_.find(std::this_thread::get_id());
    return found != watchers_.end() ? found->second : nullptr;
}

void PostgresStationStore::take_turn() {
    std::unique_lock lock(state_mutex_);
    bool told = false;
    while (busy_) {
        if (outage_ && !told) {
            // The call before waits for the server: this port waits too, and says so.
            told = true;
            StoreWaitObserver* const observer = watcher();
            const std::string since = outage_since_, why = outage_why_;
            lock.unlock();
            if (observer != nullptr) observer->records_waiting(since, why);
            lock.lock();
            continue;
        }
        turn_changed_.wait(lock);
    }
    busy_ = true;
    turn_told_ = told;
}

void PostgresStationStore::end_turn() {
    StoreWaitObserver* observer = nullptr;
    {
        const std::lock_guard lock(state_mutex_);
        // Told it waits, and the server answers now: back (a call that gave up is not).
        if (turn_told_ && !outage_ && connection_.ok()) observer = watcher();
        turn_told_ = false;
        busy_ = false;
    }
    turn_changed_.notify_all();
    if (observer != nullptr) observer->records_back();
}

void PostgresStationStore::outage_over() {
    const std::lock_guard lock(state_mutex_);
    outage_ = false;
    gave_up_ = false;
    pause_ms_ = FIRST_PAUSE_MS;
}

template <typename Call>
auto PostgresStationStore::riding_out(const Call& call) -> decltype(call(false)) {
    bool again = false;
    for (;;) {
        auto result = call(again);
        StoreError& error = error_of(result);
        if (error.failure != StoreFailure::unreachable) {
            outage_over();
            return result;
        }
        if (!reconnect(error)) return result;
        again = true;
    }
}

bool PostgresStationStore::reconnect(StoreError& error) {
    using Clock = std::chrono::steady_clock;
    StoreWaitObserver* observer = nullptr;
    std::uint32_t limit_ms = 0;
    bool patient = true;
    bool tell = false;
    std::string since;
    {
        const std::lock_guard lock(state_mutex_);
        limit_ms = outage_limit_ms_;
        // No waiting asked for: the call fails as the connection did.
        if (limit_ms == 0) return false;
        if (!outage_) {
            outage_ = true;
            outage_started_ = Clock::now();
            outage_since_ = utc_time_now();
            outage_why_ = error.message;
            // Those waiting for their turn learn that they wait for the server.
            turn_changed_.notify_all();
        }
        patient = !gave_up_;
        observer = watcher();
        tell = !turn_told_;
        turn_told_ = true;
        since = outage_since_;
    }
    if (tell && observer != nullptr) observer->records_waiting(since, error.message);
    const auto deadline = outage_started_ + std::chrono::milliseconds(limit_ms);
    for (;;) {
        StoreError connected = connect();
        if (connected.ok()) return true;
        if (connected.failure != StoreFailure::unreachable) {
            // The server is there and refuses the station now (its role was dropped, its
            // database renamed): waiting does not mend that.
            error = std::move(connected);
            return false;
        }
        const auto now = Clock::now();
        const bool ended = observer != nullptr && !observer->keep_waiting();
        if (!patient || ended || now >= deadline) {
            {
                const std::lock_guard lock(state_mutex_);
                gave_up_ = true;
                outage_ = false;
            }
            turn_changed_.notify_all();
            error = std::move(connected);
            error.message +=
                ended ? " (the wait for it was ended)"
                      : " (it did not answer again within " + seconds_text(limit_ms) + ")";
            return false;
        }
        // Not a busy loop: the thread sleeps; the other ports' calls wait for their turn.
        const auto pause =
            std::min<Clock::duration>(std::chrono::milliseconds(pause_ms_), deadline - now);
        std::this_thread::sleep_for(pause);
        pause_ms_ = std::min(pause_ms_ * 2, LONGEST_PAUSE_MS);
    }
}

std::optional<std::int64_t> PostgresStationStore::read_version(std::int64_t known,
                                                               StoreError* error) {
    const auto tables = connection_.exec(
        "SELECT to_regclass('vrk_schema_version') IS NOT NULL, to_regclass('runs') IS NOT NULL "
        "OR to_regclass('ids') IS NOT NULL OR to_regclass('counters') IS NOT NULL");
    if (!tables.ok()) {
        *error = failure(tables);
        return std::nullopt;
    }
    if (tables.text(0, 0) != "t") {
        if (tables.text(0, 1) == "t") {
            // Never add our tables beside another program's of the same names.
            *error = failure(StoreFailure::not_a_database,
                             "holds tables named runs, ids or counters that are not a "
                             "station's records: give vrk a database (or schema) of its own");
            return std::nullopt;
        }
        return 0;
    }
    const auto version = connection_.exec("SELECT max(version) FROM vrk_schema_version");
    if (!version.ok()) {
        *error = failure(version);
        return std::nullopt;
    }
    const std::int64_t found = version.integer(0, 0);
    if (found > known) {
        *error =
            failure(StoreFailure::other_version,
                    "was written by a newer vrk (its records are of version " +
                        std::to_string(found) + ", this vrk knows " + std::to_string(known) + ")");
        return std::nullopt;
    }
    return found;
}

StoreError PostgresStationStore::connect() {
    // Ours, under what the URI says: a server that vanishes is noticed by TCP within about
    // half a minute rather than never.
    const std::string user_timeout = std::to_string(busy_timeout_ms_);
    connection_ = pg::Connection(uri_, {{"connect_timeout", "10"},
                                        {"application_name", "vrk"},
                                        {"keepalives", "1"},
                                        {"keepalives_idle", "10"},
                                        {"keepalives_interval", "5"},
                                        {"keepalives_count", "3"},
                                        {"tcp_user_timeout", user_timeout}});
    if (!connection_.ok()) return connect_failure();
    // A lock is waited for up to the busy time-out; a statement that works (not waits) for
    // twice that is stuck. A reader never writes. A connection made again after an outage
    // gets the same: no statement of a station ever waits without a limit.
    const auto set = connection_.exec(
        "SELECT set_config('lock_timeout', $1, false), set_config('statement_timeout', $2, "
        "false), set_config('idle_in_transaction_session_timeout', $2, false), "
        "set_config('default_transaction_read_only', $3, false)",
        {param(std::to_string(busy_timeout_ms_)), param(std::to_string(2 * busy_timeout_ms_)),
         param(access_ == StoreAccess::export_only ? "on" : "off")});
    if (!set.ok()) return failure(set);
    return {};
}

StoreError PostgresStationStore::start(StoreAccess access, std::span<const SchemaStep> schema) {
    access_ = access;
    if (StoreError error = connect(); !error.ok()) return error;

    const auto known = static_cast<std::int64_t>(schema.size());
    StoreError error;
    auto version = read_version(known, &error);
    if (!version) return error;
    version_ = *version;
    if (access == StoreAccess::export_only) {
        if (*version == 0) return failure(StoreFailure::not_a_database, "holds no station records");
        return {};  // an older version is read as it is
    }
    if (*version == known) return {};

    // Stations started together: one brings the tables up to date, the others find them so.
    // The lock is the session's, taken before the transaction begins, so that the transaction
    // sees the tables as the one before left them.
    const auto locked = connection_.exec("SELECT pg_advisory_lock($1)",
                                         {param(static_cast<std::int64_t>(SCHEMA_LOCK))});
    if (!locked.ok()) return failure(locked);
    error = upgrade(known, schema);
    if (error.ok()) version_ = known;
    if (connection_.ok())
        (void)connection_.exec("SELECT pg_advisory_unlock($1)",
                               {param(static_cast<std::int64_t>(SCHEMA_LOCK))});
    return error;
}

StoreError PostgresStationStore::upgrade(std::int64_t known, std::span<const SchemaStep> schema) {
    pg::Transaction tx(connection_);
    if (!tx.begun().ok()) return failure(tx.begun());
    StoreError error;
    const auto version = read_version(known, &error);
    if (!version) return error;
    if (*version == known) return {};
    const auto refused_upgrade = [&](const pg::Result& result) {
        StoreError e = failure(result);
        if (e.failure == StoreFailure::refused)
            e.message +=
                " (its tables are made or brought up to date by a role that may create "
                "them: run vrk program once as their owner)";
        return e;
    };
    if (*version == 0) {
        const auto made =
            connection_.exec("CREATE TABLE vrk_schema_version (version INTEGER NOT NULL)");
        if (!made.ok()) return refused_upgrade(made);
    }
    for (auto step = static_cast<std::size_t>(*version); step < schema.size(); ++step) {
        const auto done = connection_.exec_script(schema[step].sql);
        if (!done.ok()) return refused_upgrade(done);
    }
    const auto stamped = connection_.exec_script(
        "DELETE FROM vrk_schema_version; INSERT INTO vrk_schema_version VALUES (" +
        std::to_string(known) + ")");
    if (!stamped.ok()) return refused_upgrade(stamped);
    if (const auto committed = tx.commit(); !committed.ok()) return failure(committed);
    return {};
}

StoreError PostgresStationStore::begin_run(const RunStart& s) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreError {
        (void)after_break;
        // A row already there with this key was written by an earlier try of this very call (keys
        // are random and unique): it counts as written.
        const auto inserted = connection_.exec(
            R"sql(
    INSERT INTO runs (run_key, started_at, host, station_number, operator, port, serial_number,
                      id_before, firmware_version, flash_type_code, flash_type, gps_before,
                      internal_before, external_before, image, image_sha256, tool_version, lot)
    VALUES ($1, $2::timestamptz, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17,
            $18)
    ON CONFLICT (run_key) DO NOTHING)sql",
            {param(s.run_key), param(s.started_at), param(s.host), param(s.station_number),
             param(s.operator_name), param(s.port), param(s.serial_number), param(s.id_before),
             param(s.firmware_version), param(s.flash_type_code), param(s.flash_type),
             param(s.settings_before.gps), param(s.settings_before.internal),
             param(s.settings_before.external), param(s.image), param(s.image_sha256),
             param(s.tool_version), param(s.lot)});
        if (!inserted.ok()) return failure(inserted);
        return {};
    });
}

StoreError PostgresStationStore::complete_run(const RunEnd& e) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreError {
        (void)after_break;
        const auto updated = connection_.exec(
            R"sql(
    UPDATE runs SET id_after = $2, gps_after = $3, internal_after = $4, external_after = $5,
                    step_download = $6, step_id = $7, step_settings = $8, step_then = $9,
                    result = $10, exit_code = $11, message = $12, duration_ms = $13
    WHERE run_key = $1)sql",
            {param(e.run_key), param(e.id_after), param(e.settings_after.gps),
             param(e.settings_after.internal), param(e.settings_after.external),
             pg::text_or_null(e.steps.download), pg::text_or_null(e.steps.id),
             pg::text_or_null(e.steps.settings), pg::text_or_null(e.steps.then), param(e.result),
             param(static_cast<std::int64_t>(e.exit_code)), param(e.message),
             param(static_cast<std::int64_t>(e.duration_ms))});
        if (!updated.ok()) return failure(updated);
        if (updated.affected() == 0)
            return failure(StoreFailure::no_such_run, "has no run " + e.run_key + " to complete");
        return {};
    });
}

StoreError PostgresStationStore::record_hook(const HookRecord& h) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreError {
        (void)after_break;
        // One outcome per run: a second is refused by the key and leaves the first.
        const auto inserted = connection_.exec(
            "INSERT INTO hooks (run_key, status, message, ended_at) VALUES ($1, $2, $3, "
            "$4::timestamptz)",
            {param(h.run_key), param(h.status), param(h.message), param(h.ended_at)});
        // Tried again after the connection broke: the try before may have committed it.
        if (after_break && inserted.sqlstate() == pg::UNIQUE_VIOLATION) return {};
        if (!inserted.ok()) return failure(inserted);
        return {};
    });
}

StoreResult<std::optional<std::string>> PostgresStationStore::bound_id(std::int32_t serial_number) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreResult<std::optional<std::string>> {
        (void)after_break;
        const auto found =
            connection_.exec("SELECT id FROM ids WHERE serial_number = $1 AND state = 'bound'",
                             {param(static_cast<std::int64_t>(serial_number))});
        if (!found.ok()) return {std::nullopt, failure(found)};
        if (found.rows() > 0) return {found.text(0, 0), {}};
        return {};
    });
}

StoreResult<std::optional<IdHolder>> PostgresStationStore::holder(std::string_view id, bool lock) {
    const auto found = connection_.exec("SELECT " + id_columns() + " FROM " + ids_source() +
                                            " WHERE id = $1" + (lock ? " FOR UPDATE" : ""),
                                        {param(id)});
    if (!found.ok()) {
        last_sqlstate_ = found.sqlstate();
        return {std::nullopt, failure(found)};
    }
    if (found.rows() == 0) return {};
    return {holder_of(found, 0), {}};
}

StoreResult<std::optional<IdHolder>> PostgresStationStore::id_holder(std::string_view id) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreResult<std::optional<IdHolder>> {
        (void)after_break;
        return holder(id, false);
    });
}

bool worth_another_try(const std::string& state) {
    return state == pg::SERIALIZATION_FAILURE || state == pg::DEADLOCK_DETECTED;
}

StoreResult<Reservation> PostgresStationStore::reserve_next(const IdScheme& scheme,
                                                            std::optional<std::uint64_t> id_start,
                                                            const IdClaimant& claimant) {
    const Turn turn(*this);
    const std::string key = scheme.counter_key();
    return riding_out([&](bool after_break) -> StoreResult<Reservation> {
        if (after_break) {
            // The try before broke off, maybe in its commit: an ID it reserved for this unit's
            // run is the unit's, and no second one is taken.
            const auto earlier = connection_.exec(
                R"sql(
SELECT id FROM ids WHERE serial_number = $1 AND scheme = $2 AND run_key = $3
  AND state = 'reserved' ORDER BY reserved_at DESC, id DESC LIMIT 1)sql",
                {param(static_cast<std::int64_t>(claimant.serial_number)), param(key),
                 param(claimant.run_key)});
            if (!earlier.ok()) return {{}, failure(earlier)};
            if (earlier.rows() > 0) {
                Reservation reservation;
                reservation.id = earlier.text(0, 0);
                // The counter moved past it in the same transaction.
                const auto counter = connection_.exec(
                    "SELECT next_value FROM counters WHERE scheme = $1", {param(key)});
                if (!counter.ok()) return {{}, failure(counter)};
                if (counter.rows() > 0 && counter.integer(0, 0) > 0)
                    reservation.counter = static_cast<std::uint64_t>(counter.integer(0, 0) - 1);
                return {reservation, {}};
            }
        }
        return retried<Reservation>([&](bool& again) -> StoreResult<Reservation> {
            const auto fail = [&](const pg::Result& r) -> StoreResult<Reservation> {
                again = worth_another_try(r.sqlstate());
                return {{}, failure(r)};
            };
            pg::Transaction tx(connection_);
            if (!tx.begun().ok()) return fail(tx.begun());
            // The counter's row is made when missing and then locked: the stations of the line
            // take this scheme's IDs one after another.
            const auto made = connection_.exec(
                "INSERT INTO counters (scheme, next_value) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                {param(key), param(static_cast<std::int64_t>(id_start.value_or(1)))});
            if (!made.ok()) return fail(made);
            const auto counter = connection_.exec(
                "SELECT next_value FROM counters WHERE scheme = $1 FOR UPDATE", {param(key)});
            if (!counter.ok()) return fail(counter);
            const auto stored = static_cast<std::uint64_t>(
                std::max<std::int64_t>(counter.rows() > 0 ? counter.integer(0, 0) : 0, 0));
            std::uint64_t n = std::max(stored, id_start.value_or(0));

            Reservation reservation;
            const std::string now = utc_time_now();
            for (;;) {
                const auto id = scheme.format(n);
                if (!id) {
                    reservation.exhausted = true;
                    return {reservation, {}};  // rolled back: the counter stays as it was
                }
                // The ID's key decides: a row that is there already (from any scheme, a fixed or
                // a carried ID, another station's claim a moment ago) keeps its holder.
                const auto reserved = connection_.exec(
                    R"sql(
    INSERT INTO ids (id, state, serial_number, scheme, run_key, reserved_at, source, station_number)
    VALUES ($1, 'reserved', $2, $3, $4, $5::timestamptz, 'scheme', $6) ON CONFLICT (id) DO NOTHING)sql",
                    {param(*id), param(static_cast<std::int64_t>(claimant.serial_number)),
                     param(key), param(claimant.run_key), param(now),
                     param(claimant.station_number)});
                if (!reserved.ok()) return fail(reserved);
                if (reserved.affected() == 1) {
                    reservation.id = *id;
                    reservation.counter = n;
                    break;
                }
                ++n;
            }
            const auto advanced =
                connection_.exec("UPDATE counters SET next_value = $2 WHERE scheme = $1",
                                 {param(key), param(static_cast<std::int64_t>(n + 1))});
            if (!advanced.ok()) return fail(advanced);
            if (const auto committed = tx.commit(); !committed.ok()) return fail(committed);
            return {reservation, {}};
        });
    });
}

StoreResult<Reservation> PostgresStationStore::peek_next(const IdScheme& scheme,
                                                         std::optional<std::uint64_t> id_start) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreResult<Reservation> {
        (void)after_break;
        // Read without a lock: the ID a unit would get now, which another station may take before
        // this one reserves (reserve_next then gives the next free one).
        const auto counter = connection_.exec("SELECT next_value FROM counters WHERE scheme = $1",
                                              {param(scheme.counter_key())});
        if (!counter.ok()) return {{}, failure(counter)};
        std::uint64_t n = id_start.value_or(1);
        if (counter.rows() > 0)
            n = std::max(
                static_cast<std::uint64_t>(std::max<std::int64_t>(counter.integer(0, 0), 0)),
                id_start.value_or(0));
        Reservation reservation;
        for (;; ++n) {
            const auto id = scheme.format(n);
            if (!id) {
                reservation.exhausted = true;
                return {reservation, {}};
            }
            const auto taken = connection_.exec("SELECT 1 FROM ids WHERE id = $1", {param(*id)});
            if (!taken.ok()) return {{}, failure(taken)};
            if (taken.rows() > 0) continue;  // in the records already, in some state
            reservation.id = *id;
            reservation.counter = n;
            return {reservation, {}};
        }
    });
}

StoreResult<std::optional<std::string>> PostgresStationStore::pending_reservation(
    const IdScheme& scheme, std::int32_t serial_number) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreResult<std::optional<std::string>> {
        (void)after_break;
        const auto found = connection_.exec(
            R"sql(
    SELECT id FROM ids WHERE serial_number = $1 AND scheme = $2 AND state = 'reserved'
    ORDER BY reserved_at DESC, id DESC LIMIT 1)sql",
            {param(static_cast<std::int64_t>(serial_number)), param(scheme.counter_key())});
        if (!found.ok()) return {std::nullopt, failure(found)};
        if (found.rows() > 0) return {found.text(0, 0), {}};
        return {};
    });
}

StoreResult<Claim> PostgresStationStore::claim(std::string_view id, IdSource source,
                                               const IdClaimant& claimant) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreResult<Claim> {
        (void)after_break;
        const std::int32_t serial_number = claimant.serial_number;
        const std::string& run_key = claimant.run_key;
        return retried<Claim>([&](bool& again) -> StoreResult<Claim> {
            const auto fail = [&](const pg::Result& r) -> StoreResult<Claim> {
                again = worth_another_try(r.sqlstate());
                return {{}, failure(r)};
            };
            pg::Transaction tx(connection_);
            if (!tx.begun().ok()) return fail(tx.begun());
            const auto inserted = connection_.exec(
                R"sql(
    INSERT INTO ids (id, state, serial_number, scheme, run_key, reserved_at, source, station_number)
    VALUES ($1, 'reserved', $2, '', $3, $4::timestamptz, $5, $6) ON CONFLICT (id) DO NOTHING)sql",
                {param(id), param(static_cast<std::int64_t>(serial_number)), param(run_key),
                 param(utc_time_now()), param(id_source_name(source)),
                 param(claimant.station_number)});
            if (!inserted.ok()) return fail(inserted);
            if (inserted.affected() == 0) {
                last_sqlstate_.clear();
                auto h = holder(id, true);
                if (!h.ok()) {
                    again = worth_another_try(last_sqlstate_);
                    return {{}, h.error};
                }
                if (h.value && h.value->serial_number != serial_number)
                    return {Claim{false, h.value}, {}};
                if (h.value && h.value->state == IdState::bound) return {Claim{true, h.value}, {}};
                const auto renewed = connection_.exec(
                    "UPDATE ids SET state = 'reserved', run_key = $2, spent_at = NULL WHERE id = "
                    "$1",
                    {param(id), param(run_key)});
                if (!renewed.ok()) return fail(renewed);
            }
            if (const auto committed = tx.commit(); !committed.ok()) return fail(committed);
            return {Claim{true, std::nullopt}, {}};
        });
    });
}

StoreError PostgresStationStore::bind(std::string_view id, std::int32_t serial_number) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreError {
        (void)after_break;
        const auto serial = param(static_cast<std::int64_t>(serial_number));
        const auto conflict = [&](std::int32_t holder) {
            return failure(StoreFailure::id_conflict, "holds the ID " + std::string(id) +
                                                          " for the unit with serial number " +
                                                          std::to_string(holder));
        };
        return retried<bool>([&](bool& again) -> StoreResult<bool> {
                   const auto fail = [&](const pg::Result& r) -> StoreResult<bool> {
                       // Another station binding an ID to the same unit at the same moment: the
                       // unique index over bound IDs stops one, which tries again.
                       again =
                           worth_another_try(r.sqlstate()) || r.sqlstate() == pg::UNIQUE_VIOLATION;
                       return {false, failure(r)};
                   };
                   pg::Transaction tx(connection_);
                   if (!tx.begun().ok()) return fail(tx.begun());
                   last_sqlstate_.clear();
                   auto h = holder(id, true);
                   if (!h.ok()) {
                       again = worth_another_try(last_sqlstate_);
                       return {false, h.error};
                   }
                   if (h.value && h.value->serial_number != serial_number)
                       return {false, conflict(h.value->serial_number)};
                   // The unit's earlier ID is spent first: a unit holds one ID.
                   const std::string now = utc_time_now();
                   const auto retired = connection_.exec(
                       "UPDATE ids SET state = 'spent', spent_at = $3::timestamptz WHERE "
                       "serial_number = $1 AND state = 'bound' AND id <> $2",
                       {serial, param(id), param(now)});
                   if (!retired.ok()) return fail(retired);
                   // Guarded by the holder as well: an ID another station claimed after the look-up
                   // above is not taken over.
                   const auto bound = connection_.exec(
                       R"sql(
    INSERT INTO ids (id, state, serial_number, scheme, reserved_at, bound_at, source)
    VALUES ($1, 'bound', $2, '', $3::timestamptz, $3::timestamptz, 'records')
    ON CONFLICT (id) DO UPDATE SET state = 'bound', bound_at = excluded.bound_at, spent_at = NULL
    WHERE ids.serial_number = excluded.serial_number)sql",
                       {param(id), serial, param(now)});
                   if (!bound.ok()) return fail(bound);
                   if (bound.affected() == 0) {
                       again = true;  // read the new holder, and refuse then
                       return {false,
                               failure(StoreFailure::id_conflict,
                                       "holds the ID " + std::string(id) + " for another unit")};
                   }
                   if (const auto committed = tx.commit(); !committed.ok()) return fail(committed);
                   return {true, {}};
               })
            .error;
    });
}

StoreError PostgresStationStore::spend(std::string_view id) {
    const Turn turn(*this);
    return riding_out([&](bool after_break) -> StoreError {
        (void)after_break;
        const auto updated = connection_.exec(
            "UPDATE ids SET state = 'spent', spent_at = $2::timestamptz WHERE id = "
            "$1 AND state = 'reserved'",
            {param(id), param(utc_time_now())});
        if (!updated.ok()) return failure(updated);
        return {};
    });
}

StoreError PostgresStationStore::for_each_run(const RunFilter& filter,
                                              const std::function<void(const RunRecord&)>& row) {
    const Turn turn(*this);
    const std::string sql = "SELECT runs.run_key, " + utc_text("started_at") + R"sql(, host,
       station_number, operator, port, serial_number, id_before, firmware_version,
       flash_type_code, flash_type, gps_before, internal_before, external_before, image,
       image_sha256, tool_version, id_after, gps_after, internal_after, external_after,
       step_download, step_id, step_settings, step_then, result, exit_code, runs.message,
       duration_ms, lot, hooks.status, hooks.message, )sql" +
                            utc_text("hooks.ended_at") + "\nFROM " + runs_source() + " LEFT JOIN " +
                            hooks_source() + R"sql( ON hooks.run_key = runs.run_key
WHERE ($1::timestamptz IS NULL OR started_at >= $1::timestamptz)
  AND ($2::integer IS NULL OR serial_number = $2::integer)
  AND ($3::text IS NULL OR lower(id_before) = lower($3::text) OR lower(id_after) = lower($3::text))
  AND ($4::text IS NULL OR lot = $4::text)
ORDER BY started_at, runs.run_key)sql";
    const auto done = connection_.stream(
        sql,
        {param(filter.since), param(filter.serial_number), param(filter.id), param(filter.lot)},
        [&](const pg::Result& q) {
            RunRecord r;
            RunStart& s = r.start;
            s.run_key = q.text(0, 0);
            s.started_at = q.text(0, 1);
            s.host = q.text(0, 2);
            s.station_number = q.optional_integer<std::uint32_t>(0, 3);
            s.operator_name = q.text(0, 4);
            s.port = q.text(0, 5);
            s.serial_number = q.optional_integer<std::int32_t>(0, 6);
            s.id_before = q.optional_text(0, 7);
            s.firmware_version = q.optional_text(0, 8);
            s.flash_type_code = q.optional_integer<std::uint8_t>(0, 9);
            s.flash_type = q.optional_text(0, 10);
            s.settings_before = {q.optional_integer<std::uint8_t>(0, 11),
                                 q.optional_integer<std::uint8_t>(0, 12),
                                 q.optional_integer<std::uint8_t>(0, 13)};
            s.image = q.text(0, 14);
            s.image_sha256 = q.text(0, 15);
            s.tool_version = q.text(0, 16);
            s.lot = q.optional_text(0, 29);
            if (!q.is_null(0, 30))
                r.hook = HookRecord{s.run_key, q.text(0, 30), q.text(0, 31), q.text(0, 32)};
            if (!q.is_null(0, 25)) {
                RunEnd e;
                e.run_key = s.run_key;
                e.id_after = q.optional_text(0, 17);
                e.settings_after = {q.optional_integer<std::uint8_t>(0, 18),
                                    q.optional_integer<std::uint8_t>(0, 19),
                                    q.optional_integer<std::uint8_t>(0, 20)};
                e.steps = {q.text(0, 21), q.text(0, 22), q.text(0, 23), q.text(0, 24)};
                e.result = q.text(0, 25);
                e.exit_code = static_cast<int>(q.integer(0, 26));
                e.message = q.text(0, 27);
                e.duration_ms = static_cast<std::uint32_t>(q.integer(0, 28));
                r.end = std::move(e);
            }
            row(r);
        });
    if (!done.ok()) return failure(done);
    return {};
}

StoreError PostgresStationStore::for_each_id(const IdFilter& filter,
                                             const std::function<void(const IdHolder&)>& id) {
    const Turn turn(*this);
    const std::string sql = "SELECT " + id_columns() + " FROM " + ids_source() + R"sql(
WHERE ($1::text IS NULL OR lower(id) = lower($1::text))
  AND ($2::integer IS NULL OR serial_number = $2::integer)
  AND ($3::text IS NULL OR state = $3::text)
ORDER BY reserved_at, id)sql";
    const std::optional<std::string> state =
        filter.state ? std::optional<std::string>(id_state_name(*filter.state)) : std::nullopt;
    const auto done =
        connection_.stream(sql, {param(filter.id), param(filter.serial_number), param(state)},
                           [&](const pg::Result& q) { id(holder_of(q, 0)); });
    if (!done.ok()) return failure(done);
    return {};
}

StoreError PostgresStationStore::for_each_counter(
    const std::function<void(const CounterRecord&)>& row) {
    const Turn turn(*this);
    const auto done = connection_.stream(
        "SELECT scheme, next_value FROM counters ORDER BY scheme", {}, [&](const pg::Result& q) {
            row({q.text(0, 0),
                 static_cast<std::uint64_t>(std::max<std::int64_t>(q.integer(0, 1), 0))});
        });
    if (!done.ok()) return failure(done);
    return {};
}

StoreResult<bool> PostgresStationStore::import_run(const RunRecord& run) {
    const Turn turn(*this);
    const RunStart& s = run.start;
    const RunEnd e = run.end.value_or(RunEnd{});
    const bool ended = run.end.has_value();
    const auto optional = [ended](Param value) { return ended ? value : Param{}; };
    // The row and its hook's outcome go in together, or neither.
    pg::Transaction tx(connection_);
    if (!tx.begun().ok()) return {false, failure(tx.begun())};
    const auto inserted = connection_.exec(
        R"sql(
INSERT INTO runs (run_key, started_at, host, station_number, operator, port, serial_number,
                  id_before, firmware_version, flash_type_code, flash_type, gps_before,
                  internal_before, external_before, image, image_sha256, tool_version,
                  id_after, gps_after, internal_after, external_after, step_download, step_id,
                  step_settings, step_then, result, exit_code, message, duration_ms, lot)
VALUES ($1, $2::timestamptz, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17,
        $18, $19, $20, $21, $22, $23, $24, $25, $26, $27, $28, $29, $30)
ON CONFLICT (run_key) DO NOTHING)sql",
        {param(s.run_key),
         param(s.started_at),
         param(s.host),
         param(s.station_number),
         param(s.operator_name),
         param(s.port),
         param(s.serial_number),
         param(s.id_before),
         param(s.firmware_version),
         param(s.flash_type_code),
         param(s.flash_type),
         param(s.settings_before.gps),
         param(s.settings_before.internal),
         param(s.settings_before.external),
         param(s.image),
         param(s.image_sha256),
         param(s.tool_version),
         param(e.id_after),
         param(e.settings_after.gps),
         param(e.settings_after.internal),
         param(e.settings_after.external),
         pg::text_or_null(e.steps.download),
         pg::text_or_null(e.steps.id),
         pg::text_or_null(e.steps.settings),
         pg::text_or_null(e.steps.then),
         pg::text_or_null(e.result),
         optional(param(static_cast<std::int64_t>(e.exit_code))),
         optional(param(e.message)),
         optional(param(static_cast<std::int64_t>(e.duration_ms))),
         param(s.lot)});
    if (!inserted.ok()) return {false, failure(inserted)};
    if (run.hook) {
        const HookRecord& h = *run.hook;
        const auto hooked = connection_.exec(
            "INSERT INTO hooks (run_key, status, message, ended_at) VALUES ($1, $2, $3, "
            "$4::timestamptz) ON CONFLICT (run_key) DO NOTHING",
            {param(s.run_key), param(h.status), param(h.message), param(h.ended_at)});
        if (!hooked.ok()) return {false, failure(hooked)};
    }
    if (const auto committed = tx.commit(); !committed.ok()) return {false, failure(committed)};
    return {inserted.affected() == 1, {}};
}

StoreResult<ImportedId> PostgresStationStore::import_id(const IdHolder& h) {
    const Turn turn(*this);
    const auto serial = param(static_cast<std::int64_t>(h.serial_number));
    // One statement: the IDs' key decides, and the unique index over bound IDs refuses a
    // second bound ID for a unit that holds one here.
    const auto inserted = connection_.exec(
        R"sql(
INSERT INTO ids (id, state, serial_number, scheme, run_key, reserved_at, bound_at, source,
                 station_number, spent_at)
VALUES ($1, $2, $3, $4, $5, $6::timestamptz, $7::timestamptz, $8, $9, $10::timestamptz)
ON CONFLICT (id) DO NOTHING)sql",
        {param(h.id), param(id_state_name(h.state)), serial, param(h.scheme),
         pg::text_or_null(h.run_key), param(h.reserved_at), param(h.bound_at),
         param(h.source ? std::optional<std::string>(id_source_name(*h.source)) : std::nullopt),
         param(h.station_number), param(h.spent_at)});
    ImportedId outcome;
    if (!inserted.ok()) {
        if (inserted.sqlstate() != pg::UNIQUE_VIOLATION) return {{}, failure(inserted)};
        const auto bound = connection_.exec(
            "SELECT id, scheme FROM ids WHERE serial_number = $1 AND state = 'bound'", {serial});
        if (!bound.ok()) return {{}, failure(bound)};
        outcome.outcome = ImportedId::Outcome::conflict;
        outcome.holder =
            IdHolder{bound.text(0, 0), IdState::bound, h.serial_number, bound.text(0, 1)};
        return {outcome, {}};
    }
    if (inserted.affected() == 1) return {outcome, {}};
    auto found = holder(h.id, false);
    if (!found.ok()) return {{}, found.error};
    outcome.holder = found.value;
    outcome.outcome = found.value && found.value->serial_number == h.serial_number
                          ? ImportedId::Outcome::known
                          : ImportedId::Outcome::conflict;
    return {outcome, {}};
}

StoreResult<bool> PostgresStationStore::raise_counter(const CounterRecord& counter) {
    const Turn turn(*this);
    const auto raised = connection_.exec(
        R"sql(
INSERT INTO counters (scheme, next_value) VALUES ($1, $2)
ON CONFLICT (scheme) DO UPDATE SET next_value = excluded.next_value
WHERE counters.next_value < excluded.next_value)sql",
        {param(counter.scheme), param(static_cast<std::int64_t>(counter.next_value))});
    if (!raised.ok()) return {false, failure(raised)};
    return {raised.affected() == 1, {}};
}

// The chosen rows' filters, in the parameters every report query is sent with.
constexpr std::string_view REPORT_FILTERS = R"sql(
    ($1::timestamptz IS NULL OR started_at >= $1::timestamptz)
    AND ($2::timestamptz IS NULL OR started_at < $2::timestamptz)
    AND ($3::text IS NULL OR lot = $3::text)
    AND ($4::bigint IS NULL OR station_number = $4::bigint)
    AND ($5::text IS NULL OR operator = $5::text))sql";

StoreResult<Report> PostgresStationStore::report(const ReportQuery& query) {
    // The server has a zone of its own: hours and days are converted in this machine's, as
    // SQLite does with the C library's, named to the server with each statement.
    std::string zone = "UTC";
    if (!query.utc && (query.by == ReportBy::hour || query.by == ReportBy::day)) {
        const auto local = platform::local_time_zone();
        if (!local)
            return {{},
                    {StoreFailure::io_error,
                     "this machine's time zone has no name the line database's server knows: "
                     "set TZ to a zone's name (as Europe/Berlin), or report in UTC with --utc"}};
        zone = *local;
    }
    const Turn turn(*this);
    // One snapshot: the totals and the groups see the same rows while stations write.
    pg::Transaction tx(connection_);
    if (!tx.begun().ok()) return {{}, failure(tx.begun())};
    const auto snapshot =
        connection_.exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    if (!snapshot.ok()) return {{}, failure(snapshot)};

    // Tallied here as on a station's file (report_tally.h).
    // Hours and days are the server's conversion of the start into the zone named by $6.
    const std::string time_key =
        query.by == ReportBy::hour
            ? "to_char(started_at AT TIME ZONE $6::text, 'YYYY-MM-DD HH24:00')"
            : "to_char(started_at AT TIME ZONE $6::text, 'YYYY-MM-DD')";
    const std::vector<std::string> keys = report_key_columns(query.by, time_key);
    const std::vector<std::string> statements =
        tally_statements(keys, runs_source(), std::string(REPORT_FILTERS), report_filtered(query));
    std::vector<Param> params = {param(query.since), param(query.until), param(query.lot),
                                 param(query.station_number), param(query.operator_name)};
    // The zone only where a key names it: a parameter no statement uses has no type.
    if (query.by == ReportBy::hour || query.by == ReportBy::day) params.push_back(param(zone));

    const int first = static_cast<int>(keys.size());  // the first column after the group's
    ReportTally tally(query.by != ReportBy::none);
    for (const std::string& sql : statements) {
        const auto done = connection_.stream(sql, params, [&](const pg::Result& row) {
            TallyRun run;
            switch (query.by) {
                case ReportBy::station:
                case ReportBy::port:
                    run.key.station_number = row.optional_integer<std::uint32_t>(0, 0);
                    run.key.host = row.text(0, 1);
                    if (query.by == ReportBy::port) run.key.port = row.text(0, 2);
                    break;
                case ReportBy::none:
                    break;
                default:
                    run.key.value = row.optional_text(0, 0);
                    break;
            }
            run.serial_number = row.optional_integer<std::int32_t>(0, first);
            run.result = row.optional_text(0, first + 1);
            run.steps = {row.text(0, first + 2), row.text(0, first + 3), row.text(0, first + 4),
                         row.text(0, first + 5)};
            run.duration_ms = row.optional_integer<std::uint32_t>(0, first + 6);
            run.chosen = row.text(0, first + 7) == "t";
            tally.add(run);
        });
        if (!done.ok()) return {{}, failure(done)};
    }
    return {tally.finish(), {}};
}

}  // namespace

std::span<const SchemaStep> line_schema() {
    return SCHEMA;
}

namespace {

std::optional<std::string> line_tls_problem(std::string_view sslmode, bool client_has_tls) {
    if (client_has_tls) return std::nullopt;
    if (sslmode != "require" && sslmode != "verify-ca" && sslmode != "verify-full")
        return std::nullopt;
    return "this build of vrk has a PostgreSQL client without TLS (as the Windows build has), "
           "so it cannot connect with sslmode=" +
           std::string(sslmode) +
           ": reach the line's server over the factory's own network with sslmode=prefer (the "
           "default), allow or disable, or through a tunnel that encrypts the way (SSH, "
           "IPsec, a VPN) to a port on this machine; or run the station on the Linux build, "
           "which has TLS";
}

}  // namespace

std::optional<std::string> line_uri_problem(const std::string& uri) {
    return line_uri_problem_for(uri, line_client_has_tls());
}

std::optional<std::string> line_uri_problem_for(const std::string& uri, bool client_has_tls) {
    char* raw_error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &raw_error);
    if (options == nullptr) {
        std::string why = raw_error != nullptr ? raw_error : "out of memory";
        PQfreemem(raw_error);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        return "the line database's URI cannot be read: " + why;
    }
    bool password = false;
    std::optional<std::string> sslmode;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr) continue;
        const std::string_view keyword(o->keyword);
        if (keyword == "password") password = true;
        if (keyword == "sslmode") sslmode = o->val;
        // requiressl=1 is require (sslmode, when also given, wins in libpq).
        if (keyword == "requiressl" && !sslmode && std::string_view(o->val) == "1")
            sslmode = "require";
    }
    PQconninfoFree(options);
    if (password)
        return "the line database's URI holds a password, which would show in the process "
               "list, the recipe and the shell's history: leave it out of the URI and put it "
               "in a password file (~/.pgpass, on Windows %APPDATA%\\postgresql\\pgpass.conf, "
               "or the file PGPASSFILE names), in PGPASSWORD, or in a service file "
               "(PGSERVICEFILE, with service= in the URI)";
    // Parsing fills in no defaults: libpq takes PGSSLMODE when the URI names no mode. A mode
    // that comes from a service file is seen only by libpq, which then refuses it itself.
    if (!sslmode) sslmode = platform::environment_variable("PGSSLMODE");
    if (sslmode) return line_tls_problem(*sslmode, client_has_tls);
    return std::nullopt;
}

bool line_client_has_tls() {
    // With no connection libpq names the TLS library it was built with, or none (libpq 15 and
    // later; the Windows build's libpq is 15 too).
    return PQsslAttribute(nullptr, "library") != nullptr;
}

std::unique_ptr<StationStore> open_postgres_station_store(const std::string& uri,
                                                          StoreAccess access, StoreError* error,
                                                          const PostgresStoreSettings& settings) {
    if (const auto problem = line_uri_problem(uri)) {
        *error = {StoreFailure::cannot_open, *problem};
        return nullptr;
    }
    auto store = std::make_unique<PostgresStationStore>(uri, settings);
    const StoreError failure =
        store->start(access, settings.schema.empty() ? line_schema() : settings.schema);
    if (!failure.ok()) {
        *error = failure;
        return nullptr;
    }
    *error = {};
    return store;
}

}  // namespace vrk::cli
