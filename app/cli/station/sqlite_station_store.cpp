#include "app/cli/station/sqlite_station_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "app/cli/common/utc_time.h"
#include "app/cli/station/postgres_station_store.h"
#include "app/cli/station/report_tally.h"
#include "platform/machine.h"

namespace vrk::cli {

namespace {

// "VRKS" in the file's header: a station database, not another program's SQLite file.
constexpr int APPLICATION_ID = 0x56524B53;
// The first of the parameters that stand for the ID states in a statement (see states()).
constexpr int STATE_PARAMETER = 21;
// How often a file held for its turn to WAL is tried again.
constexpr int WAL_RETRY_MS = 10;

// Version 1: the runs, the IDs and the counters of the ID schemes.
constexpr SchemaStep SCHEMA[] = {
    {R"sql(
CREATE TABLE runs (
    run_key          TEXT PRIMARY KEY NOT NULL,
    started_at       TEXT NOT NULL,
    host             TEXT NOT NULL,
    station_number   INTEGER,
    operator         TEXT NOT NULL,
    port             TEXT NOT NULL,
    serial_number    INTEGER,
    id_before        TEXT,
    firmware_version TEXT,
    flash_type_code  INTEGER,
    flash_type       TEXT,
    gps_before       INTEGER,
    internal_before  INTEGER,
    external_before  INTEGER,
    image            TEXT NOT NULL,
    image_sha256     TEXT NOT NULL,
    tool_version     TEXT NOT NULL,
    id_after         TEXT,
    gps_after        INTEGER,
    internal_after   INTEGER,
    external_after   INTEGER,
    step_download    TEXT,
    step_id          TEXT,
    step_settings    TEXT,
    step_then        TEXT,
    result           TEXT,
    exit_code        INTEGER,
    message          TEXT,
    duration_ms      INTEGER
);
CREATE INDEX runs_by_start ON runs (started_at);
CREATE INDEX runs_by_serial ON runs (serial_number);
CREATE TABLE ids (
    id            TEXT PRIMARY KEY NOT NULL,
    state         TEXT NOT NULL CHECK (state IN ('reserved', 'bound', 'spent')),
    serial_number INTEGER NOT NULL,
    scheme        TEXT NOT NULL,
    run_key       TEXT,
    reserved_at   TEXT NOT NULL,
    bound_at      TEXT
);
CREATE UNIQUE INDEX one_bound_id_per_unit ON ids (serial_number) WHERE state = 'bound';
CREATE TABLE counters (
    scheme     TEXT PRIMARY KEY NOT NULL,
    next_value INTEGER NOT NULL
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
    run_key  TEXT PRIMARY KEY NOT NULL,
    status   TEXT NOT NULL,
    message  TEXT NOT NULL,
    ended_at TEXT NOT NULL
);
)sql"},
    // Version 4: each ID's history: how it came into the records, the station that reserved
    // it, when it was spent. An ID of a scheme came from its counter; of the others (fixed or
    // carried) an older file cannot say which, and says nothing.
    {R"sql(
ALTER TABLE ids ADD COLUMN source TEXT;
ALTER TABLE ids ADD COLUMN station_number INTEGER;
ALTER TABLE ids ADD COLUMN spent_at TEXT;
UPDATE ids SET source = 'scheme' WHERE scheme <> '';
CREATE INDEX ids_by_unit ON ids (serial_number, state);
)sql"},
};

// The columns of the runs table that later versions added, so that a reader of an older file
// (which is read as it is, never upgraded) selects NULL in their place.
constexpr std::string_view ADDED_RUN_COLUMNS[] = {"lot"};
// The same for the IDs' table.
constexpr std::string_view ADDED_ID_COLUMNS[] = {"source", "station_number", "spent_at"};

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

int primary(int code) {
    return code & 0xFF;
}

bool failed(int code) {
    const int p = primary(code);
    return p != SQLITE_OK && p != SQLITE_ROW && p != SQLITE_DONE;
}

// One SQL statement. A failure while preparing or binding is kept and returned by step(), so a
// call reads as a sequence of binds and one check.
class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql) {
        sqlite3_stmt* raw = nullptr;
        code_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
        statement_.reset(raw);
    }

    Statement& text(int index, std::string_view value) {
        if (!failed(code_))
            code_ = sqlite3_bind_text64(statement_.get(), index, value.data(), value.size(),
                                        SQLITE_TRANSIENT, SQLITE_UTF8);
        return *this;
    }
    Statement& text(int index, const std::string& value) {
        return text(index, std::string_view(value));
    }
    Statement& text(int index, const std::optional<std::string>& value) {
        return value ? text(index, std::string_view(*value)) : null(index);
    }
    // An empty text is stored as NULL: a step not reached, a result not yet known.
    Statement& text_or_null(int index, std::string_view value) {
        return value.empty() ? null(index) : text(index, value);
    }
    Statement& integer(int index, std::int64_t value) {
        if (!failed(code_)) code_ = sqlite3_bind_int64(statement_.get(), index, value);
        return *this;
    }
    template <typename T>
    Statement& integer(int index, const std::optional<T>& value) {
        return value ? integer(index, static_cast<std::int64_t>(*value)) : null(index);
    }
    Statement& null(int index) {
        if (!failed(code_)) code_ = sqlite3_bind_null(statement_.get(), index);
        return *this;
    }
    // The ID states the statement uses (?21 reserved, ?22 bound, ?23 spent), as the records
    // spell them. Numbered, not named: SQLite numbers a named parameter after those before it
    // in the text, so ":spent ... ?1" would give both the number 1.
    Statement& states() {
        for (const IdState state : {IdState::reserved, IdState::bound, IdState::spent}) {
            const int index = STATE_PARAMETER + static_cast<int>(state);
            if (sqlite3_bind_parameter_name(statement_.get(), index) != nullptr)
                text(index, id_state_name(state));
        }
        return *this;
    }
    // The index of a result column by its name; -1 when there is none (a mistake in the SQL).
    [[nodiscard]] int column(std::string_view name) const {
        const int count = sqlite3_column_count(statement_.get());
        for (int i = 0; i < count; ++i)
            if (const char* named = sqlite3_column_name(statement_.get(), i);
                named != nullptr && name == named)
                return i;
        return -1;
    }

    // Ready to be stepped again, with new bindings (a statement that failed to prepare stays
    // failed).
    void reset() {
        if (!statement_) return;
        sqlite3_reset(statement_.get());
        code_ = SQLITE_OK;
    }

