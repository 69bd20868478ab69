// What vrk report costs on a line's year of records: a million generated runs in a station
// database (four stations of four ports, work orders of 10 000 units, about 4 % of runs
// failing and reworked, 1 % ended by the station, a few never completed), then vrk report run
// as a program, as a production engineer runs it, with the groupings and filters one asks of
// such a year. Prints each report's wall time and the peak memory of the vrk process.
//
// The rows are written straight into the file, in one transaction: through the store each
// would be a transaction of its own on the disk, hours for a million.
#include <fcntl.h>
#include <spawn.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "bench/bench_help.h"
#include "bench/bench_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace vrk::cli;

constexpr int ROWS = 1'000'000;
constexpr int UNITS_PER_LOT = 10'000;
constexpr std::int64_t YEAR_S = 365LL * 24 * 3600;
constexpr std::int64_t START_S = 1'735'689'600;  // 2025-01-01T00:00:00Z

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string utc_text(std::int64_t s, int ms) {
    const std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

// One generated run, as both databases take it.
struct GeneratedRun {
    std::string key, started, host, port, lot, download, id, result;
    int station = 0;
    const char* operator_name = "";
    std::int32_t serial = 0;
    bool unfinished = false;
    int duration_ms = 0;
};

// A year of a line's runs, in start order: most units pass at once, some fail and are
// reworked (up to three runs), a few are ended by the station or never completed.
template <typename Write>
bool generate_runs(Write write) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> chance(0, 1);
    std::uniform_int_distribution<int> duration(35'000, 60'000);
    const char* failures[] = {"mismatch",
                              "mismatch",
                              "mismatch",
                              "not_responding",
                              "link_lost",
                              "not_confirmed",
                              "identity_unconfirmed"};
    const char* operators[] = {"Dana", "Eli", "Noa", "Omer", "Yael", "Gil"};
    std::int32_t serial = 1'000'000;
    int rows = 0;
    while (rows < ROWS) {
        ++serial;
        // Up to three runs of this unit, the last passing unless all three failed.
        for (int attempt = 0; attempt < 3 && rows < ROWS; ++attempt) {
            GeneratedRun run;
            const std::int64_t at = START_S + YEAR_S * rows / ROWS;
            run.station = rows % 4 + 1;
            const double roll = chance(random);
            run.result = run.download = run.id = "success";
            if (roll < 0.01) {
                run.result = run.download = "port_lost";
            } else if (roll < 0.05) {
                run.result = failures[random() % std::size(failures)];
                (run.result == "not_confirmed" ? run.id : run.download) = run.result;
            }
            run.unfinished = chance(random) < 0.0005;
            run.key = std::to_string(rows);
            run.started = utc_text(at, static_cast<int>(rows % 1000));
            run.host = "st" + std::to_string(run.station);
            run.port = "/dev/ttyUSB" + std::to_string(random() % 4);
            run.lot = "WO-" + std::to_string((serial - 1'000'000) / UNITS_PER_LOT);
            run.operator_name = operators[(at / 28'800) % 6];
            run.serial = serial;
            if (!run.unfinished) run.duration_ms = duration(random);
            if (!write(run)) return false;
            ++rows;
            if (run.result == "success") break;
        }
    }
    return true;
}

// The runs written straight into a SQLite file, in one transaction.
bool generate(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, R"sql(
INSERT INTO runs (run_key, started_at, host, station_number, operator, port, serial_number,
                  image, image_sha256, tool_version, step_download, step_id, step_settings,
                  step_then, result, exit_code, message, duration_ms, lot)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, 'app.vr4', 'ab', '1', ?8, ?9, 'success', 'not_asked', ?10,
        ?11, '', ?12, ?13))sql",
                       -1, &insert, nullptr);
    bool ok = generate_runs([&](const GeneratedRun& run) {
        sqlite3_bind_text(insert, 1, run.key.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, run.started.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, run.host.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, run.station);
        sqlite3_bind_text(insert, 5, run.operator_name, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 6, run.port.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 7, run.serial);
        for (int i = 8; i <= 12; ++i) sqlite3_bind_null(insert, i);
        if (!run.unfinished) {
            sqlite3_bind_text(insert, 8, run.download.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 9, run.id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 10, run.result.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 11, run.result == "success" ? 0 : 1);
            sqlite3_bind_int(insert, 12, run.duration_ms);
        }
        sqlite3_bind_text(insert, 13, run.lot.c_str(), -1, SQLITE_TRANSIENT);
        const bool stepped = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
        return stepped;
    });
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The same runs into a line's database (its tables made by vrk's store), by COPY.
bool generate_pg(const std::string& uri) {
    PGconn* db = PQconnectdb(uri.c_str());
    const auto done = [&](bool ok) {
        if (!ok) std::printf("PostgreSQL: %s\n", PQerrorMessage(db));
        PQfinish(db);
        return ok;
    };
    if (PQstatus(db) != CONNECTION_OK) return done(false);
    const auto exec_ok = [&](const char* sql) {
        PGresult* r = PQexec(db, sql);
        const auto status = PQresultStatus(r);
        PQclear(r);
        return status == PGRES_COMMAND_OK || status == PGRES_COPY_IN;
    };
    if (!exec_ok("TRUNCATE runs")) return done(false);
    if (!exec_ok(R"sql(COPY runs (run_key, started_at, host, station_number, operator, port,
                 serial_number, image, image_sha256, tool_version, step_download, step_id,
                 step_settings, step_then, result, exit_code, message, duration_ms, lot)
                 FROM STDIN)sql"))
        return done(false);
    std::string chunk;
    const auto flush = [&] {
        const bool ok = PQputCopyData(db, chunk.data(), static_cast<int>(chunk.size())) == 1;
        chunk.clear();
        return ok;
    };
    bool ok = generate_runs([&](const GeneratedRun& run) {
        const auto field = [&](const std::string& value) { chunk += value + "\t"; };
        const std::string null = "\\N";
        field(run.key);
        field(run.started);
        field(run.host);
        field(std::to_string(run.station));
        field(run.operator_name);
        field(run.port);
        field(std::to_string(run.serial));
        field("app.vr4");
        field("ab");
        field("1");
        field(run.unfinished ? null : run.download);
        field(run.unfinished ? null : run.id);
        field(run.unfinished ? null : "success");
        field(run.unfinished ? null : "not_asked");
        field(run.unfinished ? null : run.result);
        field(run.unfinished ? null : std::to_string(run.result == "success" ? 0 : 1));
        field(run.unfinished ? null : "");
        field(run.unfinished ? null : std::to_string(run.duration_ms));
        chunk += run.lot + "\n";
        return chunk.size() < (1 << 20) || flush();
    });
    ok = ok && flush() && PQputCopyEnd(db, nullptr) == 1;
    PGresult* r = PQgetResult(db);
    ok = ok && PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    while ((r = PQgetResult(db)) != nullptr) PQclear(r);
    return done(ok && exec_ok("ANALYZE runs"));
}

