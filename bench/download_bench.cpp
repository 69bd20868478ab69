// How close a whole download comes to the line's own limit. The program drives the simulated
// unit over a pseudo-terminal as in the end-to-end tests, with line time on (every byte takes
// 10 bit times each way, as on a UART) and no flash delays, so the only costs besides the wire
// are the program's: the 10 ms timer, the poll cycle's reads, one message per tick.
//
// Prints, per case: the measured time from the Download press to the success text, the ideal
// time (every wire byte both ways, one after the other, at 10 bits a byte: stop-and-wait is
// the protocol, so nothing overlaps), their ratio, and the ticks it took. Then a table over
// the seven rates of the baud hunt with an 8,000-byte image: the time per page against the
// ideal (within 5 % is the aim: the page retry and the time limit count from when a request has
// left, so no page goes twice however slow the rate), and how often the unit heard the page
// requested most. Then the processor time the program's thread uses while linked and idle.
// Figures only; the process exits with 0 either way. `download_bench rates` prints only the
// table.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "bench/bench_help.h"
#include "bench/bench_support.h"
#include "link/frame_codec.h"
#include "link/link.h"
#include "link/poll_cycle.h"
#include "platform/control_ids.h"
#include "platform/host_services.h"
#include "platform/posix/posix_platform.h"
#include "sim/simulator.h"
#include "tests/support/sim_session.h"