    // SQLITE_ROW, SQLITE_DONE or the failure.
    int step() {
        if (failed(code_)) return code_;
        code_ = sqlite3_step(statement_.get());
        return code_;
    }

    // A column that is not there (-1) reads as NULL.
    [[nodiscard]] bool is_null(int column) const {
        return column < 0 || sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
    }
    [[nodiscard]] std::int64_t integer_at(int column) const {
        return column < 0 ? 0 : sqlite3_column_int64(statement_.get(), column);
    }
    [[nodiscard]] std::string text_at(int column) const {
        if (column < 0) return {};
        const auto* bytes = sqlite3_column_text(statement_.get(), column);
        const int size = sqlite3_column_bytes(statement_.get(), column);
        if (bytes == nullptr || size <= 0) return {};
        return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    }
    [[nodiscard]] std::optional<std::string> optional_text_at(int column) const {
        if (is_null(column)) return std::nullopt;
        return text_at(column);
    }
    template <typename T>
    [[nodiscard]] std::optional<T> optional_integer_at(int column) const {
        if (is_null(column)) return std::nullopt;
        return static_cast<T>(integer_at(column));
    }
    // The same, by the column's name: a row is read by what its columns are called.
    [[nodiscard]] bool is_null(std::string_view name) const { return is_null(column(name)); }
    [[nodiscard]] std::int64_t integer_at(std::string_view name) const {
        return integer_at(column(name));
    }
    [[nodiscard]] std::string text_at(std::string_view name) const { return text_at(column(name)); }
    [[nodiscard]] std::optional<std::string> optional_text_at(std::string_view name) const {
        return optional_text_at(column(name));
    }
    template <typename T>
    [[nodiscard]] std::optional<T> optional_integer_at(std::string_view name) const {
        return optional_integer_at<T>(column(name));
    }

  private:
    std::unique_ptr<sqlite3_stmt, FinalizeStatement> statement_;
    int code_ = SQLITE_OK;
};

IdState state_of(std::string_view text) {
    return id_state_named(text).value_or(IdState::reserved);
}

// A row of the IDs' table, read by its columns' names.
IdHolder holder_of(const Statement& row) {
    IdHolder holder;
    holder.id = row.text_at("id");
    holder.state = state_of(row.text_at("state"));
    holder.serial_number = static_cast<std::int32_t>(row.integer_at("serial_number"));
    holder.scheme = row.text_at("scheme");
    if (const auto source = row.optional_text_at("source"))
        holder.source = id_source_named(*source);
    holder.station_number = row.optional_integer_at<std::uint32_t>("station_number");
    holder.run_key = row.text_at("run_key");
    holder.reserved_at = row.text_at("reserved_at");
    holder.bound_at = row.optional_text_at("bound_at");
    holder.spent_at = row.optional_text_at("spent_at");
    return holder;
}

class SqliteStationStore final : public StationStore {
  public:
    SqliteStationStore(std::string path, std::unique_ptr<sqlite3, CloseDb> db)
        : path_(std::move(path)), db_(std::move(db)) {}
    ~SqliteStationStore() override {
        // Every row into the database file itself, now: a file copied off the station (or
        // read where its write-ahead log cannot be) then holds them all. Passive: a reader
        // of another process is not waited for; the last connection to close checkpoints
        // whatever is left and removes the log.
        if (db_ && sqlite3_db_readonly(db_.get(), "main") == 0)
            (void)sqlite3_wal_checkpoint_v2(db_.get(), "main", SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                            nullptr);
    }
    SqliteStationStore(const SqliteStationStore&) = delete;
    SqliteStationStore& operator=(const SqliteStationStore&) = delete;

    const std::string& location() const override { return path_; }
    const std::string& reading_note() const override { return note_; }
    void set_note(std::string note) { note_ = std::move(note); }

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
    StoreError for_each_id(const IdFilter& filter,
                           const std::function<void(const IdHolder&)>& id) override;
    StoreError for_each_run(const RunFilter& filter,
                            const std::function<void(const RunRecord&)>& row) override;
    StoreError for_each_counter(const std::function<void(const CounterRecord&)>& row) override;
    StoreResult<Report> report(const ReportQuery& query) override;

    // Readies the connection that sqlite3_open_v2 returned `open_code` for: the failure, or
    // the tables brought up to the schema's version (checked to be, for an export).
    [[nodiscard]] StoreError start(int open_code, StoreAccess access,
                                   const SqliteStoreSettings& settings);

  private:
    // The failure of the last call on the connection, in words that name the file.
    [[nodiscard]] StoreError failure(int code) const;
    // A failure that comes from the medium (read-only, full, a folder that cannot be
    // written), named as what it is; nullopt when it does not.
    [[nodiscard]] std::optional<StoreError> medium_failure(int code) const;
    [[nodiscard]] StoreError failure(StoreFailure kind, const std::string& what) const {
        return {kind, "the station database " + path_ + " " + what};
    }
    [[nodiscard]] int exec(const char* sql) {
        return sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
    }
    [[nodiscard]] StoreResult<std::optional<IdHolder>> holder_locked(std::string_view id);
    [[nodiscard]] StoreResult<Reservation> next_free_locked(const IdScheme& scheme,
                                                            std::optional<std::uint64_t> id_start);
    [[nodiscard]] StoreResult<std::int64_t> pragma_integer(const char* name);
    // Reads the file's marks into version_: a station database of a version this tool knows
    // (or an empty file), or the failure that says what it is instead.
    [[nodiscard]] StoreError recognise(std::int64_t known);
    // Reads which of ADDED_RUN_COLUMNS and ADDED_ID_COLUMNS the file's tables have.
    [[nodiscard]] StoreError read_added_columns();
    // The runs table for a reader's FROM: the table itself, or, in a file of an older version,
    // a view of it with NULL in each column it lacks, so that every query reads every column.
    [[nodiscard]] std::string runs_source() const {
        std::string missing;
        for (std::string_view added : ADDED_RUN_COLUMNS)
            if (run_columns_.count(std::string(added)) == 0)
                missing += ", NULL AS " + std::string(added);
        return missing.empty() ? "runs" : "(SELECT runs.*" + missing + " FROM runs) AS runs";
    }
    // The IDs' table for a reader's FROM, as runs_source().
    [[nodiscard]] std::string ids_source() const {
        std::string missing;
        for (std::string_view added : ADDED_ID_COLUMNS)
            if (id_columns_.count(std::string(added)) == 0)
                missing += ", NULL AS " + std::string(added);
        return missing.empty() ? "ids" : "(SELECT ids.*" + missing + " FROM ids) AS ids";
    }
    // The hooks' outcomes for a reader's join: an empty stand-in in a file from before them.
    [[nodiscard]] std::string hooks_source() const {
        return has_hooks_ ? "hooks"
                          : "(SELECT NULL AS run_key, NULL AS status, NULL AS message, "
                            "NULL AS ended_at WHERE 0) AS hooks";
    }

