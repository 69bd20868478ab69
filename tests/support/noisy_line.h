// Downloads with verify and compares against the simulated unit on a line that flips bits, as
// the soak program and the end-to-end table run them. The line has no checksum: what matters is
// that every operation ends either correct or with a failure told, never with success over a
// flash that differs from the image, and that garbled replies cost a bounded number of requests.
// Shared by the tests and the benchmarks, so it uses no test framework.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/engine.h"
#include "device/events.h"
#include "device/firmware_transfer.h"
#include "link/link.h"
#include "link/messages.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "sim/simulator.h"
#include "tests/support/sim_session.h"

namespace vrk::test {

struct NoisyCase {
    double corrupt = 0;     // per wire byte the unit sends, the probability that a bit flips
    double corrupt_rx = 0;  // the same for what the unit receives
    std::uint64_t seed = 1;
    std::string image_path;  // an image in the file system the session is given
    std::vector<std::uint8_t> image;
    // How much faster the tick runs once the unit is linked: the 2 s page retry after a garbled
    // reply then costs 2 s / factor. No line time is emulated, so nothing else notices.
    std::uint32_t clock_factor = 10;
};

struct OperationOutcome {
    bool ran = false;
    device::Result result = device::Result::not_responding;
    bool flash_is_image = false;  // afterwards
    std::uint32_t requests = 0;   // erase and page requests sent, retries included
};

struct NoisyOutcome {
    bool linked = false;
    OperationOutcome download;           // with verify
    OperationOutcome compare;            // of the flash as the download left it
    OperationOutcome compare_differing;  // after one byte of page 0 has been changed
    std::uint32_t bytes_corrupted = 0;   // both ways, by the simulator
};

// Counts the erase and page requests the program sends.
class RequestCounter final : public link::SendHook {
  public:
    std::uint32_t count = 0;
    void before_send(std::span<const std::uint8_t> message) override {
        namespace m = link::messages;
        switch (message[0]) {
            case m::ERASE:
            case m::ERASE_BLOCKS:
            case m::PROGRAM_PAGE:
            case m::PROGRAM_PAGE_WIDE:
            case m::COMPARE_PAGE:
                ++count;
                break;
            default:
                break;
        }
    }
};

// The last result an operation ended with (a late reply may take an ended one up again).
class LastResult final : public device::EngineObserver {
  public:
    device::Result result = device::Result::not_responding;
    void operation_finished(const device::OperationEnd& end) override { result = end.result; }
};

inline bool flash_equals(sim::Simulator& unit, const std::vector<std::uint8_t>& image) {
    const auto flash = unit.flash_copy(image.size());
    return flash == image;
}

// One operation on the image, run to its end.
inline OperationOutcome run_operation(SimSession& s, device::OperationKind kind, const NoisyCase& c,
                                      RequestCounter& counter, LastResult& last) {
    OperationOutcome o;
    device::Engine& engine = s.session().engine();
    const std::uint32_t before = counter.count;
    device::start_operation(engine, kind, c.image_path, c.image_path);
    // Every operation ends: the 30 s limit ends one that gets no further.
    o.ran = s.run_until([&] { return !device::operation_running(engine.transfer); },
                        std::chrono::minutes(30));
    o.result = last.result;
    o.flash_is_image = flash_equals(s.sim(), c.image);
    o.requests = counter.count - before;
    return o;
}

// A fresh unit holding an old application, linked; then a download with verify, a compare of
// what it left, and a compare after one byte of page 0 was changed.
inline NoisyOutcome run_noisy_case(const NoisyCase& c, platform::FileSystem& files,
                                   platform::HostServices& host) {
    NoisyOutcome out;
    sim::UnitConfig unit;
    unit.corrupt = c.corrupt;
    unit.corrupt_rx = c.corrupt_rx;
    unit.seed = c.seed;
    unit.previous_application = c.image.size();
    RequestCounter counter;
    LastResult last;
    SimSession s(unit, files, host);
    std::string error;
    if (!s.open(&error)) return out;
    // The hunt at the real pace: its probes must not outrun the unit's answers.
    out.linked = s.run_until([&] { return s.ctx().link.link_state != link::LINK_SEARCHING; });
    if (!out.linked) return out;
    s.clock().set_factor(c.clock_factor);
    (void)link::add_send_hook(s.ctx().link, counter);
    s.session().engine().events.add(last);

    using device::OperationKind;
    out.download = run_operation(s, OperationKind::download_and_verify, c, counter, last);
    out.compare = run_operation(s, OperationKind::compare, c, counter, last);
    s.sim().poke_flash(100, static_cast<std::uint8_t>(s.sim().flash_copy(101)[100] ^ 0x10));
    out.compare_differing = run_operation(s, OperationKind::compare, c, counter, last);

    const sim::SimStats stats = s.sim().stats();
    out.bytes_corrupted =
        static_cast<std::uint32_t>(stats.bytes_corrupted + stats.bytes_corrupted_rx);
    link::remove_send_hook(s.ctx().link, counter);
    return out;
}

// What a clean line costs: a download with verify sends the erase and every page twice, a
// compare every page once.
inline std::uint32_t clean_requests(device::OperationKind kind, std::size_t image_size) {
    const auto pages = static_cast<std::uint32_t>((image_size + 255) / 256);
    return kind == device::OperationKind::compare ? pages : 1 + 2 * pages;
}

}  // namespace vrk::test
