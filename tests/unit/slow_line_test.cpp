// Downloads on a line whose bytes take their time, on the fake clock: the page retry and the
// time limit count from the moment a request has left the PC, so a slow rate costs no retry
// and a unit that stalls once costs one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "device/firmware_transfer.h"
#include "link/link.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

constexpr const char* NAME = "APP.vr4";

// The microseconds a wire byte takes at `baud`: a start bit, 8 data bits, a stop bit.
std::uint64_t byte_us(std::uint32_t baud) {
    return 10'000'000 / baud;
}

// The program's session and a unit at the far end of a line at `baud`, run tick by tick (one
// millisecond apart). Every wire byte takes its time each way, the line carries one byte after
// the other, the unit takes one request after the other, and each answer reaches the program
// once its last byte has.
class TimedLine {
  public:
    TimedLine(TransferRig& rig, std::uint32_t baud) : rig_(rig), baud_(baud) {
        rig_.ctx.link.current_baud = baud;
    }

    LoaderModel unit;
    std::vector<Bytes> requests;  // what the unit received, in order
    // Extra milliseconds the unit takes before answering request number n (0-based, the erase
    // included).
    std::map<std::size_t, std::uint32_t> stalls;

    // Runs until the status line shows an end of the operation, or `limit_ms` pass.
    void run(std::uint32_t limit_ms) {
        const std::uint32_t end = rig_.clock.now + limit_ms;
        while (rig_.clock.now != end && !finished()) {
            deliver();
            rig_.tick();
            carry_requests();
            rig_.clock.advance(1);
        }
    }

  private:
    [[nodiscard]] bool finished() const {
        return rig_.engine.transfer.phase == device::Phase::idle;
    }

    std::uint64_t now_us() const { return std::uint64_t{rig_.clock.now} * 1000; }

    // The program's writes of this tick start onto the line now, or once the line is free.
    void carry_requests() {
        for (const Bytes& write : rig_.port.writes) {
            for (std::uint8_t b : write) {
                to_unit_free_ = std::max(to_unit_free_, now_us()) + byte_us(baud_);
                const auto message = link::frame_decoder(far_end_, b);
                if (!message.empty()) answer(Bytes(message.begin(), message.end()));
            }
        }
        rig_.port.clear_writes();
    }

    // The unit takes the request once its last byte has arrived and it is done with the one
    // before; its answer then crosses the line.
    void answer(const Bytes& request) {
        const std::size_t index = requests.size();
        requests.push_back(request);
        const auto stall = stalls.find(index);
        unit_free_ = std::max(unit_free_, to_unit_free_) +
                     (stall == stalls.end() ? 0 : std::uint64_t{stall->second} * 1000);
        const Bytes reply = unit.answer(request);
        if (reply.empty()) return;
        const Bytes wire = frame(reply);
        to_pc_free_ = std::max(to_pc_free_, unit_free_) + wire.size() * byte_us(baud_);
        replies_.push_back({to_pc_free_, wire});
    }

    void deliver() {
        while (!replies_.empty() && replies_.front().arrives_us <= now_us()) {
            rig_.port.feed(replies_.front().wire);
            replies_.pop_front();
        }
    }

    struct Reply {
        std::uint64_t arrives_us;
        Bytes wire;
    };
    TransferRig& rig_;
    std::uint32_t baud_;
    link::FrameDecoder far_end_;
    std::uint64_t to_unit_free_ = 0;
    std::uint64_t to_pc_free_ = 0;
    std::uint64_t unit_free_ = 0;
    std::deque<Reply> replies_;
};

// How often each page was requested.
std::map<int, int> requests_per_page(const std::vector<Bytes>& requests) {
    std::map<int, int> count;
    for (const Bytes& r : requests)
        if (r.size() == 258 && r[0] == 0x2A) ++count[r[1]];
    return count;
}

TEST(SlowLine, ADownloadCostsOneRequestPerPageAndOneMorePerStall) {
    struct Case {
        const char* what;
        std::uint32_t baud;
        std::size_t pages;
        std::optional<std::size_t> stalled;  // the request the unit answers 2.5 s late
    };
    const Case cases[] = {
        {"1200 baud: 2.2 s a page, no retry", 1200, 4, std::nullopt},
        {"2400 baud", 2400, 32, std::nullopt},
        {"2400 baud, one stall of 2.5 s: one retry", 2400, 32, 10},
        {"115200 baud, one stall of 2.5 s: one retry", 115200, 32, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRig rig;
        const Bytes image = test_image(c.pages * 256);
        rig.pick(NAME, image);
        TimedLine line(rig, c.baud);
        if (c.stalled) line.stalls[*c.stalled] = 2500;
        rig.press_download();
        line.run(600'000);
        EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully");
        EXPECT_TRUE(std::equal(image.begin(), image.end(), line.unit.flash.begin()));
        EXPECT_EQ(line.requests.size(), 1 + c.pages + (c.stalled ? 1 : 0));
        // The page sent twice is the one the unit stalled on, and no other.
        for (const auto& [page, count] : requests_per_page(line.requests)) {
            const bool stalled_page = c.stalled && page == static_cast<int>(c.pages - *c.stalled);
            EXPECT_EQ(count, stalled_page ? 2 : 1) << "page " << page;
        }
    }
}

// A page that is lost on the line is sent again 2 s after its request has left, which at a slow
// rate is long after its write began: a 264-byte request takes 2,200 ms at 1200 baud.
TEST(SlowLine, ALostPageIsSentAgainTwoSecondsAfterItHasLeft) {
    struct Case {
        std::uint32_t baud;
        std::uint32_t wire_ms;  // of the 264 wire bytes
    };
    for (const Case c : {Case{1200, 2200}, Case{2400, 1100}, Case{9600, 275}, Case{115200, 23}}) {
        SCOPED_TRACE(c.baud);
        TransferRig rig;
        rig.ctx.link.current_baud = c.baud;
        // One page holding every byte value: four of them escaped on the wire.
        rig.pick(NAME, test_image(256));
        rig.press_download();
        rig.take_sent();
        rig.clock.advance(1000);
        rig.reply(hex("29 00"));
        const std::uint32_t write_began = rig.clock.now;
        const Bytes first = rig.take_sent().at(0);
        ASSERT_EQ(frame(first).size(), 264u);
        // Ticks every 10 ms up to 2 s after the request has left: nothing.
        const std::uint32_t due = write_began + c.wire_ms + device::PAGE_RETRY_MS + 1;
        while (rig.clock.now != due - 1) {
            rig.clock.now = std::min(rig.clock.now + 10, due - 1);
            rig.tick();
        }
        EXPECT_TRUE(rig.take_sent().empty());
        EXPECT_EQ(rig.status(), "Programming page #1...Please wait");
        rig.clock.now = due;
        rig.tick();
        const auto again = rig.take_sent();
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0], first);
        // The time limit, too, counts from when the request left.
        rig.clock.now = write_began + c.wire_ms + device::NO_PROGRESS_LIMIT_MS;
        rig.tick();
        EXPECT_NE(rig.engine.transfer.phase, device::Phase::idle);
        rig.clock.now += 1;
        rig.tick();
        EXPECT_EQ(rig.status(), "Error: The VRK700 is not responding");
    }
}

}  // namespace
}  // namespace vrk::test