    // A write transaction that takes the write lock at once, rolled back unless committed.
    class Transaction {
      public:
        explicit Transaction(SqliteStationStore& store)
            : store_(store), code_(store.exec("BEGIN IMMEDIATE")), open_(!failed(code_)) {}
        ~Transaction() {
            if (open_) (void)store_.exec("ROLLBACK");
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        [[nodiscard]] int begun() const { return code_; }
        [[nodiscard]] int commit() {
            const int code = store_.exec("COMMIT");
            // A COMMIT that failed (a full disk) may leave the transaction open: the destructor
            // rolls it back then.
            if (!failed(code) || sqlite3_get_autocommit(store_.db_.get()) != 0) open_ = false;
            return code;
        }

      private:
        SqliteStationStore& store_;
        int code_;
        bool open_;
    };

    std::string path_;
    std::unique_ptr<sqlite3, CloseDb> db_;
    std::mutex mutex_;  // one call at a time on the connection: each is its own transaction
    int busy_timeout_ms_ = STORE_BUSY_TIMEOUT_MS;
    std::function<platform::WriteBlock(const std::string&)> why_unwritable_;
    std::int64_t version_ = 0;           // the schema's version as last read
    std::set<std::string> run_columns_;  // of ADDED_RUN_COLUMNS, those the file has
    std::set<std::string> id_columns_;   // of ADDED_ID_COLUMNS, those the file has
    bool has_hooks_ = true;              // the file has the hooks' table (version 3 on)
    std::string note_;                   // what a reader should know of how it read
};

StoreError SqliteStationStore::read_added_columns() {
    const auto read_columns = [this](const char* table, std::span<const std::string_view> added,
                                     std::set<std::string>& have) {
        Statement query(db_.get(),
                        std::string("SELECT name FROM pragma_table_info('") + table + "')");
        have.clear();
        for (;;) {
            const int code = query.step();
            if (failed(code)) return failure(code);
            if (code != SQLITE_ROW) return StoreError{};
            const std::string name = query.text_at(0);
            if (std::find(added.begin(), added.end(), name) != added.end()) have.insert(name);
        }
    };
    if (StoreError error = read_columns("runs", ADDED_RUN_COLUMNS, run_columns_); !error.ok())
        return error;
    if (StoreError error = read_columns("ids", ADDED_ID_COLUMNS, id_columns_); !error.ok())
        return error;
    Statement hooks(db_.get(),
                    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'hooks'");
    const int code = hooks.step();
    if (failed(code)) return failure(code);
    has_hooks_ = code == SQLITE_ROW && hooks.integer_at(0) != 0;
    return {};
}

std::optional<StoreError> SqliteStationStore::medium_failure(int code) const {
    const int p = primary(code);
    if (p != SQLITE_CANTOPEN && p != SQLITE_IOERR && p != SQLITE_READONLY && p != SQLITE_FULL &&
        p != SQLITE_PERM)
        return std::nullopt;
    // What the system said when SQLite asked it, where SQLite kept it (a failed open, read or
    // write); then what the medium says of itself. A file system mounted read-only makes
    // SQLite fail to open the files it keeps beside the database, which reads as a file that
    // does not exist, and a full one fails the shared-memory file, which reads as an
    // input/output error: neither is what the operator has to mend.
    const platform::SystemFault system = platform::system_fault(sqlite3_system_errno(db_.get()));
    platform::WriteBlock block = platform::WriteBlock::none;
    if (p == SQLITE_FULL || system == platform::SystemFault::disk_full)
        block = platform::WriteBlock::disk_full;
    else if (system == platform::SystemFault::read_only_medium)
        block = platform::WriteBlock::read_only_medium;
    else
        block = why_unwritable_ ? why_unwritable_(path_) : platform::why_unwritable(path_);
    if (block == platform::WriteBlock::none && system == platform::SystemFault::permission)
        return failure(StoreFailure::read_only,
                       "cannot be written: the system denies the permission (to the file or "
                       "to its folder)");
    const std::size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path_.substr(0, slash);
    switch (block) {
        case platform::WriteBlock::read_only_medium:
            return failure(StoreFailure::read_only,
                           "cannot be written: its file system is mounted read-only (vrk log "
                           "can still export it)");
        case platform::WriteBlock::read_only_file:
            return failure(StoreFailure::read_only,
                           "cannot be written: the file is read-only (it has no write "
                           "permission for this user)");
        case platform::WriteBlock::folder_not_writable:
            return failure(StoreFailure::read_only,
                           "cannot be written: its folder " + folder +
                               " cannot be written (the database keeps its journal files "
                               "beside it there)");
        case platform::WriteBlock::disk_full:
            return failure(StoreFailure::disk_full,
                           "cannot be written: the disk is full (free some space on it)");
        case platform::WriteBlock::none:
            break;
    }
    return std::nullopt;
}

StoreError SqliteStationStore::failure(int code) const {
    if (auto medium = medium_failure(code)) return *medium;
    const std::string detail = sqlite3_errmsg(db_.get());
    switch (primary(code)) {
        case SQLITE_CANTOPEN:
            if (platform::system_fault(sqlite3_system_errno(db_.get())) ==
                platform::SystemFault::missing)
                return failure(StoreFailure::cannot_open,
                               "does not exist (or its folder does not)");
            return failure(StoreFailure::cannot_open,
                           "cannot be opened (" + detail +
                               "): check that it is a file and that its folder may be written");
        case SQLITE_NOTADB:
            return failure(StoreFailure::not_a_database, "is not a database");
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return failure(StoreFailure::read_only,
                           "cannot be written: the file or its medium is read-only");
        case SQLITE_FULL:
            return failure(StoreFailure::disk_full, "cannot be written: the disk is full");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return failure(StoreFailure::busy, "is held by another program for longer than " +
                                                   std::to_string(busy_timeout_ms_) + " ms");
        case SQLITE_CORRUPT:
            return failure(StoreFailure::damaged, "is damaged (" + detail + ")");
        case SQLITE_IOERR:
            return failure(StoreFailure::io_error,
                           "cannot be read or written: the system reports an input/output error");
        default:
            break;
    }
    return failure(StoreFailure::io_error, "cannot be used: " + detail);
}

StoreResult<std::int64_t> SqliteStationStore::pragma_integer(const char* name) {
    Statement query(db_.get(), std::string("PRAGMA ") + name);
    const int code = query.step();
    if (failed(code)) return {0, failure(code)};
    return {code == SQLITE_ROW ? query.integer_at(0) : 0, {}};
}

StoreError SqliteStationStore::recognise(std::int64_t known) {
    const auto version = pragma_integer("user_version");
    if (!version.ok()) return version.error;
    const auto application = pragma_integer("application_id");
    if (!application.ok()) return application.error;
    if (version.value == 0 && application.value == 0) {
        // A new file, or another program's that keeps no marks: never add our tables to
        // tables that are not ours.
        Statement objects(db_.get(), "SELECT count(*) FROM sqlite_master");
        const int code = objects.step();
        if (failed(code)) return failure(code);
        if (objects.integer_at(0) != 0)
            return failure(StoreFailure::not_a_database,
                           "is another program's database, not a station database");
    } else if (application.value != APPLICATION_ID) {
        return failure(StoreFailure::not_a_database, "is not a station database");
    }
    if (version.value > known)
        return failure(StoreFailure::other_version,
                       "was written by a newer vrk (its records are of version " +
                           std::to_string(version.value) + ", this vrk knows " +
                           std::to_string(known) + ")");
    version_ = version.value;
    return {};
}

StoreError SqliteStationStore::start(int open_code, StoreAccess access,
                                     const SqliteStoreSettings& settings) {
    if (open_code != SQLITE_OK) return failure(open_code);
    sqlite3_extended_result_codes(db_.get(), 1);
    busy_timeout_ms_ = settings.busy_timeout_ms;
    why_unwritable_ = settings.why_unwritable;
    sqlite3_busy_timeout(db_.get(), busy_timeout_ms_);
    const auto schema = settings.schema.empty() ? station_schema() : settings.schema;
    const auto known = static_cast<std::int64_t>(schema.size());
    // Read before anything is written: a file that is not ours stays as it was. The marks and
    // the tables are read in one transaction: another process creating the file meanwhile
    // must not be seen half-way (tables without marks look like another program's file).
    if (const int code = exec("BEGIN"); failed(code)) return failure(code);
    StoreError recognised = recognise(known);
    (void)exec("COMMIT");
    if (!recognised.ok()) return recognised;
    if (access == StoreAccess::export_only) {
        if (version_ == 0)
            return failure(StoreFailure::not_a_database,
                           "is not a station database (it holds no records)");
        // An older file is read as it is (a copy on a read-only medium, a station not yet
        // upgraded): what its version lacks reads as not known.
        return read_added_columns();
    }

    if (sqlite3_db_readonly(db_.get(), "main") == 1) {
        // SQLite opened the file for reading without saying why it could not write it.
        if (auto medium = medium_failure(SQLITE_READONLY)) return *medium;
        return failure(StoreFailure::read_only,
                       "cannot be written: the file or its medium is read-only");
    }
    // WAL: vrk log and the look-ups of other stations read while one station writes.
    // synchronous=FULL: a committed row is on the medium before the unit is shown as passed.
    // Turning a new file to WAL takes it whole for a moment, and SQLite does not wait for that
    // with the busy handler: another process opening the same new file at the same moment is
    // waited for here, as long as the busy time-out allows.
    int wal = exec("PRAGMA journal_mode=WAL");
    for (int waited = 0; primary(wal) == SQLITE_BUSY && waited < busy_timeout_ms_;
         waited += WAL_RETRY_MS) {
        sqlite3_sleep(WAL_RETRY_MS);
        wal = exec("PRAGMA journal_mode=WAL");
    }
    if (failed(wal)) return failure(wal);
    if (const int code = exec("PRAGMA synchronous=FULL"); failed(code)) return failure(code);
    if (version_ == known) return read_added_columns();

    // Another process may be upgrading the same file: the version is read again inside the
    // write lock, and the steps run in the same transaction (DDL is transactional in SQLite).
    Transaction tx(*this);
    if (failed(tx.begun())) return failure(tx.begun());
    if (StoreError error = recognise(known); !error.ok()) return error;
    if (version_ == known) {  // upgraded by the other one meanwhile
        if (const int code = tx.commit(); failed(code)) return failure(code);
        return read_added_columns();
    }
    for (auto step = static_cast<std::size_t>(version_); step < schema.size(); ++step) {
        const std::string sql(schema[step].sql);
        if (const int code = exec(sql.c_str()); failed(code)) return failure(code);
    }
    const std::string stamp = "PRAGMA user_version=" + std::to_string(known) +
                              "; PRAGMA application_id=" + std::to_string(APPLICATION_ID);
    if (const int code = exec(stamp.c_str()); failed(code)) return failure(code);
    if (const int code = tx.commit(); failed(code)) return failure(code);
    version_ = known;
    return read_added_columns();
}

StoreError SqliteStationStore::begin_run(const RunStart& s) {
    std::lock_guard lock(mutex_);
    Statement insert(db_.get(), R"sql(
INSERT INTO runs (run_key, started_at, host, station_number, operator, port, serial_number,
                  id_before, firmware_version, flash_type_code, flash_type, gps_before,
                  internal_before, external_before, image, image_sha256, tool_version, lot)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18))sql");
    insert.text(1, s.run_key)
        .text(2, s.started_at)
        .text(3, s.host)
        .integer(4, s.station_number)
        .text(5, s.operator_name)
        .text(6, s.port)
        .integer(7, s.serial_number)
        .text(8, s.id_before)
        .text(9, s.firmware_version)
        .integer(10, s.flash_type_code)
        .text(11, s.flash_type)
        .integer(12, s.settings_before.gps)
        .integer(13, s.settings_before.internal)
        .integer(14, s.settings_before.external)
        .text(15, s.image)
        .text(16, s.image_sha256)
        .text(17, s.tool_version)
        .text(18, s.lot);
    if (const int code = insert.step(); failed(code)) return failure(code);
    return {};
}

StoreError SqliteStationStore::complete_run(const RunEnd& e) {
    std::lock_guard lock(mutex_);
    Statement update(db_.get(), R"sql(
UPDATE runs SET id_after = ?2, gps_after = ?3, internal_after = ?4, external_after = ?5,
                step_download = ?6, step_id = ?7, step_settings = ?8, step_then = ?9,
                result = ?10, exit_code = ?11, message = ?12, duration_ms = ?13
WHERE run_key = ?1)sql");
    update.text(1, e.run_key)
        .text(2, e.id_after)
        .integer(3, e.settings_after.gps)
        .integer(4, e.settings_after.internal)
        .integer(5, e.settings_after.external)
        .text_or_null(6, e.steps.download)
        .text_or_null(7, e.steps.id)
        .text_or_null(8, e.steps.settings)
        .text_or_null(9, e.steps.then)
        .text(10, e.result)
        .integer(11, e.exit_code)
        .text(12, e.message)
        .integer(13, e.duration_ms);
    if (const int code = update.step(); failed(code)) return failure(code);
    if (sqlite3_changes(db_.get()) == 0)
        return failure(StoreFailure::no_such_run, "has no run " + e.run_key + " to complete");
    return {};
}

StoreError SqliteStationStore::record_hook(const HookRecord& h) {
    std::lock_guard lock(mutex_);
    Statement insert(db_.get(), R"sql(
INSERT INTO hooks (run_key, status, message, ended_at) VALUES (?1, ?2, ?3, ?4))sql");
    insert.text(1, h.run_key).text(2, h.status).text(3, h.message).text(4, h.ended_at);
    if (const int code = insert.step(); failed(code)) return failure(code);
    return {};
}

StoreResult<std::optional<std::string>> SqliteStationStore::bound_id(std::int32_t serial_number) {
    std::lock_guard lock(mutex_);
    Statement query(db_.get(), "SELECT id FROM ids WHERE serial_number = ?1 AND state = ?22");
    query.integer(1, serial_number).states();
    const int code = query.step();
    if (failed(code)) return {std::nullopt, failure(code)};
    if (code == SQLITE_ROW) return {query.text_at("id"), {}};
    return {};
}

StoreResult<std::optional<IdHolder>> SqliteStationStore::holder_locked(std::string_view id) {
    Statement query(db_.get(), "SELECT * FROM " + ids_source() + " WHERE id = ?1");
    query.text(1, id);
    const int code = query.step();
    if (failed(code)) return {std::nullopt, failure(code)};
    if (code != SQLITE_ROW) return {};
    return {holder_of(query), {}};
}

StoreResult<std::optional<IdHolder>> SqliteStationStore::id_holder(std::string_view id) {
    std::lock_guard lock(mutex_);
    return holder_locked(id);
}

// The scheme's first free ID from its counter on: IDs the records hold in any state are passed
// over. Inside the caller's transaction (or read alone).
StoreResult<Reservation> SqliteStationStore::next_free_locked(
    const IdScheme& scheme, std::optional<std::uint64_t> id_start) {
    Statement counter(db_.get(), "SELECT next_value FROM counters WHERE scheme = ?1");
    counter.text(1, scheme.counter_key());
    int code = counter.step();
    if (failed(code)) return {{}, failure(code)};
    std::uint64_t n = id_start.value_or(1);
    if (code == SQLITE_ROW) {
        const auto stored =
            static_cast<std::uint64_t>(std::max<std::int64_t>(counter.integer_at("next_value"), 0));
        n = std::max(stored, id_start.value_or(0));
    }

    Reservation reservation;
    for (;;) {
        const auto id = scheme.format(n);
        if (!id) {
            reservation.exhausted = true;
            return {reservation, {}};
        }
        Statement taken(db_.get(), "SELECT 1 FROM ids WHERE id = ?1");
        taken.text(1, *id);
        code = taken.step();
        if (failed(code)) return {{}, failure(code)};
        if (code == SQLITE_ROW) {
            ++n;  // in the records already, in some state: never given twice
            continue;
        }
        reservation.id = *id;
        reservation.counter = n;
        return {reservation, {}};
    }
}

StoreResult<Reservation> SqliteStationStore::peek_next(const IdScheme& scheme,
                                                       std::optional<std::uint64_t> id_start) {
    std::lock_guard lock(mutex_);
    return next_free_locked(scheme, id_start);
}

StoreResult<std::optional<std::string>> SqliteStationStore::pending_reservation(
    const IdScheme& scheme, std::int32_t serial_number) {
    std::lock_guard lock(mutex_);
    Statement query(db_.get(), R"sql(
SELECT id FROM ids WHERE serial_number = ?1 AND scheme = ?2 AND state = ?21
ORDER BY reserved_at DESC, id DESC LIMIT 1)sql");
    query.integer(1, serial_number).text(2, scheme.counter_key()).states();
    const int code = query.step();
    if (failed(code)) return {std::nullopt, failure(code)};
    if (code == SQLITE_ROW) return {query.text_at("id"), {}};
    return {};
}

StoreResult<Reservation> SqliteStationStore::reserve_next(const IdScheme& scheme,
                                                          std::optional<std::uint64_t> id_start,
                                                          const IdClaimant& claimant) {
    std::lock_guard lock(mutex_);
    Transaction tx(*this);
    if (failed(tx.begun())) return {{}, failure(tx.begun())};
    const auto next = next_free_locked(scheme, id_start);
    // Exhausted: rolled back, the counter stays as it was.
    if (!next.ok() || next.value.exhausted) return next;
    const Reservation reservation = next.value;
    const std::uint64_t n = reservation.counter;
    int code = SQLITE_OK;

    Statement reserve(db_.get(), R"sql(
INSERT INTO ids (id, state, serial_number, scheme, run_key, reserved_at, source, station_number)
VALUES (?1, ?21, ?2, ?3, ?4, ?5, ?6, ?7))sql");
    reserve.text(1, reservation.id)
        .integer(2, claimant.serial_number)
        .text(3, scheme.counter_key())
        .text(4, claimant.run_key)
        .text(5, utc_time_now())
        .text(6, id_source_name(IdSource::scheme))
        .integer(7, claimant.station_number)
        .states();
    if (code = reserve.step(); failed(code)) return {{}, failure(code)};
    Statement advance(db_.get(), R"sql(
INSERT INTO counters (scheme, next_value) VALUES (?1, ?2)
ON CONFLICT (scheme) DO UPDATE SET next_value = excluded.next_value)sql");
    advance.text(1, scheme.counter_key()).integer(2, static_cast<std::int64_t>(n + 1));
    if (code = advance.step(); failed(code)) return {{}, failure(code)};
    if (code = tx.commit(); failed(code)) return {{}, failure(code)};
    return {reservation, {}};
}

StoreResult<Claim> SqliteStationStore::claim(std::string_view id, IdSource source,
                                             const IdClaimant& claimant) {
    const std::int32_t serial_number = claimant.serial_number;
    std::lock_guard lock(mutex_);
    Transaction tx(*this);
    if (failed(tx.begun())) return {{}, failure(tx.begun())};
    auto holder = holder_locked(id);
    if (!holder.ok()) return {{}, holder.error};
    if (holder.value && holder.value->serial_number != serial_number)
        return {Claim{false, holder.value}, {}};
    if (holder.value && holder.value->state == IdState::bound)
        return {Claim{true, holder.value}, {}};  // bound to this unit already

    Statement reserve(db_.get(), R"sql(
INSERT INTO ids (id, state, serial_number, scheme, run_key, reserved_at, source, station_number)
VALUES (?1, ?21, ?2, '', ?3, ?4, ?5, ?6)
ON CONFLICT (id) DO UPDATE SET state = ?21, run_key = excluded.run_key, spent_at = NULL)sql");
    reserve.text(1, id)
        .integer(2, serial_number)
        .text(3, claimant.run_key)
        .text(4, utc_time_now())
        .text(5, id_source_name(source))
        .integer(6, claimant.station_number)
        .states();
    if (const int code = reserve.step(); failed(code)) return {{}, failure(code)};
    if (const int code = tx.commit(); failed(code)) return {{}, failure(code)};
    return {Claim{true, std::nullopt}, {}};
}

StoreError SqliteStationStore::bind(std::string_view id, std::int32_t serial_number) {
    std::lock_guard lock(mutex_);
    Transaction tx(*this);
    if (failed(tx.begun())) return failure(tx.begun());
    auto holder = holder_locked(id);
    if (!holder.ok()) return holder.error;
    if (holder.value && holder.value->serial_number != serial_number)
        return failure(StoreFailure::id_conflict, "holds the ID " + std::string(id) +
                                                      " for the unit with serial number " +
                                                      std::to_string(holder.value->serial_number));

    // The unit's earlier ID is spent first: a unit holds one ID.
    const std::string now = utc_time_now();
    Statement retire(db_.get(), R"sql(
UPDATE ids SET state = ?23, spent_at = ?3 WHERE serial_number = ?1 AND state = ?22 AND id <> ?2)sql");
    retire.integer(1, serial_number).text(2, id).text(3, now).states();
    if (const int code = retire.step(); failed(code)) return failure(code);
    // An ID nobody claimed (the unit confirmed it all the same) comes into the records bound.
    Statement bind(db_.get(), R"sql(
INSERT INTO ids (id, state, serial_number, scheme, reserved_at, bound_at, source)
VALUES (?1, ?22, ?2, '', ?3, ?3, ?4)
ON CONFLICT (id) DO UPDATE SET state = ?22, bound_at = excluded.bound_at, spent_at = NULL)sql");
    bind.text(1, id)
        .integer(2, serial_number)
        .text(3, now)
        .text(4, id_source_name(IdSource::records))
        .states();
    if (const int code = bind.step(); failed(code)) return failure(code);
    if (const int code = tx.commit(); failed(code)) return failure(code);
    return {};
}

StoreError SqliteStationStore::spend(std::string_view id) {
    std::lock_guard lock(mutex_);
    Statement update(db_.get(),
                     "UPDATE ids SET state = ?23, spent_at = ?2 WHERE id = ?1 AND state = ?21");
    update.text(1, id).text(2, utc_time_now()).states();
    if (const int code = update.step(); failed(code)) return failure(code);
    return {};
}

StoreError SqliteStationStore::for_each_id(const IdFilter& filter,
                                           const std::function<void(const IdHolder&)>& id) {
    std::lock_guard lock(mutex_);
    Statement query(db_.get(), "SELECT * FROM " + ids_source() + R"sql(
WHERE (?1 IS NULL OR id = ?1 COLLATE NOCASE) AND (?2 IS NULL OR serial_number = ?2)
  AND (?3 IS NULL OR state = ?3)
ORDER BY reserved_at, id)sql");
    query.text(1, filter.id).integer(2, filter.serial_number);
    if (filter.state)
        query.text(3, id_state_name(*filter.state));
    else
        query.null(3);
    for (;;) {
        const int code = query.step();
        if (failed(code)) return failure(code);
        if (code != SQLITE_ROW) return {};
        id(holder_of(query));
    }
}

StoreError SqliteStationStore::for_each_run(const RunFilter& filter,
                                            const std::function<void(const RunRecord&)>& row) {
    std::lock_guard lock(mutex_);
    const std::string sql = R"sql(
SELECT runs.run_key, started_at, host, station_number, operator, port, serial_number,
       id_before, firmware_version, flash_type_code, flash_type, gps_before, internal_before,
       external_before, image, image_sha256, tool_version, id_after, gps_after, internal_after,
       external_after, step_download, step_id, step_settings, step_then, result, exit_code,
       runs.message AS message, duration_ms, lot, hooks.status AS hook_status,
       hooks.message AS hook_message, hooks.ended_at AS hook_ended_at
FROM )sql" + runs_source() + " LEFT JOIN " +
                            hooks_source() + R"sql( ON hooks.run_key = runs.run_key
WHERE (?1 IS NULL OR started_at >= ?1)
  AND (?2 IS NULL OR serial_number = ?2)
  AND (?3 IS NULL OR id_before = ?3 COLLATE NOCASE OR id_after = ?3 COLLATE NOCASE)
  AND (?4 IS NULL OR lot = ?4)
ORDER BY started_at, runs.run_key)sql";
    Statement query(db_.get(), sql);
    query.text(1, filter.since)
        .integer(2, filter.serial_number)
        .text(3, filter.id)
        .text(4, filter.lot);
    for (;;) {
        const int code = query.step();
        if (failed(code)) return failure(code);
        if (code != SQLITE_ROW) return {};
        RunRecord r;
        RunStart& s = r.start;
        s.run_key = query.text_at("run_key");
        s.started_at = query.text_at("started_at");
        s.host = query.text_at("host");
        s.station_number = query.optional_integer_at<std::uint32_t>("station_number");
        s.operator_name = query.text_at("operator");
        s.port = query.text_at("port");
        s.serial_number = query.optional_integer_at<std::int32_t>("serial_number");
        s.id_before = query.optional_text_at("id_before");
        s.firmware_version = query.optional_text_at("firmware_version");
        s.flash_type_code = query.optional_integer_at<std::uint8_t>("flash_type_code");
        s.flash_type = query.optional_text_at("flash_type");
        s.settings_before = {query.optional_integer_at<std::uint8_t>("gps_before"),
                             query.optional_integer_at<std::uint8_t>("internal_before"),
                             query.optional_integer_at<std::uint8_t>("external_before")};
        s.image = query.text_at("image");
        s.image_sha256 = query.text_at("image_sha256");
        s.tool_version = query.text_at("tool_version");
        s.lot = query.optional_text_at("lot");
        if (!query.is_null("result")) {
            RunEnd e;
            e.run_key = s.run_key;
            e.id_after = query.optional_text_at("id_after");
            e.settings_after = {query.optional_integer_at<std::uint8_t>("gps_after"),
                                query.optional_integer_at<std::uint8_t>("internal_after"),
                                query.optional_integer_at<std::uint8_t>("external_after")};
            e.steps = {query.text_at("step_download"), query.text_at("step_id"),
                       query.text_at("step_settings"), query.text_at("step_then")};
            e.result = query.text_at("result");
            e.exit_code = static_cast<int>(query.integer_at("exit_code"));
            e.message = query.text_at("message");
            e.duration_ms = static_cast<std::uint32_t>(query.integer_at("duration_ms"));
            r.end = std::move(e);
        }
        if (!query.is_null("hook_status"))
            r.hook = HookRecord{s.run_key, query.text_at("hook_status"),
                                query.text_at("hook_message"), query.text_at("hook_ended_at")};
        row(r);
    }
}

