// The poll cycle and the baud hunt on the link alone: a fake port and clock, and a client that
// takes the messages.
#include "link/poll_cycle.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

struct PollRig : link::PollClient, link::LinkObserver {
    FakePort port;
    FakeClock clock;
    link::Link line{port, clock};
    std::vector<Bytes> messages;
    int quiet_cycles = 0;
    std::vector<std::string> events;

    // As a session starts it: the first probe sent at 115200, the next due 300 ms later.
    PollRig() {
        line.observer = this;
        link::start_link(line);
        port.events.clear();
        port.clear_writes();
    }
    int on_message(std::span<std::uint8_t> m) override {
        messages.emplace_back(m.begin(), m.end());
        return 0;
    }
    void on_quiet_cycle() override { ++quiet_cycles; }
    void link_up(std::uint32_t baud) override { events.push_back("up " + std::to_string(baud)); }
    void link_lost(link::LinkLoss) override { events.push_back("lost"); }

    void tick() { (void)link::poll_port(line, *this); }
    // Ticks every 10 ms for `ms`.
    void run_for(std::uint32_t ms) {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            clock.advance(10);
            tick();
        }
    }
};

TEST(BaudHunt, StepsThroughTheTableEvery300msAndStopsWhenTheUnitAnswers) {
    PollRig rig;
    rig.run_for(1200);
    // Before each probe the speed changes, and then the ID query goes out.
    std::vector<std::string> expected;
    for (const char* baud : {"1200", "2400", "4800", "9600"}) {
        expected.push_back(std::string("baud ") + baud);
        expected.push_back("write 4");
    }
    EXPECT_EQ(rig.port.events, expected);
    for (const auto& m : unframe(rig.port.written())) EXPECT_EQ(m, hex("0B 00"));

    // The unit at 9600 answers within 300 ms: the link is up there, and no further probe.
    link::mark_linked(rig.line);
    rig.port.events.clear();
    rig.run_for(2000);
    EXPECT_EQ(rig.events, std::vector<std::string>{"up 9600"});
    for (const auto& e : rig.port.events) EXPECT_NE(e.rfind("baud", 0), 0u) << e;
}

TEST(BaudHunt, NextBaudTable) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {115200, 1200}, {1200, 2400}, {19200, 57600}, {57600, 115200}, {38400, 1200}, {0, 1200}};
    for (auto [from, to] : cases) EXPECT_EQ(link::next_baud(from), to) << from;
}

TEST(BaudHunt, ProbeDueJustAfterTheTickWrapIsSentOnTime) {
    PollRig rig;
    rig.clock.now = 0xFFFFFF00u;
    rig.line.next_probe_time = rig.clock.now + 300;  // wraps to 0x2C
    rig.run_for(290);
    EXPECT_TRUE(rig.port.writes.empty());
    rig.run_for(20);
    EXPECT_EQ(unframe(rig.port.written()).size(), 1u);
}

TEST(BaudHunt, AfterALossTheNextProbeKeepsItsSpacing) {
    struct Case {
        const char* what;
        std::uint32_t probe_at;    // the tick of the last probe before the link came up
        std::uint32_t lost_after;  // ms from that probe to the loss
        std::uint32_t next_after;  // ms from that probe to the next
    };
    const Case cases[] = {
        {"lost in the tick of the probe", 1000, 0, 300},
        {"lost 110 ms after the probe", 1000, 110, 300},
        {"lost 299 ms after", 1000, 299, 300},
        {"lost 300 ms after: at once", 1000, 300, 300},
        {"lost a second after: at once", 1000, 1000, 1000},
        {"lost 110 ms after, the tick wrapping meanwhile", 0xFFFF'FFA0u, 110, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PollRig rig;
        rig.clock.now = c.probe_at;
        link::start_link(rig.line);  // the probe
        link::mark_linked(rig.line);
        rig.clock.advance(c.lost_after);
        link::lose_link(rig.line, link::LinkLoss::mode_report);
        rig.port.clear_writes();
        while (rig.port.writes.empty() && rig.clock.now - c.probe_at < 5000) {
            rig.tick();
            if (rig.port.writes.empty()) rig.clock.advance(1);
        }
        EXPECT_EQ(rig.clock.now - c.probe_at, c.next_after);
    }
}

TEST(PollPort, AtMostOneMessagePerTickAndTheRestWaits) {
    PollRig rig;
    Bytes two = frame(hex("15 01"));
    const Bytes second = frame(hex("17 00"));
    two.insert(two.end(), second.begin(), second.end());
    rig.port.feed(two);
    rig.tick();
    EXPECT_EQ(rig.messages, std::vector<Bytes>{hex("15 01")});
    EXPECT_EQ(rig.quiet_cycles, 0) << "a cycle that delivered a message ends there";
    rig.tick();
    EXPECT_EQ(rig.messages, (std::vector<Bytes>{hex("15 01"), hex("17 00")}));
    rig.tick();
    EXPECT_EQ(rig.quiet_cycles, 1);
}

}  // namespace
}  // namespace vrk::test
