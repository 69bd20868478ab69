// What the station's records cost per unit: the row written when a unit's run begins and
// completed at its end, and an ID reserved and then bound, each a transaction that reaches
// the disk (SQLite, WAL, synchronous=FULL) before it returns. Runs on a fresh database in the
// system's temporary folder, so the figures are that disk's.
//
// Prints, per operation and per unit, the mean, the median and the 95th percentile in
// milliseconds. Figures only; nothing is asserted.
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

}  // namespace

int main(int argc, char** argv) {
    if (const int code = vrk::bench::help_or_refuse(
            argc, argv,
            "usage: station_db_bench\n"
            "Times the station database's writes per unit on this machine's disk (a fresh\n"
            "database in the temporary folder, WAL, synchronous=FULL): a unit's row begun and\n"
            "completed, and an ID reserved and bound, over 200 units.\n");
        code >= 0)
        return code;

    const vrk::bench::ScratchDir scratch("vrk-station-db-bench");
    const fs::path& dir = scratch.path();
    const std::string path = (dir / "station.db").string();
    StoreError error;
    auto store = open_station_store(path, StoreAccess::station, &error);
    if (!store) {
        std::printf("%s\n", error.message.c_str());
        return 1;
    }
    std::string scheme_error;
    const auto scheme = IdScheme::parse("B{station}{:05}", 1, &scheme_error);

    std::vector<double> begin_ms, complete_ms, row_ms, reserve_ms, bind_ms, id_ms;
    for (int i = 0; i < UNITS; ++i) {
        RunStart start;
        start.run_key = new_run_key();
        start.started_at = "2025-03-01T10:00:00.000Z";
        start.host = "bench";
        start.port = "/dev/ttyUSB0";
        start.serial_number = 100'000 + i;
        start.image = "app.vr4";
        start.image_sha256 = std::string(64, '0');
        start.tool_version = "bench";
        RunEnd end;
        end.run_key = start.run_key;
        end.result = "success";
        const double begun = timed_ms([&] { return store->begin_run(start).ok(); });
        std::string id;
        const double reserved = timed_ms([&] {
            const auto r = store->reserve_next(*scheme, std::nullopt, {100'000 + i, start.run_key});
            id = r.value.id;
            return r.ok() && !r.value.exhausted;
        });
        const double bound = timed_ms([&] { return store->bind(id, 100'000 + i).ok(); });
        const double completed = timed_ms([&] { return store->complete_run(end).ok(); });
        if (begun < 0 || reserved < 0 || bound < 0 || completed < 0) {
            std::printf("a write failed at unit %d\n", i);
            return 1;
        }
        begin_ms.push_back(begun);
        complete_ms.push_back(completed);
        row_ms.push_back(begun + completed);
        reserve_ms.push_back(reserved);
        bind_ms.push_back(bound);
        id_ms.push_back(reserved + bound);
    }
    std::printf("Station database, %d units, %s (WAL, synchronous=FULL):\n", UNITS, path.c_str());
    print("row begun", begin_ms);
    print("row completed", complete_ms);
    print("row, begun + completed", row_ms);
    print("ID reserved", reserve_ms);
    print("ID bound", bind_ms);
    print("ID, reserved + bound", id_ms);
    store.reset();
    return 0;
}