StoreError SqliteStationStore::for_each_counter(
    const std::function<void(const CounterRecord&)>& row) {
    std::lock_guard lock(mutex_);
    Statement query(db_.get(), "SELECT scheme, next_value FROM counters ORDER BY scheme");
    for (;;) {
        const int code = query.step();
        if (failed(code)) return failure(code);
        if (code != SQLITE_ROW) return {};
        row({query.text_at(0),
             static_cast<std::uint64_t>(std::max<std::int64_t>(query.integer_at(1), 0))});
    }
}

// The chosen rows' filters; the parameters are bound by bind_report_filters.
constexpr std::string_view REPORT_FILTERS = R"sql(
    (?1 IS NULL OR started_at >= ?1) AND (?2 IS NULL OR started_at < ?2)
    AND (?3 IS NULL OR lot = ?3) AND (?4 IS NULL OR station_number = ?4)
    AND (?5 IS NULL OR operator = ?5))sql";

void bind_report_filters(Statement& statement, const ReportQuery& q) {
    statement.text(1, q.since)
        .text(2, q.until)
        .text(3, q.lot)
        .integer(4, q.station_number)
        .text(5, q.operator_name);
}

// A start's minute as the hour ("YYYY-MM-DD HH:00") or day ("YYYY-MM-DD") it falls in: in UTC
// by its text, in this machine's zone by SQLite's 'localtime' (the C library's zone of this
// process). Runs in their units' order mostly follow each other in time, so the zone is asked
// about each UTC hour once, not about each run: the local times of the hour's first and last
// minute. Within one UTC hour the local hour or day changes at most once, where the zone's
// minutes turn to :00 (at :30 in India); only an hour in which the zone itself changes (to or
// from summer time) at another minute is searched for it.
class HourOrDay {
  public:
    HourOrDay(sqlite3* db, ReportBy by, bool utc)
        : by_(by), utc_(utc), local_(db, "SELECT strftime('%Y-%m-%d %H:%M', ?1, 'localtime')") {}

