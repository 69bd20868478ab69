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

// A year of a line's runs, in start order: most units pass at once, some fail and are
// reworked (up to three runs), a few are ended by the station or never completed.
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
    bool ok = true;
    while (rows < ROWS && ok) {
        ++serial;
        // Up to three runs of this unit, the last passing unless all three failed.
        for (int attempt = 0; attempt < 3 && rows < ROWS; ++attempt) {
            const std::int64_t at = START_S + YEAR_S * rows / ROWS;
            const int station = rows % 4 + 1;
            const double roll = chance(random);
            std::string result = "success", download = "success", id = "success";
            if (roll < 0.01) {
                result = download = "port_lost";
            } else if (roll < 0.05) {
                result = failures[random() % std::size(failures)];
                (result == "not_confirmed" ? id : download) = result;
            }
            const bool unfinished = chance(random) < 0.0005;
            const std::string key = std::to_string(rows);
            const std::string started = utc_text(at, static_cast<int>(rows % 1000));
            const std::string host = "st" + std::to_string(station);
            const std::string port = "/dev/ttyUSB" + std::to_string(random() % 4);
            const std::string lot = "WO-" + std::to_string((serial - 1'000'000) / UNITS_PER_LOT);
            sqlite3_bind_text(insert, 1, key.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, started.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, host.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 4, station);
            sqlite3_bind_text(insert, 5, operators[(at / 28'800) % 6], -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 6, port.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 7, serial);
            for (int i = 8; i <= 12; ++i) sqlite3_bind_null(insert, i);
            if (!unfinished) {
                sqlite3_bind_text(insert, 8, download.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 9, id.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 10, result.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(insert, 11, result == "success" ? 0 : 1);
                sqlite3_bind_int(insert, 12, duration(random));
            }
            sqlite3_bind_text(insert, 13, lot.c_str(), -1, SQLITE_TRANSIENT);
            ok = sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_reset(insert);
            ++rows;
            if (result == "success") break;
        }
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
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
    if (const int code = vrk::bench::help_or_refuse(
            argc, argv,
            "usage: report_bench\n"
            "Times vrk report over a million generated runs (a line's year) in a SQLite station\n"
            "database in the temporary folder: the totals, each grouping and each filter, as\n"
            "wall time and the vrk process's peak memory.\n");
        code >= 0)
        return code;

    const vrk::bench::ScratchDir scratch("vrk-report-bench");
    const std::string path = (scratch.path() / "station.db").string();
    {
        StoreError error;
        if (!open_station_store(path, StoreAccess::station, &error)) {
            std::printf("%s\n", error.message.c_str());
            return 1;
        }
    }
    const auto t0 = Clock::now();
    if (!generate(path)) {
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
    std::printf("vrk report over %d runs on SQLite:\n", ROWS);
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
