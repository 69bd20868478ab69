// The station's records: one row per unit a production run handles, and the IDs the station
// has given. The records are the source of truth for IDs: an ID is reserved in a committed
// transaction before it is sent, bound to the unit's serial number once the unit confirms it,
// and never given to another unit, across the ports of one run, several vrk processes on one
// database and crashes. A reservation that was never bound (the unit did not answer, vrk was
// killed) stays with its serial number: that unit gets it again at its next run
// (pending_reservation), and it is spent only when the unit is given a new ID instead.
//
// This is the one interface the command-line tool's flow sees; open_station_store gives the
// SQLite store for a station's file and the PostgreSQL store for a line's database. Which ID
// a unit gets is decided by assign_id (id_assignment.h) with the calls below.
//
// Threads: a store object is made once per process and shared by the ports' threads; every
// call is safe from any thread and is a transaction of its own (the calls of several threads
// are done one after another). Several processes may use one database at the same time: a
// call waits for another process's transaction (up to STORE_BUSY_TIMEOUT_MS) instead of
// failing.
//
// Errors: every call that fails says so in a StoreError (never an exception) and has changed
// nothing. Apart from id_conflict and no_such_run (a caller's mistake), a failure means the
// database is unusable for this run: the tool says why and exits with EXIT_DATABASE, and
// touches no unit it has not touched yet.
//
// A line's server that goes away in the middle of a run (restarted, its network cut) is
// waited for inside the call: the store connects again with back-off for up to its outage
// limit (set_outage_limit, --db-wait) and does the call then, so the caller only sees a slow
// call. What it did before the connection broke is looked up first, so a call whose commit's
// outcome was lost is never done twice. Past the limit the call fails as `unreachable`. A
// station's file has no outages: its store ignores both settings below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/cli/common/results.h"
#include "app/cli/station/device_codes.h"
#include "app/cli/station/id_scheme.h"