    std::string of(const std::string& minute) {
        if (utc_) return key(minute.substr(0, 10) + " " + minute.substr(11));
        const auto m = minute_of(minute);
        if (!m) return key(convert(minute));  // not as the records write it: asked as it is
        const std::string hour = minute.substr(0, 13);
        if (hour != hour_) {
            hour_ = hour;
            const std::string first = convert(at(0)), last = convert(at(59));
            first_ = key(first);
            last_ = key(last);
            split_ = 60;
            const auto first_minute = minute_of(first), last_minute = minute_of(last);
            if (first_ == last_) {
                // One hour or day all through.
            } else if (first_minute && last_minute && *first_minute != 0 &&
                       *last_minute == (*first_minute + 59) % 60) {
                split_ = 60 - *first_minute;  // the local hour turns there
            } else {
                int before = 0, after = 59;  // first_ holds at `before`, last_ at `after`
                while (after - before > 1) {
                    const int mid = (before + after) / 2;
                    (key(convert(at(mid))) == first_ ? before : after) = mid;
                }
                split_ = after;
            }
        }
        return *m < split_ ? first_ : last_;
    }

  private:
    // The minute of "YYYY-MM-DDTHH:MM" (or with a blank for the T), nullopt for another text.
    static std::optional<int> minute_of(const std::string& text) {
        if (text.size() != 16 || text[13] != ':' || text[14] < '0' || text[14] > '5' ||
            text[15] < '0' || text[15] > '9')
            return std::nullopt;
        return (text[14] - '0') * 10 + (text[15] - '0');
    }
    // "YYYY-MM-DD HH:MM" as the hour or day it falls in.
    [[nodiscard]] std::string key(const std::string& time) const {
        return by_ == ReportBy::hour ? time.substr(0, 13) + ":00" : time.substr(0, 10);
    }
    [[nodiscard]] std::string at(int minute) const {
        return hour_ + ":" + static_cast<char>('0' + minute / 10) +
               static_cast<char>('0' + minute % 10);
    }
    std::string convert(const std::string& minute) {
        local_.reset();
        local_.text(1, minute);
        return local_.step() == SQLITE_ROW ? local_.text_at(0) : std::string();
    }

