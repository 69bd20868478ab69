// vrk-sim: a simulated VRK 700 on a pseudo-terminal, for trying the program without a unit.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sim/demo_image.h"
#include "sim/sim_options.h"
#include "sim/simulator.h"
#include "vrk_version.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int) {
    stop_requested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = vrk::sim::parse_sim_options(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "vrk-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    const auto& options = parsed.options;
    if (options.help) {
        std::fputs(vrk::sim::sim_usage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vrk-sim %s\n", VRK_VERSION_TEXT);
        return 0;
    }
    if (!options.demo_image.empty()) {
        std::string error;
        if (!vrk::sim::write_demo_image(options.demo_image, &error)) {
            std::fprintf(stderr, "vrk-sim: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    vrk::sim::Simulator sim{options.unit};
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "vrk-sim: %s\n", error.c_str());
        return 1;
    }
    // Replaces a link left behind by an earlier run, but never a real file.
    if (!options.link.empty() && !sim.link_at(options.link, &error)) {
        std::fprintf(stderr, "vrk-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.device_path().c_str());
    std::fflush(stdout);

    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
    while (stop_requested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // Removes the link too.
    if (!sim.stop(&error)) {
        std::fprintf(stderr, "vrk-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