namespace vrk::cli {

// How long a call waits for another process that holds the database.
inline constexpr int STORE_BUSY_TIMEOUT_MS = 30'000;

enum class StoreFailure {
    none,
    cannot_open,     // missing (for reading), a folder, no permission to the folder, ...
    not_a_database,  // not an SQLite file, or one that is not a station's
    other_version,   // of a newer vrk (this one does not know its tables)
    read_only,       // the file, its folder or its medium cannot be written
    disk_full,
    busy,         // another process held it longer than STORE_BUSY_TIMEOUT_MS
    damaged,      // SQLite found the file corrupt
    io_error,     // the system failed to read or write it
    unreachable,  // the database server cannot be reached, or the connection to it was lost
    refused,      // the server refused the station: its credentials, its database or its rights
    id_conflict,  // bind(): the ID is held by another serial number (a caller's mistake)
    no_such_run,  // complete_run(): no row with this run key
};

struct StoreError {
    StoreFailure failure = StoreFailure::none;
    std::string message;  // for a person, names the database's file; empty when none
    [[nodiscard]] bool ok() const { return failure == StoreFailure::none; }
};

template <typename T>
struct StoreResult {
    T value{};
    StoreError error;  // when not ok(), value means nothing
    [[nodiscard]] bool ok() const { return error.ok(); }
};

// The results a step of a unit's run can have in its row.
inline constexpr std::string_view STEP_SUCCESS = "success";
inline constexpr std::string_view STEP_SKIPPED = "skipped";      // an earlier step failed
inline constexpr std::string_view STEP_NOT_ASKED = "not_asked";  // the recipe has no such step
// Any other text is the step's failure result ("mismatch", "not_confirmed", ...); an empty
// one (null in the database) is a step the run never reached (it was killed).

// What is known when a unit's run starts: written as its row before the unit is touched.
struct RunStart {
    std::string run_key;     // new_run_key(): unique across stations, so exports merge
    std::string started_at;  // UTC, ISO 8601 with milliseconds (utc_time_now())
    std::string host;        // the station's machine
    std::optional<std::uint32_t> station_number;
    std::string operator_name;  // empty when none was given
    std::string port;
    // The unit's identity, once confirmed; nullopt where it was not (a unit refused before
    // its identity agreed is recorded without it).
    std::optional<std::int32_t> serial_number;
    std::optional<std::string> id_before;         // UTF-8
    std::optional<std::string> firmware_version;  // "2.15"
    std::optional<std::uint8_t> flash_type_code;
    std::optional<std::string> flash_type;  // "2 Meg"
    DeviceCodes settings_before;
    std::string image;         // the path as opened
    std::string image_sha256;  // 64 lower-case hex digits
    std::string tool_version;
    // The work order the unit belongs to; nullopt when none was given (and in the rows of a
    // database from before work orders were recorded).
    std::optional<std::string> lot;
    friend bool operator==(const RunStart&, const RunStart&) = default;
};

struct RunSteps {
    std::string download, id, settings, then;  // see STEP_*; empty: not reached
    friend bool operator==(const RunSteps&, const RunSteps&) = default;
};

// What the unit holds at the end of its run, and how the run ended: completes the row.
struct RunEnd {
    std::string run_key;
    std::optional<std::string> id_after;
    DeviceCodes settings_after;
    RunSteps steps;
    std::string result;  // the overall result's stable name ("success", "mismatch", ...)
    int exit_code = 0;
    std::string message;
    std::uint32_t duration_ms = 0;
    friend bool operator==(const RunEnd&, const RunEnd&) = default;
};

// What became of a unit's hook (--on-unit): kept in a table of its own beside the unit's row,
// which is complete before the hook runs and is never written again.
struct HookRecord {
    std::string run_key;
    // "exit 0", "exit 3", "timed out", "not started", "signal 9", "abandoned", "not run"
    std::string status;
    std::string message;   // why it was not started, or the first line of its error output
    std::string ended_at;  // UTC, as started_at
    friend bool operator==(const HookRecord&, const HookRecord&) = default;
};

// One row as an export reads it. `end` is nullopt for a run that was begun and never completed
// (the program was killed, the machine lost power, or the last write failed).
struct RunRecord {
    RunStart start;
    std::optional<RunEnd> end;
    std::optional<HookRecord> hook;  // nullopt: no hook was run for it (none set, or killed)
};

// Which rows an export wants; every condition given must hold.
struct RunFilter {
    std::optional<std::string> since;  // started at or after: "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::optional<std::int32_t> serial_number;
    std::optional<std::string> id;   // the ID before or after, letters compared in any case
    std::optional<std::string> lot;  // the work order, compared byte for byte
};

enum class IdState {
    reserved,  // given to a unit's run and maybe sent; not confirmed yet: kept for that unit
    bound,     // the unit with serial_number confirmed it and holds it
    spent,     // never given again: a reservation given up, or a unit's earlier ID
};

// How an ID came to a unit. In the records, the way it first came into them.
enum class IdSource {
    fixed,    // --id
    scheme,   // the next ID of the scheme's counter
    carried,  // the unit carried it already (another station of the line gave it)
    records,  // the records bind the unit's serial number to it; stored for an ID a unit
              // confirmed that nobody had claimed
};
[[nodiscard]] std::string_view id_source_name(IdSource source);
[[nodiscard]] std::optional<IdSource> id_source_named(std::string_view name);
[[nodiscard]] std::optional<IdState> id_state_named(std::string_view name);

// Who holds an ID in the records, and its history.
struct IdHolder {
    std::string id;
    IdState state = IdState::reserved;
    // The unit it was reserved for or bound to. Every ID in the records has one.
    std::int32_t serial_number = 0;
    std::string scheme;  // the counter it came from; empty for a fixed or carried ID
    // nullopt in a database from before sources were kept, for an ID that came from no scheme
    // (fixed or carried: not known which).
    std::optional<IdSource> source = {};
    std::optional<std::uint32_t> station_number = {};  // of the station that reserved it
    std::string run_key = {};  // of the run it was reserved for, if any
    // When it was reserved, bound and spent: UTC, as RunStart::started_at. An ID spent in a
    // database from before these times were kept has no spent_at.
    std::string reserved_at = {};
    std::optional<std::string> bound_at = {}, spent_at = {};
    friend bool operator==(const IdHolder&, const IdHolder&) = default;
};

// Which IDs vrk ids wants; every condition given must hold.
struct IdFilter {
    std::optional<std::string> id = {};  // letters compared in any case, as RunFilter's
    std::optional<std::int32_t> serial_number = {};
    std::optional<IdState> state = {};
};

// Who asks the records for an ID: the unit, its run, the station.
struct IdClaimant {
    IdClaimant(std::int32_t serial, std::string key, std::optional<std::uint32_t> station = {})
        : serial_number(serial), run_key(std::move(key)), station_number(station) {}
    std::int32_t serial_number;
    std::string run_key;
    std::optional<std::uint32_t> station_number;
};

struct Reservation {
    std::string id;
    std::uint64_t counter = 0;  // the counter value that gave it
    // The next ID would be longer than 8 characters: nothing was reserved (the recipe cannot
    // go on; the tool exits with EXIT_USAGE).
    bool exhausted = false;
};

struct Claim {
    // True: the ID is now reserved for (or already bound to) the serial number. False: another
    // unit holds it (`holder`), nothing changed.
    bool claimed = false;
    std::optional<IdHolder> holder;
};

struct CounterRecord {
    std::string scheme;  // IdScheme::counter_key()
    std::uint64_t next_value = 0;
};

struct ImportedId {
    enum class Outcome {
        added,     // the records did not know it: now as the file has it
        known,     // held for the same serial number already: left as it is
        conflict,  // held for another serial number (`holder`), or the unit holds another
                   // bound ID here: left as these records have it
    } outcome = Outcome::added;
    std::optional<IdHolder> holder;  // conflict: who holds the ID (or the unit's bound ID)
};

// The kinds of result that say the station ended a unit's run, not the unit: the port (gone,
// never opened, no unit on it), the image (missing or changed on the disk), the database, an
// interruption (Ctrl+C). A report lists such runs apart and counts them in no yield: a unit is
// not failed by a cable pulled out or an operator's Ctrl+C.
[[nodiscard]] constexpr bool is_station_reason(ResultKind kind) {
    return kind == ResultKind::port || kind == ResultKind::image ||
           kind == ResultKind::database || kind == ResultKind::interruption;
}

// vrk report: the numbers of a production line, computed by the database over the rows that
// pass the query's filters (the chosen rows). The definitions, which every store computes
// alike, each its own fastest way (report_tally.h reads the runs once in their units' order):
//   - a counted run is a chosen row that was completed, with a serial number, whose result is
//     not of a station reason's kind (is_station_reason);
//   - units: distinct serial numbers among the counted runs; passed: those units whose last
//     counted run (by start time, then run key) passed ("success"); yield = passed / units;
//   - first-pass yield: of the units whose first counted run ever (in the whole database, all
//     filters aside) is a chosen row, those whose first run passed, over all of them;
//   - failures: completed chosen rows (with or without a serial number) whose result is
//     neither "success" nor a station's reason, counted by result and by the step that
//     failed: the first of download, id, settings, then whose result is a failure, or
//     "before_steps" (the unit was refused, its identity did not agree, its ID was taken);
//   - station runs: completed chosen rows whose result is a station's reason, by result;
//   - unfinished: chosen rows never completed (on a live line, some may still be running);
//   - durations of passed runs (counted runs that passed): the median and the 95th percentile
//     by nearest rank (the value at rank ceil(p * n) of the n durations in ascending order),
//     and the longest.
// With a grouping, every number above is computed per group: a unit's last run is its last
// run in the group, its first run ever must fall in the group to count there.
enum class ReportBy {
    none,
    station,        // the station's number with its host
    port,           // within its station
    operator_name,  // as recorded ("" when none was given)
    lot,            // nullopt: no work order
    hour,           // "YYYY-MM-DD HH:00" of the start
    day,            // "YYYY-MM-DD" of the start
};

struct ReportQuery {
    std::optional<std::string> since;  // started at or after: "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::optional<std::string> until;  // started before, as since
    std::optional<std::string> lot;
    std::optional<std::uint32_t> station_number;
    std::optional<std::string> operator_name;
    ReportBy by = ReportBy::none;
    // Hours and days in UTC; otherwise in the local time zone of the machine that runs the
    // report (TZ, else the system's zone), whatever zone the stations were in. SQLite converts
    // with the C library's zone of this process ('localtime'); a server's store must pass this
    // machine's zone to its server, whose own zone may be another.
    bool utc = false;
};

struct ReportCount {
    std::string name;  // a result's stable name, or a step's
    std::int64_t count = 0;
    friend bool operator==(const ReportCount&, const ReportCount&) = default;
};

struct ReportNumbers {
    std::int64_t units = 0;
    std::int64_t passed = 0;
    std::int64_t first_units = 0;   // units whose first run ever is chosen
    std::int64_t first_passed = 0;  // ... and passed
    std::int64_t failed_runs = 0;
    std::vector<ReportCount> failures;      // by result: most frequent first, then by name
    std::vector<ReportCount> failed_steps;  // by step: the same order
    std::int64_t station_runs = 0;
    std::vector<ReportCount> station_reasons;  // by result: the same order
    std::int64_t unfinished = 0;
    std::int64_t passed_runs = 0;  // the durations below are of these
    std::optional<std::uint32_t> median_ms, p95_ms, longest_ms;
    friend bool operator==(const ReportNumbers&, const ReportNumbers&) = default;
};

struct ReportGroupKey {
    std::optional<std::uint32_t> station_number;  // station, port
    std::string host;                             // station, port
    std::string port;                             // port
    std::optional<std::string> value;             // operator, lot, hour, day
    friend auto operator<=>(const ReportGroupKey&, const ReportGroupKey&) = default;
};

struct ReportGroup {
    ReportGroupKey key;
    ReportNumbers numbers;
    friend bool operator==(const ReportGroup&, const ReportGroup&) = default;
};

struct Report {
    ReportNumbers totals;             // all chosen rows as one
    std::vector<ReportGroup> groups;  // by `by`, in the order of their keys; none without it
};

// Told, on the thread of the call that waits, while a line's server is away. A port's job
// is one: its board and its JSON say that the port waits for the database, and why.
class StoreWaitObserver {
  public:
    virtual ~StoreWaitObserver() = default;
    // The call waits for the server; `since` is when the outage was noticed (UTC, as
    // RunStart::started_at), `why` the server's or libpq's last words.
    virtual void records_waiting(const std::string& since, const std::string& why) = 0;
    // The server answers again: the call goes on.
    virtual void records_back() = 0;
    // Asked between tries: false ends the wait at once (the operator pressed Ctrl+C), and the
    // call fails as if the limit had passed.
    [[nodiscard]] virtual bool keep_waiting() { return true; }
};

// How long a call waits for a line's server that went away, unless told otherwise.
inline constexpr std::uint32_t STORE_OUTAGE_LIMIT_DEFAULT_S = 60;

class StationStore {
  public:
    virtual ~StationStore() = default;

