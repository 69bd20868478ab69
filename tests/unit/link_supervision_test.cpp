#include <gtest/gtest.h>

#include "device/engine.h"
#include "link/poll_cycle.h"
#include "platform/control_ids.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

// A rig as start-up leaves it: first probe sent at 115200, next one due 300 ms later.
struct Started : Rig {
    Started() {
        ctx.link.current_baud = link::START_BAUD;
        ctx.link.next_probe_time = clock.now + link::PROBE_INTERVAL_MS;
    }
    // Ticks every 10 ms for `ms`.
    void run_for(std::uint32_t ms) {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            clock.advance(10);
            tick();
        }
    }
};

TEST(LinkSupervision, ModemLines) {
    struct Case {
        const char* name;
        std::optional<platform::ModemLines> lines;
        bool resets;
    };
    const Case cases[] = {
        {"CTS off, DSR on keeps the link", platform::ModemLines{false, true}, false},
        {"CTS on, DSR off keeps the link", platform::ModemLines{true, false}, false},
        {"a failed read changes nothing", std::nullopt, false},
        {"both off resets", platform::ModemLines{false, false}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Started rig;
        rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
        rig.ctx.link.current_baud = 9600;
        rig.window.set_text(ids::FIRMWARE_VERSION, "2.15");
        rig.port.lines = c.lines;
        rig.clock.advance(10);
        rig.tick();
        EXPECT_EQ(rig.ctx.link.link_state,
                  c.resets ? link::LINK_SEARCHING : link::LINK_SETTINGS_LOADED);
        EXPECT_EQ(rig.window.text(ids::FIRMWARE_VERSION), c.resets ? "" : "2.15");
        if (c.resets) {
            // The hunt resumes from the rate that worked, at the next due probe.
            rig.port.events.clear();
            rig.port.lines = platform::ModemLines{true, true};
            rig.run_for(300);
            ASSERT_FALSE(rig.port.events.empty());
            EXPECT_EQ(rig.port.events.front(), "baud 19200");
        }
    }
}

TEST(LinkSupervision, AfterWeeksLinkedALostLinkIsHuntedForAtOnce) {
    for (const std::uint32_t linked_for : {1000u, 25u * 24 * 3600 * 1000, 40u * 24 * 3600 * 1000}) {
        SCOPED_TRACE(linked_for);
        Started rig;
        rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
        rig.ctx.link.current_baud = 9600;
        rig.clock.advance(linked_for);
        rig.port.lines = platform::ModemLines{false, false};
        rig.tick();
        ASSERT_EQ(rig.ctx.link.link_state, link::LINK_SEARCHING);
        rig.port.events.clear();
        rig.clock.advance(10);
        rig.tick();
        EXPECT_EQ(rig.port.events, (std::vector<std::string>{"baud 19200", "write 4"}));
    }
}

TEST(LinkSupervision, NoModemReadsWhileSearching) {
    Started rig;
    rig.run_for(1000);
    for (const auto& e : rig.port.events) EXPECT_NE(e, "modem");
}

TEST(ResetLinkDisplay, EmptiesThePanelAndEndsATransferSilently) {
    Rig rig;
    rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
    rig.window.set_text(ids::UNIT_ID, "ABCD");
    rig.window.set_text(ids::CRYSTAL, "16 MHz");
    rig.window.set_selection(ids::GPS_TYPE, 1);
    rig.window.set_text(ids::STATUS, "Programming page #3...Please wait");
    rig.engine.transfer.phase = device::Phase::programming;
    rig.engine.transfer.operation_start_time = 1234;
    rig.engine.transfer.page_sent_time = 1234;
    for (int id : {ids::APPLICATION, ids::DOWNLOAD, ids::COMPARE, ids::VERIFY})
        rig.window.enable(id, false);
    rig.ctx.link.current_baud = 4800;

    device::reset_link_display(rig.engine);

    EXPECT_EQ(rig.ctx.link.link_state, link::LINK_SEARCHING);
    EXPECT_EQ(rig.window.text(ids::UNIT_ID), "");
    EXPECT_EQ(rig.window.text(ids::CRYSTAL), "");
    EXPECT_FALSE(rig.window.is_enabled(ids::SEND_ID));
    EXPECT_EQ(rig.window.selection(ids::GPS_TYPE), -1);
    EXPECT_EQ(rig.status(), "Establishing link to the VRK...");
    EXPECT_EQ(rig.engine.transfer.phase, device::Phase::idle);
    for (int id : {ids::APPLICATION, ids::DOWNLOAD, ids::COMPARE, ids::VERIFY})
        EXPECT_TRUE(rig.window.is_enabled(id));
    EXPECT_EQ(rig.host.beeps, 0);
    EXPECT_EQ(rig.ctx.link.current_baud, 4800u) << "the baud rate is left alone";
    EXPECT_TRUE(rig.port.writes.empty());
}

}  // namespace
}  // namespace vrk::test