    ReportBy by_;
    bool utc_;
    Statement local_;
    std::string hour_;          // the UTC hour ("YYYY-MM-DDTHH") of the last minute asked
    std::string first_, last_;  // its first and last minute's local hour or day
    int split_ = 60;            // its first minute in last_
};

StoreResult<Report> SqliteStationStore::report(const ReportQuery& query) {
    std::lock_guard lock(mutex_);
    // One read transaction: every run is seen as it was at one moment while stations write.
    if (const int code = exec("BEGIN"); failed(code)) return {{}, failure(code)};
    struct EndRead {
        SqliteStationStore& store;
        ~EndRead() { (void)store.exec("COMMIT"); }
    } end_read{*this};

    // Hours and days come as the start's minute ("YYYY-MM-DDTHH:MM", UTC), worked out in the
    // report's zone once per UTC hour (HourOrDay), not once per run.
    const std::vector<std::string> keys = report_key_columns(query.by, "substr(started_at, 1, 16)");
    HourOrDay hour_or_day(db_.get(), query.by, query.utc);
    const std::vector<std::string> statements =
        tally_statements(keys, runs_source(), std::string(REPORT_FILTERS), report_filtered(query));

    const auto key_of = [&](const Statement& row) {
        ReportGroupKey key;
        switch (query.by) {
            case ReportBy::station:
            case ReportBy::port:
                key.station_number = row.optional_integer_at<std::uint32_t>(0);
                key.host = row.text_at(1);
                if (query.by == ReportBy::port) key.port = row.text_at(2);
                break;
            case ReportBy::hour:
            case ReportBy::day:
                key.value = hour_or_day.of(row.text_at(0));
                break;
            case ReportBy::none:
                break;
            default:
                key.value = row.optional_text_at(0);
                break;
        }
        return key;
    };
    const int first = static_cast<int>(keys.size());  // the first column after the group's
    ReportTally tally(query.by != ReportBy::none);
    for (const std::string& sql : statements) {
        Statement statement(db_.get(), sql);
        bind_report_filters(statement, query);
        for (;;) {
            const int code = statement.step();
            if (failed(code)) return {{}, failure(code)};
            if (code != SQLITE_ROW) break;
            TallyRun run;
            run.key = key_of(statement);
            run.serial_number = statement.optional_integer_at<std::int32_t>(first);
            run.result = statement.optional_text_at(first + 1);
            run.steps = {statement.text_at(first + 2), statement.text_at(first + 3),
                         statement.text_at(first + 4), statement.text_at(first + 5)};
            run.duration_ms = statement.optional_integer_at<std::uint32_t>(first + 6);
            run.chosen = statement.integer_at(first + 7) != 0;
            tally.add(run);
        }
    }
    return {tally.finish(), {}};
}

}  // namespace

