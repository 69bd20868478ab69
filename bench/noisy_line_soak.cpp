// A long run over a noisy line: the simulated unit flips bits in what it sends (0.05 %, 1 %,
// 3 % of the wire bytes) or in what it receives (0.01 %), ten seeds each, with a 64 KiB image.
// Per seed: a download with verify, a compare of the flash it left, and a compare after one
// byte of page 0 was changed. The protocol has no checksum; what is checked is that every
// operation ends either correct with success or with a failure told, never with success over
// a flash that differs from the image; that the requests stay below twice a clean run's plus
// 20; and that at 0.05 % a good flash is never called different.
//
// Not a test (the 2 s page retries make it long): it prints the counts per cell and a verdict,
// and exits with 1 when a rule was broken. No line time; the tick runs `factor` times faster
// once the unit is linked (default 5, `noisy_line_soak FACTOR`), so a retry costs 2 s / factor.
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "bench/bench_help.h"
#include "bench/bench_support.h"
#include "device/events.h"
#include "platform/host_services.h"
#include "platform/posix/posix_platform.h"
#include "tests/support/noisy_line.h"

namespace {

using namespace vrk;
using Clock = std::chrono::steady_clock;

using bench::QuietHost;

struct Column {
    const char* name;
    double corrupt;
    double corrupt_rx;
};

// One letter per result, for the table: S success, M mismatch, N not responding, L link lost.
char letter(device::Result r) {
    switch (r) {
        case device::Result::success:
            return 'S';
        case device::Result::mismatch:
            return 'M';
        case device::Result::not_responding:
            return 'N';
        case device::Result::link_lost:
            return 'L';
        default:
            return '?';
    }
}

struct Tally {
    std::map<char, int> results;  // per letter, over all operations
    int broken = 0;               // rules broken
};

}  // namespace

int main(int argc, char** argv) {
    const char* usage =
        "usage: noisy_line_soak [FACTOR]\n"
        "Downloads with verify and compares of a 64 KiB image over a simulated line that flips\n"
        "bits (--corrupt 0.0005, 0.01, 0.03 and --corrupt-rx 0.0001, seeds 1-10), and prints\n"
        "how each ended and how many requests it took against a clean run. FACTOR (default 5)\n"
        "is how much faster than real time the session's tick runs once linked.\n";
    const bool factor_given = argc == 2 && std::isdigit(static_cast<unsigned char>(argv[1][0]));
    if (const int code = vrk::bench::help_or_refuse(factor_given ? 1 : argc, argv, usage);
        code >= 0)
        return code;
    const std::uint32_t factor =
        factor_given ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 5;
    if (factor == 0) {
        std::fputs(usage, stderr);
        return 2;
    }
    const bench::ScratchDir dir("vrk-noisy-soak", bench::ScratchDir::Enter::yes);
    platform::PosixFileSystem files;
    QuietHost host;
    constexpr std::size_t SIZE = 65536;
    const std::string name = "SOAK.vr4";
    const auto image = bench::write_demo_image(name, SIZE, 11);

    using device::OperationKind;
    const auto run = [&](double corrupt, double corrupt_rx, std::uint64_t seed) {
        test::NoisyCase c;
        c.corrupt = corrupt;
        c.corrupt_rx = corrupt_rx;
        c.seed = seed;
        c.image_path = name;
        c.image = image;
        c.clock_factor = factor;
        return test::run_noisy_case(c, files, host);
    };

    std::printf("Noisy line, %zu-byte image, no line time, tick %u times faster once linked\n",
                SIZE, factor);
    const auto clean = run(0, 0, 1);
    const std::uint32_t clean_verify = clean.download.requests;
    const std::uint32_t clean_compare = clean.compare.requests;
    std::printf(
        "clean run: download with verify %u requests (%s), compare %u (%s)\n\n", clean_verify,
        clean.download.result == device::Result::success ? "success" : "FAILED", clean_compare,
        clean.compare.result == device::Result::success ? "success" : "FAILED");

    const Column columns[] = {
        {"--corrupt 0.0005", 0.0005, 0},
        {"--corrupt 0.01", 0.01, 0},
        {"--corrupt 0.03", 0.03, 0},
        {"--corrupt-rx 0.0001", 0, 0.0001},
    };
    std::printf(
        "Each cell: results of download+verify / compare / compare of a changed flash (S success,\n"
        "M mismatch, N not responding, L link lost), requests sent, bytes the line garbled.\n");
    int broken = 0;
    const auto t0 = Clock::now();
    for (const Column& column : columns) {
        Tally tally;
        std::printf("\n%s (requests allowed: download+verify < %u, compare < %u)\n", column.name,
                    2 * clean_verify + 20, 2 * clean_compare + 20);
        for (std::uint64_t seed = 1; seed <= 10; ++seed) {
            const auto cell_start = Clock::now();
            const test::NoisyOutcome o = run(column.corrupt, column.corrupt_rx, seed);
            std::string problems;
            if (!o.linked) problems += " not linked;";
            const test::OperationOutcome* ops[] = {&o.download, &o.compare, &o.compare_differing};
            for (const auto* op : ops) {
                ++tally.results[letter(op->result)];
                if (!op->ran) problems += " an operation did not end;";
                if (op->result == device::Result::success && !op->flash_is_image)
                    problems += " success over a flash that differs;";
            }
            if (o.download.requests >= 2 * clean_verify + 20)
                problems += " too many download requests;";
            if (o.compare.requests >= 2 * clean_compare + 20 ||
                o.compare_differing.requests >= 2 * clean_compare + 20)
                problems += " too many compare requests;";
            if (column.corrupt == 0.0005 && o.download.flash_is_image &&
                (o.download.result == device::Result::mismatch ||
                 o.compare.result == device::Result::mismatch))
                problems += " a good flash called different;";
            if (!problems.empty()) ++tally.broken;
            std::printf(
                "  seed %2llu: %c %c %c   requests %4u %4u %4u   garbled %5u   flash after "
                "download %s   %5.1f s%s%s\n",
                static_cast<unsigned long long>(seed), letter(o.download.result),
                letter(o.compare.result), letter(o.compare_differing.result), o.download.requests,
                o.compare.requests, o.compare_differing.requests, o.bytes_corrupted,
                o.download.flash_is_image ? "right" : "wrong",
                std::chrono::duration<double>(Clock::now() - cell_start).count(),
                problems.empty() ? "" : "  BROKEN:", problems.c_str());
            std::fflush(stdout);
        }
        std::printf("  %s: S %d, M %d, N %d, L %d, other %d; rules broken in %d of 10 seeds\n",
                    column.name, tally.results['S'], tally.results['M'], tally.results['N'],
                    tally.results['L'], tally.results['?'], tally.broken);
        broken += tally.broken;
    }
    std::printf("\n%s after %.0f s\n", broken == 0 ? "No rule broken" : "RULES BROKEN",
                std::chrono::duration<double>(Clock::now() - t0).count());
    return broken == 0 ? 0 : 1;
}
