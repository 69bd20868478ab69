// What the station's records cost per unit: the row written when a unit's run begins and
// completed at its end, and an ID reserved and then bound, each a transaction committed before
// it returns. Runs on a fresh SQLite database in the system's temporary folder (WAL,
// synchronous=FULL), so the figures are that disk's, and then on each line database named on
// the command line (postgresql://..., over the server's socket or over TCP), where a unit's
// calls are round trips to the server as well. scripts/pg-test-cluster's server runs without
// fsync: its figures are the round trips and the server's work, not a disk's.
//
// Prints, per operation and per unit, the mean, the median and the 95th percentile in
// milliseconds. Figures only; nothing is asserted.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/cli/station/station_store.h"
#include "bench/bench_help.h"
#include "bench/bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace vrk::cli;

constexpr int UNITS = 200;

struct Figures {
    double mean = 0, median = 0, p95 = 0;
};

Figures figures(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    Figures f;
    for (double m : ms) f.mean += m;
    f.mean /= static_cast<double>(ms.size());
    f.median = ms[ms.size() / 2];
    f.p95 = ms[ms.size() * 95 / 100];
    return f;
}

double timed_ms(const std::function<bool()>& work) {
    const auto t0 = Clock::now();
    if (!work()) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void print(const char* what, const std::vector<double>& ms) {
    const Figures f = figures(ms);
    std::printf("  %-34s mean %6.2f ms, median %6.2f ms, 95%% %6.2f ms\n", what, f.mean, f.median,
                f.p95);
}

// Times UNITS units' calls on the database `name`; false when it cannot be opened or a call
// fails.
bool measure(const std::string& name, const std::string& label) {
    StoreError error;
    auto store = open_station_store(name, StoreAccess::station, &error);
    if (!store) {
        std::printf("%s\n", error.message.c_str());
        return false;
    }
    std::string scheme_error;
    const auto scheme = IdScheme::parse("B{station}{:05}", 1, &scheme_error);
    // A line database outlives a run: serial numbers of this run's own, so that no unit is
    // taken for one bound in an earlier run.
    const std::int32_t first_serial =
        static_cast<std::int32_t>(std::time(nullptr) % 100'000) * 10'000;

    std::vector<double> begin_ms, complete_ms, row_ms, reserve_ms, bind_ms, id_ms;
    for (int i = 0; i < UNITS; ++i) {
        const std::int32_t serial = first_serial + i;
        RunStart start;
        start.run_key = new_run_key();
        start.started_at = "2025-03-01T10:00:00.000Z";
        start.host = "bench";
        start.port = "/dev/ttyUSB0";
        start.serial_number = serial;
        start.image = "app.vr4";
        start.image_sha256 = std::string(64, '0');
        start.tool_version = "bench";
        RunEnd end;
        end.run_key = start.run_key;
        end.result = "success";
        const double begun = timed_ms([&] { return store->begin_run(start).ok(); });
        std::string id;
        const double reserved = timed_ms([&] {
            const auto r = store->reserve_next(*scheme, std::nullopt, {serial, start.run_key});
            id = r.value.id;
            return r.ok() && !r.value.exhausted;
        });
        const double bound = timed_ms([&] { return store->bind(id, serial).ok(); });
        const double completed = timed_ms([&] { return store->complete_run(end).ok(); });
        if (begun < 0 || reserved < 0 || bound < 0 || completed < 0) {
            std::printf("a write failed at unit %d\n", i);
            return false;
        }
        begin_ms.push_back(begun);
        complete_ms.push_back(completed);
        row_ms.push_back(begun + completed);
        reserve_ms.push_back(reserved);
        bind_ms.push_back(bound);
        id_ms.push_back(reserved + bound);
    }
    std::printf("%s, %d units:\n", label.c_str(), UNITS);
    print("row begun", begin_ms);
    print("row completed", complete_ms);
    print("row, begun + completed", row_ms);
    print("ID reserved", reserve_ms);
    print("ID bound", bind_ms);
    print("ID, reserved + bound", id_ms);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                                    std::strcmp(argv[1], "-h") == 0);
    if (help || (argc > 1 && !is_line_database(argv[1]))) {
        if (const int code = vrk::bench::help_or_refuse(
                argc, argv,
                "usage: station_db_bench [postgresql://... ...]\n"
                "Times the station database's writes per unit: a unit's row begun and\n"
                "completed, and an ID reserved and bound, over 200 units; on a fresh SQLite\n"
                "database in the temporary folder (WAL, synchronous=FULL), then on each line\n"
                "database named (a libpq URI; its tables are made when missing).\n");
            code >= 0)
            return code;
    }

    const vrk::bench::ScratchDir scratch("vrk-station-db-bench");
    const std::string path = (scratch.path() / "station.db").string();
    if (!measure(path, "Station database " + path + " (WAL, synchronous=FULL)")) return 1;
    for (int i = 1; i < argc; ++i) {
        if (!is_line_database(argv[i])) {
            std::fprintf(stderr, "%s: '%s' is not a postgresql:// URI\n", argv[0], argv[i]);
            return 2;
        }
        if (!measure(argv[i], std::string("Line database ") + argv[i])) return 1;
    }
    return 0;
}