std::span<const SchemaStep> station_schema() {
    return SCHEMA;
}

namespace {

// How an export opens a file it may not be able to write, or whose folder or medium takes
// no file beside it.
enum class ReadMode {
    // Read-write (never created), only so that the side files go when it closes; a file that
    // cannot be written opens read-only.
    usual,
    // Read-only: the WAL's shared-memory file must exist or be made.
    read_only,
    // Read-only, without file locks, and the WAL's index kept in this process's memory: reads
    // what the write-ahead log holds where no shared-memory file can be made (a read-only or
    // full medium, a folder that cannot be written). No station writes there meanwhile: it
    // could not have made its own side files either.
    private_index,
    // The file alone, as a thing that never changes: what the write-ahead log holds is not
    // read.
    immutable,
};

// A file name as an SQLite URI's path: '?', '#' and '%' are the file's own.
std::string uri_path(const std::string& path) {
    std::string out = "file:";
    for (const char c : path) {
        if (c == '?' || c == '#' || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

bool vfs_has_file(const char* vfs_name, const std::string& path) {
    sqlite3_vfs* vfs = sqlite3_vfs_find(vfs_name);
    int exists = 0;
    return vfs != nullptr &&
           vfs->xAccess(vfs, path.c_str(), SQLITE_ACCESS_EXISTS, &exists) == SQLITE_OK &&
           exists != 0;
}

std::unique_ptr<SqliteStationStore> open_store(const std::string& path, StoreAccess access,
                                               ReadMode mode, StoreError* error,
                                               const SqliteStoreSettings& settings) {
    int flags = SQLITE_OPEN_FULLMUTEX;
    std::string name = path;
    const char* vfs = settings.vfs.empty() ? nullptr : settings.vfs.c_str();
    switch (mode) {
        case ReadMode::usual:
            // No URI names: a file name with '?' or '#' is a file name.
            flags |=
                SQLITE_OPEN_READWRITE | (access == StoreAccess::station ? SQLITE_OPEN_CREATE : 0);
            break;
        case ReadMode::read_only:
            flags |= SQLITE_OPEN_READONLY;
            break;
        case ReadMode::private_index:
            flags |= SQLITE_OPEN_READONLY;
            vfs = "unix-none";
            break;
        case ReadMode::immutable:
            flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
            name = uri_path(path) + "?immutable=1";
            break;
    }
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(name.c_str(), &raw, flags, vfs);
    std::unique_ptr<sqlite3, CloseDb> db(raw);
    if (!db) {
        *error = {StoreFailure::cannot_open,
                  "the station database " + path + " cannot be opened: out of memory"};
        return nullptr;
    }
    if (mode != ReadMode::usual) {
        // A reader leaves the file and its log as it found them.
        sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    if (mode == ReadMode::private_index)
        (void)sqlite3_exec(db.get(), "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
    auto store = std::make_unique<SqliteStationStore>(path, std::move(db));
    *error = store->start(code, access, settings);
    if (!error->ok()) return nullptr;
    return store;
}

}  // namespace

std::unique_ptr<StationStore> open_sqlite_station_store(const std::string& path, StoreAccess access,
                                                        StoreError* error,
                                                        const SqliteStoreSettings& settings) {
    if (path.empty()) {
        *error = {StoreFailure::cannot_open, "the station database  has no name"};
        return nullptr;
    }
    auto store = open_store(path, access, ReadMode::usual, error, settings);
    if (store || access != StoreAccess::export_only) return store;
    // The records are read from wherever the file is: a copy on a read-only medium, a full
    // disk, a folder this user cannot write. A file that is not a station's, or of another
    // version, stays refused as it was.
    const StoreFailure first = error->failure;
    if (first != StoreFailure::cannot_open && first != StoreFailure::read_only &&
        first != StoreFailure::disk_full && first != StoreFailure::io_error)
        return store;
    const char* vfs = settings.vfs.empty() ? nullptr : settings.vfs.c_str();
    if (!vfs_has_file(vfs, path)) return store;
    const StoreError told = *error;
    for (const ReadMode mode :
         {ReadMode::read_only, ReadMode::private_index, ReadMode::immutable}) {
        store = open_store(path, access, mode, error, settings);
        if (!store) continue;
        if (mode == ReadMode::immutable && vfs_has_file(vfs, path + "-wal"))
            store->set_note("the write-ahead log " + path +
                            "-wal could not be read here, so the rows written after the "
                            "database was last checkpointed are missing: copy the database "
                            "with its -wal file into a folder that can be written, and export "
                            "that copy");
        return store;
    }
    *error = told;
    return nullptr;
}

}  // namespace vrk::cli

namespace vrk::cli {

std::unique_ptr<StationStore> open_station_store(const std::string& path, StoreAccess access,
                                                 StoreError* error) {
    // A libpq URI names a line's database on a server; anything else is a station's file.
    if (is_line_database(path)) return open_postgres_station_store(path, access, error);
    return open_sqlite_station_store(path, access, error);
}

}  // namespace vrk::cli
