// Several units flashed at once by one vrk run, as on a production line: 1, 2 and 4 simulated
// units with line time on (every byte takes 10 bit times each way, as on a UART), 64 KiB each at
// 115200 baud, downloaded and verified. Each port runs its session on a thread of its own, so
// four units should take hardly longer than one: the line is the limit, not the program.
//
// Prints the wall time of each run (the vrk program started and ended, as a script sees it) and
// its ratio to the run with one unit. Figures only; nothing is asserted.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_help.h"
#include "bench/bench_support.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t IMAGE_SIZE = 65536;

// The wall time of one vrk run over `count` units, or a negative number when it failed.
double run(const fs::path& dir, int count) {
    std::vector<std::unique_ptr<vrk::sim::Simulator>> units;
    std::string command = std::string(VRK_PROGRAM) + " -q";
    for (int i = 0; i < count; ++i) {
        vrk::sim::UnitConfig config;
        config.line_time = true;
        config.serial_number = 1000 + i;
        units.push_back(std::make_unique<vrk::sim::Simulator>(config));
        std::string error;
        if (!units.back()->start(&error)) {
            std::printf("cannot start a unit: %s\n", error.c_str());
            return -1;
        }
        command += " --port " + units.back()->device_path();
    }
    command += " download " + (dir / "bench.vr4").string() + " > /dev/null";
    const auto t0 = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (status != 0) {
        std::printf("%d unit(s): vrk failed (status %d)\n", count, status);
        return -1;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = vrk::bench::help_or_refuse(
            argc, argv,
            "usage: multi_unit_bench\n"
            "Runs vrk download on 1, 2 and 4 simulated units at once (64 KiB, 115200 baud,\n"
            "line time on) and prints each run's wall time and its ratio to one unit's.\n");
        code >= 0)
        return code;
    const vrk::bench::ScratchDir scratch("vrk-multi-bench");
    const fs::path& dir = scratch.path();
    vrk::bench::write_demo_image(dir / "bench.vr4", IMAGE_SIZE, 64);

    std::printf("vrk download (with verify), 64 KiB per unit, 115200 baud, line time on:\n");
    double one = 0;
    for (int count : {1, 2, 4}) {
        const double seconds = run(dir, count);
        if (seconds < 0) continue;
        if (count == 1) one = seconds;
        std::printf("%d unit(s) at once: %6.2f s wall", count, seconds);
        if (one > 0) std::printf(", %.2f x the time of one", seconds / one);
        std::printf("\n");
    }
    return 0;
}