    // How long a call waits for a server that went away before it fails (0: it fails at
    // once, without connecting again).
    virtual void set_outage_limit(std::uint32_t ms) { (void)ms; }
    // The observer of the calls made from the calling thread (nullptr: none from now on). It
    // must outlive the calls it observes.
    virtual void watch_waits(StoreWaitObserver* observer) { (void)observer; }

    // The database as named in messages (its file).
    [[nodiscard]] virtual const std::string& location() const = 0;
    // What a reader should know of the rows it gets (some the medium did not let it read);
    // empty when it reads them all.
    [[nodiscard]] virtual const std::string& reading_note() const {
        static const std::string none;
        return none;
    }

    // Writes the unit's row (committed to the medium when this returns). Fails: the unit must
    // not be touched.
    [[nodiscard]] virtual StoreError begin_run(const RunStart& start) = 0;
    // Completes the row begun with the same run key (committed when this returns). Fails: the
    // unit is reported failed, never passed, whatever it did. no_such_run when no row has the
    // key.
    [[nodiscard]] virtual StoreError complete_run(const RunEnd& end) = 0;

    // Records the outcome of the unit's hook, once per run key (committed when this returns).
    // The unit's own row is not touched: its result stands whatever the hook did.
    [[nodiscard]] virtual StoreError record_hook(const HookRecord& hook) = 0;