namespace {

using namespace vrk;
using Clock = std::chrono::steady_clock;

using bench::QuietHost;

class StillClock final : public platform::TickClock {
  public:
    std::uint32_t tick_ms() override { return 1000; }
    void sleep_ms(std::uint32_t) override {}  // never asked: the benchmark ticks itself
};

double thread_cpu_seconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string write_image(std::size_t size) {
    const std::string name = "BENCH" + std::to_string(size) + ".vr4";
    bench::write_demo_image(name, size, size);
    return name;
}

struct DownloadFigures {
    std::string failure;                       // empty when the download succeeded
    double measured = 0;                       // seconds from the press to the success text
    double ideal = 0;                          // seconds of wire time, both ways
    std::uint64_t to_unit = 0, from_unit = 0;  // wire bytes
    double late = 0;                           // seconds the simulator ran behind the line
    std::uint64_t ticks = 0;
    std::size_t pages = 0;
    int most_requests_of_a_page = 0;  // how often the unit heard the page requested most
};

DownloadFigures run_download(std::uint32_t baud, std::size_t size) {
    DownloadFigures f;
    platform::PosixFileSystem files;
    QuietHost host;
    const std::string name = write_image(size);
    sim::UnitConfig unit;
    unit.baud = baud;
    unit.line_time = true;
    test::SimSession s(unit, files, host);
    std::string error;
    if (!s.open(&error)) {
        f.failure = "cannot start: " + error;
        return f;
    }
    if (!s.run_until([&] { return s.settings_loaded(); }, std::chrono::seconds(60))) {
        f.failure = "the unit was not found";
        return f;
    }
    const auto before = s.sim().stats();
    const std::size_t log_before = s.sim().line_log().size();
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
    f.measured = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto after = s.sim().stats();
    if (!ok || s.status() != done) {
        f.failure = "failed: " + s.status();
        return f;
    }
    f.to_unit = after.wire_bytes_received - before.wire_bytes_received;
    f.from_unit = after.wire_bytes_sent - before.wire_bytes_sent;
    f.ideal = static_cast<double>(f.to_unit + f.from_unit) * 10.0 / baud;
    f.pages = (size + 255) / 256;
    f.late = static_cast<double>(after.late_us - before.late_us) / 1e6;
    f.ticks = s.ticks() - ticks_before;
    std::map<int, int> requests;
    const auto log = s.sim().line_log();
    for (std::size_t i = log_before; i < log.size(); ++i) {
        const auto& m = log[i].message;
        if (m.size() == 258 && m[0] == 0x2A) ++requests[m[1]];
        if (m.size() == 260 && m[0] == 0x2D) ++requests[m[2] | (m[3] << 8)];
    }
    for (const auto& [page, count] : requests)
        f.most_requests_of_a_page = std::max(f.most_requests_of_a_page, count);
    return f;
}

void download_case(std::uint32_t baud, std::size_t size) {
    const DownloadFigures f = run_download(baud, size);
    if (!f.failure.empty()) {
        std::printf("%7u baud %8zu bytes: %s\n", baud, size, f.failure.c_str());
        return;
    }
    const double pages = static_cast<double>(f.pages);
    std::printf(
        "%7u baud %8zu bytes: %8.2f s measured, %8.2f s ideal (%llu + %llu wire bytes), efficiency "
        "%5.1f %%\n"
        "    per page %6.2f ms (ideal %6.2f, of the rest %4.2f ms the simulator's late wake-ups);"
        " %llu ticks for %zu pages\n",
        baud, size, f.measured, f.ideal, static_cast<unsigned long long>(f.to_unit),
        static_cast<unsigned long long>(f.from_unit), 100.0 * f.ideal / f.measured,
        1000.0 * f.measured / pages, 1000.0 * f.ideal / pages, 1000.0 * f.late / pages,
        static_cast<unsigned long long>(f.ticks), f.pages);
}

// Every rate of the hunt, an 8,000-byte image (32 pages). At 1200 baud a page request takes
// 2.2 s to leave the PC.
void rate_table() {
    constexpr std::size_t SIZE = 8000;
    std::printf(
        "\nEvery rate of the hunt, %zu bytes, line time on. Over: the time beyond the wire's;\n"
        "simulator: the part of it that the simulator's late wake-ups took, per page.\n"
        "   baud    per page  ideal/page    over  simulator  requests of one page  within 5 %%\n",
        SIZE);
    std::fflush(stdout);
    int good = 0;
    for (const std::uint32_t baud : link::BAUD_TABLE) {
        const DownloadFigures f = run_download(baud, SIZE);
        if (!f.failure.empty()) {
            std::printf("%7u  %s\n", baud, f.failure.c_str());
            continue;
        }
        const double pages = static_cast<double>(f.pages);
        const double over = 100.0 * (f.measured - f.ideal) / f.ideal;
        const bool within = over <= 5.0 && f.most_requests_of_a_page == 1;
        good += within ? 1 : 0;
        std::printf("%7u %9.2f ms %8.2f ms %+6.1f %%  %6.2f ms  at most %d            %s\n", baud,
                    1000.0 * f.measured / pages, 1000.0 * f.ideal / pages, over,
                    1000.0 * f.late / pages, f.most_requests_of_a_page, within ? "yes" : "no");
        std::fflush(stdout);
    }
    std::printf("%d of %zu rates within 5 %% of the wire time with no page sent twice\n", good,
                link::BAUD_TABLE.size());
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

int main(int argc, char** argv) {
    // "rates": only the table over the hunt's rates.
    const bool rates_only = argc == 2 && std::string(argv[1]) == "rates";
    if (const int code = vrk::bench::help_or_refuse(
            rates_only ? 1 : argc, argv,
            "usage: download_bench [rates]\n"
            "Downloads images into the simulated unit with line time on, and prints each\n"
            "download's time against the line's own limit, the time of a request's round trip\n"
            "and the processor time of a linked, idle session. With 'rates': only an 8,000-byte\n"
            "image at each of the hunt's seven rates, each page's time against its wire time.\n"
            "Figures only.\n");
        code >= 0)
        return code;
    const bench::ScratchDir dir("vrk-download-bench", bench::ScratchDir::Enter::yes);
    if (rates_only) {
        rate_table();
        return 0;
    }
    std::printf("Download against the simulated unit, line time on, no flash delays:\n");
    download_case(115200, 65536);
    download_case(115200, 1 << 20);
    download_case(9600, 65536);
    rate_table();
    round_trip_case();
    idle_case();
    return 0;
}