// Runs vrk with `args` (its output thrown away): wall seconds, processor seconds (user and
// system: on a machine shared with other work the wall time says little) and peak memory.
bool run_vrk(const std::vector<std::string>& args, double* wall_s, double* cpu_s,
             double* peak_mib) {
    std::vector<std::string> all = {VRK_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VRK_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    *wall_s = seconds_since(t0);
    *peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    const auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    *cpu_s = s(usage.ru_utime) + s(usage.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool on_pg = argc == 3 && std::string(argv[1]) == "--pg";
    if (const int code = vrk::bench::help_or_refuse(
            on_pg ? 1 : argc, argv,
            "usage: report_bench [--pg URI]\n"
            "Times vrk report over a million generated runs (a line's year) in a SQLite station\n"
            "database in the temporary folder: the totals, each grouping and each filter, as\n"
            "wall time and the vrk process's peak memory. With --pg, the same in the line's\n"
            "PostgreSQL database at URI (its runs are replaced; scripts/pg-test-cluster makes\n"
            "one to try).\n");
        code >= 0)
        return code;

    const vrk::bench::ScratchDir scratch("vrk-report-bench");
    const std::string path = on_pg ? argv[2] : (scratch.path() / "station.db").string();
    {
        StoreError error;
        if (!open_station_store(path, StoreAccess::station, &error)) {
            std::printf("%s\n", error.message.c_str());
            return 1;
        }
    }
    const auto t0 = Clock::now();
    if (!(on_pg ? generate_pg(path) : generate(path))) {
        std::printf("the runs could not be generated\n");
        return 1;
    }
    std::printf("%d runs generated in %.1f s (%s)\n", ROWS, seconds_since(t0), path.c_str());

    const std::vector<std::vector<std::string>> reports = {
        {},
        {"--by", "station"},
        {"--by", "port"},
        {"--by", "operator"},
        {"--by", "lot"},
        {"--by", "day"},
        {"--by", "hour"},
        {"--by", "day", "--utc"},
        {"--lot", "WO-42"},
        {"--since", "2025-06-01", "--until", "2025-06-02", "--by", "hour"},
        {"--station-number", "2", "--format", "json"},
    };
    std::printf("vrk report over %d runs on %s:\n", ROWS, on_pg ? "PostgreSQL" : "SQLite");
    for (const auto& options : reports) {
        std::vector<std::string> args = {"report", "--db", path};
        args.insert(args.end(), options.begin(), options.end());
        std::string shown;
        for (const auto& o : options) shown += (shown.empty() ? "" : " ") + o;
        double wall = 0, cpu = 0, peak = 0;
        if (!run_vrk(args, &wall, &cpu, &peak)) {
            std::printf("  %-44s failed\n", shown.c_str());
            return 1;
        }
        std::printf("  %-44s %6.2f s wall  %6.2f s processor  %6.1f MiB peak\n",
                    shown.empty() ? "(totals)" : shown.c_str(), wall, cpu, peak);
        std::fflush(stdout);
    }
    return 0;
}