    // The ID bound to this serial number, or nullopt. A unit the records know keeps its ID
    // when it is flashed again.
    [[nodiscard]] virtual StoreResult<std::optional<std::string>> bound_id(
        std::int32_t serial_number) = 0;
    // Who holds this ID (compared byte for byte), or nullopt when the records have never seen
    // it.
    [[nodiscard]] virtual StoreResult<std::optional<IdHolder>> id_holder(std::string_view id) = 0;

    // Reserves the scheme's next ID for the unit with this serial number, in one transaction:
    // the counter (named scheme.counter_key()) starts at `id_start` (1 when nullopt) and is
    // only ever raised by it; IDs the records hold in any state, from any scheme or fixed, are
    // skipped; the ID given is recorded as reserved and the counter moved past it. `exhausted`
    // when the scheme has no ID left that fits.
    [[nodiscard]] virtual StoreResult<Reservation> reserve_next(
        const IdScheme& scheme, std::optional<std::uint64_t> id_start,
        const IdClaimant& claimant) = 0;
    // The ID reserve_next would give now, without reserving it (`exhausted` when none fits):
    // a unit is refused before it is touched when its scheme has nothing left for it.
    [[nodiscard]] virtual StoreResult<Reservation> peek_next(
        const IdScheme& scheme, std::optional<std::uint64_t> id_start) = 0;
    // The ID of this scheme reserved for this serial number and never bound (the unit did not
    // confirm it, or vrk was killed), or nullopt: the unit gets it again.
    [[nodiscard]] virtual StoreResult<std::optional<std::string>> pending_reservation(
        const IdScheme& scheme, std::int32_t serial_number) = 0;
    // Reserves an ID that does not come from a counter, for the claimant's unit: a fixed ID,
    // or the ID the unit carries already (given by another station of the line), recorded
    // with that source. Refused (claimed false) when the records hold it for another serial
    // number, in any state: a spent ID may still sit in the unit it was sent to.
    [[nodiscard]] virtual StoreResult<Claim> claim(std::string_view id, IdSource source,
                                                   const IdClaimant& claimant) = 0;
    // The unit confirmed the ID: binds it to the serial number, whose earlier ID (if any) is
    // spent. The ID must be reserved for, or bound to, this serial number: id_conflict when
    // another unit holds it; an ID the records do not know is recorded bound.
    [[nodiscard]] virtual StoreError bind(std::string_view id, std::int32_t serial_number) = 0;
    // Gives a reservation up: its unit is given a new ID instead (--new-id). It is never given
    // again. Spending an ID that is bound, or unknown, changes nothing.
    [[nodiscard]] virtual StoreError spend(std::string_view id) = 0;

