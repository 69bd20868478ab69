// When the line is free: the link works out when the last byte it wrote will have left, from
// the frames' sizes and the rate, whatever the port's write does with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/link.h"
#include "link/poll_cycle.h"
#include "tests/support/fakes.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

constexpr std::uint32_t DAY_MS = 24 * 3600 * 1000;

TEST(WireTime, TenBitTimesAByteRoundedUp) {
    struct Case {
        std::size_t bytes;
        std::uint32_t baud;
        std::uint32_t ms;
    };
    const Case cases[] = {
        {264, 1200, 2200},  // a page request with four escaped bytes, at the slowest rate
        {265, 1200, 2209},  // 2208.3
        {240, 9600, 250},  {260, 115200, 23},  // 22.6
        {4, 115200, 1},                        // 0.35
        {0, 1200, 0},      {100, 0, 0},        // a port with no rate set has none to go by
    };
    for (const Case& c : cases)
        EXPECT_EQ(link::wire_time_ms(c.bytes, c.baud), c.ms) << c.bytes << " at " << c.baud;
}

// A message of the longest kind, 260 bytes, with no runs and two bytes to escape: a frame of
// 264 wire bytes, which take 2,200 ms at 1200 baud.
Bytes page_sized_message() {
    Bytes m(260);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i % 200);
    m[10] = 0xFC;
    m[20] = 0xFF;
    return m;
}

// A port whose write returns only once its bytes have crossed the line, as a write that waits
// for them does: the clock moves on by their wire time meanwhile.
class DrainingPort : public FakePort {
  public:
    FakeClock* clock = nullptr;
    std::uint32_t ms_per_frame = 0;
    platform::IoStatus write(std::span<const std::uint8_t> bytes) override {
        clock->advance(ms_per_frame);
        return FakePort::write(bytes);
    }
};

struct Quiet : link::PollClient {
    int on_message(std::span<std::uint8_t>) override { return 0; }
    void on_quiet_cycle() override {}
};

TEST(LineFree, IsWhenTheLastFrameWillHaveLeftWhateverTheWriteDoes) {
    struct Case {
        const char* what;
        bool draining;  // the write returns once the bytes have gone
        // Before each frame, the time that passes after the previous write returned, with the
        // poll cycles running on meanwhile.
        std::vector<std::uint32_t> pauses;
        std::uint32_t free_after;  // line_free, counted from the first write
    };
    const Case cases[] = {
        {"a frame", false, {0}, 2200},
        {"a frame through a write that waits for it", true, {0}, 2200},
        {"a second frame while the line is busy", false, {0, 100}, 4400},
        {"two frames through a write that waits", true, {0, 0}, 4400},
        {"a second frame once the line has emptied", false, {0, 5000}, 7200},
        // A line_free from weeks ago must not read as lying ahead once the tick has moved on by
        // more than 2^31 ms.
        {"a frame 25 days after the last", false, {0, 25 * DAY_MS}, 25 * DAY_MS + 2200},
        {"a frame 40 days after the last", false, {0, 40 * DAY_MS}, 40 * DAY_MS + 2200},
    };
    const Bytes message = page_sized_message();
    ASSERT_EQ(frame(message).size(), 264u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeClock clock;
        DrainingPort port;
        port.clock = &clock;
        port.ms_per_frame = c.draining ? 2200 : 0;
        link::Link line(port, clock);
        line.line_free = clock.now;
        line.current_baud = 1200;
        line.link_state = link::LINK_LINKED;  // no probes of its own
        Quiet client;
        const std::uint32_t first = clock.now;
        for (std::uint32_t pause : c.pauses) {
            // A poll cycle an hour (every 10 ms in the program: the same to the link).
            for (constexpr std::uint32_t hour = 3600 * 1000; pause > 0;
                 pause -= std::min(pause, hour)) {
                clock.advance(std::min(pause, hour));
                (void)link::poll_port(line, client);
            }
            link::send_message(line, message);
        }
        EXPECT_EQ(line.line_free - first, c.free_after);
    }
}

}  // namespace
}  // namespace vrk::test
