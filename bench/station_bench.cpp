// A production station's figures, as a line's script sees them:
//
//  - vrk program's whole recipe (64 KiB downloaded and verified, an ID from a scheme, a
//    setting, the application started, every unit recorded) on 1, 4 and 16 simulated units
//    at once, at line speed (every byte takes its 10 bit times at 115200 baud, both ways):
//    each run's wall time, its ratio to the run with one unit, and the processor time vrk
//    took. One thread per port: more units should cost hardly more time than one.
//  - vrk program --repeat waiting on 4 ports where no unit (no port, even) is there, for 5 s:
//    the processor time it took, per port, in percent of one core. The job ticks on a 10 ms
//    timer and sleeps between ticks: it should be well under 1 %.
//
// Figures only; nothing is asserted. On a machine busy with other work the wall times grow.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_help.h"
#include "bench/bench_support.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t IMAGE_SIZE = 65536;
constexpr int IDLE_PORTS = 4;
constexpr auto IDLE_TIME = std::chrono::seconds(5);

struct Child {
    double wall_s = -1;
    double cpu_s = 0;
    int status = -1;
};

// Starts vrk with `args`, standard output and error to /dev/null; with `run_for`, interrupts
// it (Ctrl+C) after that long. Its wall and processor time once it has ended.
Child run_vrk(const std::vector<std::string>& args, std::chrono::milliseconds run_for = {}) {
    std::vector<std::string> all = {VRK_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child child;
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return child;
    if (pid == 0) {
        std::FILE* null = std::fopen("/dev/null", "w");
        if (null != nullptr) {
            ::dup2(::fileno(null), STDOUT_FILENO);
            ::dup2(::fileno(null), STDERR_FILENO);
        }
        ::execv(VRK_PROGRAM, argv.data());
        ::_exit(127);
    }
    if (run_for.count() > 0) {
        std::this_thread::sleep_for(run_for);
        ::kill(pid, SIGINT);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return child;
    child.wall_s = std::chrono::duration<double>(Clock::now() - t0).count();
    child.cpu_s = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

// The recipe on `count` units at once; serial numbers from `first_serial`, so every run's
// units are new to the records (each gets an ID sent and bound).
Child recipe_run(const fs::path& dir, int count, std::int32_t first_serial) {
    std::vector<std::unique_ptr<vrk::sim::Simulator>> units;
    std::vector<std::string> args = {"-q"};
    for (int i = 0; i < count; ++i) {
        vrk::sim::UnitConfig config;
        config.line_time = true;
        config.serial_number = first_serial + i;
        config.previous_application = IMAGE_SIZE;
        units.push_back(std::make_unique<vrk::sim::Simulator>(config));
        std::string error;
        if (!units.back()->start(&error)) {
            std::printf("cannot start a unit: %s\n", error.c_str());
            return {};
        }
        args.push_back("--port");
        args.push_back(units.back()->device_path());
    }
    for (const char* a :
         {"program", "--id-format", "B{:06}", "--set", "gps=SiRF", "--then", "run", "--db"})
        args.push_back(a);
    args.push_back((dir / "station.db").string());
    args.push_back((dir / "bench.vr4").string());
    return run_vrk(args);
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = vrk::bench::help_or_refuse(
            argc, argv,
            "usage: station_bench\n"
            "Runs vrk program's whole recipe (64 KiB with verify, an ID, a setting, run) on 1,\n"
            "4 and 16 simulated units at once at 115200 baud with line time on, and prints each\n"
            "run's wall time, its ratio to one unit's and vrk's processor time; then vrk\n"
            "program --repeat on 4 ports with no unit for 5 s, and its processor time per port.\n");
        code >= 0)
        return code;
    const vrk::bench::ScratchDir scratch("vrk-station-bench");
    const fs::path& dir = scratch.path();
    vrk::bench::write_demo_image(dir / "bench.vr4", IMAGE_SIZE, 64);

    std::printf(
        "vrk program (64 KiB downloaded and verified, ID, setting, run), 115200 baud, line time "
        "on:\n");
    double one = 0;
    std::int32_t serial = 1'000'000;
    for (int count : {1, 4, 16}) {
        const Child run = recipe_run(dir, count, serial);
        serial += 100;
        if (run.wall_s < 0 || run.status != 0) {
            std::printf("%2d unit(s): vrk failed (exit %d)\n", count, run.status);
            continue;
        }
        if (count == 1) one = run.wall_s;
        std::printf("%2d unit(s) at once: %6.2f s wall", count, run.wall_s);
        if (one > 0) std::printf(", %.3f x the time of one", run.wall_s / one);
        std::printf(", %.2f s of processor time\n", run.cpu_s);
    }

    std::vector<std::string> idle = {"-q", "--repeat"};
    for (int i = 0; i < IDLE_PORTS; ++i) {
        idle.push_back("--port");
        idle.push_back((dir / ("absent" + std::to_string(i))).string());
    }
    for (const char* a : {"program", "--db"}) idle.push_back(a);
    idle.push_back((dir / "station.db").string());
    idle.push_back((dir / "bench.vr4").string());
    const Child waiting = run_vrk(idle, IDLE_TIME);
    if (waiting.wall_s > 0) {
        const double percent = 100.0 * waiting.cpu_s / waiting.wall_s / IDLE_PORTS;
        std::printf(
            "vrk program --repeat on %d ports with no unit, %.1f s: %.3f s of processor time, "
            "%.3f %% of a core per port\n",
            IDLE_PORTS, waiting.wall_s, waiting.cpu_s, percent);
    }
    return 0;
}