    // Hands every ID that passes the filter to `id`, in the order they were reserved (then by
    // ID). `id` must not call the store.
    [[nodiscard]] virtual StoreError for_each_id(
        const IdFilter& filter, const std::function<void(const IdHolder&)>& id) = 0;

    // Hands every row that passes the filter to `row`, oldest first (by start time, then run
    // key). `row` must not call the store (the call holds it).
    [[nodiscard]] virtual StoreError for_each_run(
        const RunFilter& filter, const std::function<void(const RunRecord&)>& row) = 0;
    // Hands every counter (by scheme) to `row`; as for_each_run.
    [[nodiscard]] virtual StoreError for_each_counter(
        const std::function<void(const CounterRecord&)>& row) = 0;

    // vrk import, into a line's database (a store that takes no imports refuses each):
    // a row is added unless one with its run key is there (true: added);
    [[nodiscard]] virtual StoreResult<bool> import_run(const RunRecord& run);
    // an ID is added as the file has it, unless the records hold it already (see ImportedId);
    [[nodiscard]] virtual StoreResult<ImportedId> import_id(const IdHolder& id);
    // a counter is raised to at least `counter.next_value` (true: raised), never lowered.
    [[nodiscard]] virtual StoreResult<bool> raise_counter(const CounterRecord& counter);

    // The report's numbers (see ReportBy). The rows are never brought into memory together:
    // what is kept is the numbers of each group (and the passed runs' durations).
    [[nodiscard]] virtual StoreResult<Report> report(const ReportQuery& query) = 0;
};

// One step of a store's schema history: SQL that takes the tables from version n to n + 1,
// where n is the step's index in the list. Each store keeps its own list, in its own dialect.
struct SchemaStep {
    std::string_view sql;
};

enum class StoreAccess {
    // program: read and write; the file is created when missing, its tables brought up to
    // this version of the tool. A file that cannot be written is refused (read_only).
    station,
    // log, report: reading only; the file must exist and be a station's, of this version of
    // the tool or an older one. An older file is read as it is, never upgraded: what its
    // version did not record reads as not known (nullopt). Writes no record, and a copy on a
    // read-only medium can be exported.
    export_only,
};

// Opens the database at `path`. nullptr, with the failure in *error, when it cannot be used.
[[nodiscard]] std::unique_ptr<StationStore> open_station_store(const std::string& path,
                                                               StoreAccess access,
                                                               StoreError* error);

// Whether `name` is a line database's libpq URI (postgresql://... or postgres://...) rather
// than a station's file.
[[nodiscard]] bool is_line_database(std::string_view name);
// Why vrk refuses this URI before connecting (it holds a password, or libpq cannot read it),
// in words for the person who wrote it; nullopt when it may be used.
[[nodiscard]] std::optional<std::string> line_uri_problem(const std::string& uri);

// A new run key: 128 random bits as 32 lower-case hex digits.
[[nodiscard]] std::string new_run_key();

[[nodiscard]] std::string_view id_state_name(IdState state);

}  // namespace vrk::cli
