// How close a whole download comes to the line's own limit. The program drives the simulated
// unit over a pseudo-terminal as in the end-to-end tests, with line time on (every byte takes
// 10 bit times each way, as on a UART) and no flash delays, so the only costs besides the wire
// are the program's: the 10 ms timer, the poll cycle's reads, one message per tick.
//
// Prints, per case: the measured time from the Download press to the success text, the ideal
// time (every wire byte both ways, one after the other, at 10 bits a byte: stop-and-wait is
// the protocol, so nothing overlaps), their ratio, and the ticks it took. Then the processor
// time the program's thread uses while linked and idle. Figures only; nothing is asserted.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "link/frame_codec.h"
#include "link/link.h"
#include "platform/control_ids.h"
#include "platform/host_services.h"
#include "platform/posix/posix_platform.h"
#include "sim/demo_image.h"
#include "sim/simulator.h"
#include "tests/support/sim_session.h"

namespace {

using namespace vrk;
using Clock = std::chrono::steady_clock;

class QuietHost final : public platform::HostServices {
  public:
    platform::MessageAnswer message_box(const std::string&, const std::string&,
                                        platform::MessageButtons buttons,
                                        platform::MessageIcon) override {
        return buttons == platform::MessageButtons::yes_no ? platform::MessageAnswer::no
                                                           : platform::MessageAnswer::ok;
    }
    void beep() override {}
    std::optional<std::string> save_file_dialog(const platform::SaveFileRequest&) override {
        return std::nullopt;
    }
};

class StillClock final : public platform::TickClock {
  public:
    std::uint32_t tick_ms() override { return 1000; }
};

double thread_cpu_seconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct WorkDir {
    WorkDir() {
        previous = std::filesystem::current_path();
        path = std::filesystem::temp_directory_path() /
               ("vrk-download-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        std::filesystem::current_path(path);
    }
    ~WorkDir() {
        std::filesystem::current_path(previous);
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path, previous;
};

std::string write_image(std::size_t size) {
    const std::string name = "BENCH" + std::to_string(size) + ".vr4";
    const auto image = sim::make_demo_image(size, size);
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return name;
}

void download_case(std::uint32_t baud, std::size_t size) {
    platform::PosixFileSystem files;
    QuietHost host;
    const std::string name = write_image(size);
    sim::UnitConfig unit;
    unit.baud = baud;
    unit.line_time = true;
    test::SimSession s(unit, files, host);
    std::string error;
    if (!s.open(&error)) {
        std::printf("cannot start: %s\n", error.c_str());
        return;
    }
    if (!s.run_until([&] { return s.settings_loaded(); }, std::chrono::seconds(60))) {
        std::printf("%7u baud %8zu bytes: the unit was not found\n", baud, size);
        return;
    }
    const auto before = s.sim().stats();
    const std::uint64_t ticks_before = s.ticks();
    const int index = s.item_index(ids::APPLICATION, name);
    s.window().user_select(ids::APPLICATION, index);
    s.window().set_checked(ids::VERIFY, false);  // the programming pass is what is measured
    const std::string done = name + " has been downloaded successfully";
    const auto t0 = Clock::now();
    s.window().user_click(ids::DOWNLOAD);
    const bool ok =
        s.run_until([&] { return s.status() == done || s.status().rfind("Error", 0) == 0; },
                    std::chrono::minutes(30));
    const double measured = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto after = s.sim().stats();
    if (!ok || s.status() != done) {
        std::printf("%7u baud %8zu bytes: failed: %s\n", baud, size, s.status().c_str());
        return;
    }
    const std::uint64_t to_unit = after.wire_bytes_received - before.wire_bytes_received;
    const std::uint64_t from_unit = after.wire_bytes_sent - before.wire_bytes_sent;
    const double ideal = static_cast<double>(to_unit + from_unit) * 10.0 / baud;
    const std::size_t pages = (size + 255) / 256;
    const double late = static_cast<double>(after.late_us - before.late_us) / 1e6;
    std::printf(
        "%7u baud %8zu bytes: %8.2f s measured, %8.2f s ideal (%llu + %llu wire bytes), efficiency "
        "%5.1f %%\n"
        "    per page %6.2f ms (ideal %6.2f, of the rest %4.2f ms the simulator's late wake-ups);"
        " %llu ticks for %zu pages\n",
        baud, size, measured, ideal, static_cast<unsigned long long>(to_unit),
        static_cast<unsigned long long>(from_unit), 100.0 * ideal / measured,
        1000.0 * measured / double(pages), 1000.0 * ideal / double(pages),
        1000.0 * late / double(pages), static_cast<unsigned long long>(s.ticks() - ticks_before),
        pages);
}

// The fixed cost of one exchange, with the wire taken out (no line time): an ID query through
// the program's codec and port, and the time until the port's reads have handed back the whole
// reply. What remains is two threads waking and the reads and writes themselves.
void round_trip_case() {
    sim::Simulator unit{sim::UnitConfig{}};
    std::string error;
    if (!unit.start(&error)) return;
    platform::PortError port_error{};
    auto port = platform::PosixSerialPort::open(unit.device_path(), port_error);
    if (!port || !port->configure(115200)) return;
    StillClock clock;
    link::Link line(*port, clock);
    constexpr int COUNT = 500;
    double total = 0;
    for (int i = 0; i < COUNT; ++i) {
        const auto t0 = Clock::now();
        link::send_id_query(line);
        bool got = false;
        while (!got) {
            const int b = link::port_read_byte(line.reader, *port);
            if (b < 0) continue;
            got = !link::frame_decoder(line.decoder, static_cast<std::uint8_t>(b)).empty();
        }
        total += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    std::printf("one exchange without line time: %.2f ms on average over %d\n",
                1000 * total / COUNT, COUNT);
}

void idle_case() {
    platform::PosixFileSystem files;
    QuietHost host;
    test::SimSession s(sim::UnitConfig{}, files, host);
    std::string error;
    if (!s.open(&error) || !s.run_until([&] { return s.settings_loaded(); })) {
        std::printf("idle: the unit was not found\n");
        return;
    }
    const double program0 = thread_cpu_seconds(RUSAGE_THREAD);
    const double process0 = thread_cpu_seconds(RUSAGE_SELF);
    const std::uint64_t ticks0 = s.ticks();
    const auto t0 = Clock::now();
    (void)s.run_until([] { return false; }, std::chrono::seconds(5));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double program = thread_cpu_seconds(RUSAGE_THREAD) - program0;
    const double unit = thread_cpu_seconds(RUSAGE_SELF) - process0 - program;
    std::printf(
        "idle and linked for %.2f s: program %.2f ms CPU (%.3f %%), %llu ticks (%.1f per s);"
        " simulated unit %.2f ms CPU\n",
        wall, program * 1000, 100.0 * program / wall,
        static_cast<unsigned long long>(s.ticks() - ticks0), double(s.ticks() - ticks0) / wall,
        unit * 1000);
}

}  // namespace

int main() {
    WorkDir dir;
    std::printf("Download against the simulated unit, line time on, no flash delays:\n");
    download_case(115200, 65536);
    download_case(115200, 1 << 20);
    download_case(9600, 65536);
    round_trip_case();
    idle_case();
    return 0;
}
