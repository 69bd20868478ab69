// A port that goes away (an adapter pulled out) and comes back, as the session sees it: the
// loss told once and at once, nothing more sent to the dead device, the port tried again once a
// second and the hunt started over when it opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/events.h"
#include "platform/control_ids.h"
#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

constexpr const char* GONE_TEXT = "The port /dev/ttyFAKE0 is gone: reconnect the cable";

struct Told final : device::EngineObserver {
    std::vector<link::LinkLoss> losses;
    std::vector<device::Result> results;
    void link_lost(link::LinkLoss why) override { losses.push_back(why); }
    void operation_finished(const device::OperationEnd& end) override {
        results.push_back(end.result);
    }
};

// Linked, with the unit's version shown; with `downloading`, a download of four pages is at its
// first page.
struct LinkedRig : TransferRig {
    Told told;
    explicit LinkedRig(bool downloading) {
        engine.events.add(told);
        feed_message(hex("02 28 D7 00 39 30 00 00 00 24 F4 00"));
        tick();
        if (downloading) {
            pick("APP.vr4", test_image(1024));
            press_download();
            reply(hex("29 00"));
        }
        port.clear_writes();
        port.events.clear();
        port.log_reads = true;
    }
    // Ticks every 10 ms for `ms`.
    void run_for(std::uint32_t ms) {
        for (std::uint32_t t = 0; t < ms; t += 10) {
            clock.advance(10);
            tick();
        }
    }
};

TEST(PortLoss, IsToldOnceAtOnceAndNothingReachesTheDeadDeviceAgain) {
    enum class Way { read_in_a_download, page_retry_write, command_write };
    struct Case {
        const char* name;
        Way way;
        bool downloading;
    };
    const Case cases[] = {
        {"a read finds the device gone during a download", Way::read_in_a_download, true},
        {"the page retry's write finds it gone", Way::page_retry_write, true},
        {"a button's request finds it gone between ticks", Way::command_write, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkedRig rig(c.downloading);
        rig.port.lost = true;
        switch (c.way) {
            case Way::read_in_a_download:
                rig.clock.advance(10);
                break;
            case Way::page_retry_write:
                // The read of this tick sees nothing amiss; the retry's write does.
                rig.port.lost = false;
                rig.port.writes_lost = true;
                rig.clock.now = rig.ctx.link.line_free + 2001;
                break;
            case Way::command_write:
                rig.window.user_click(ids::QB7_MODE);
                rig.clock.advance(10);
                break;
        }
        rig.tick();

        EXPECT_FALSE(rig.session->port_open());
        EXPECT_EQ(rig.status(), GONE_TEXT);
        EXPECT_EQ(rig.told.losses, std::vector<link::LinkLoss>{link::LinkLoss::port_lost});
        EXPECT_EQ(rig.ctx.link.link_state, link::LINK_SEARCHING);
        EXPECT_EQ(rig.window.text(ids::FIRMWARE_VERSION), "");
        if (c.downloading) {
            EXPECT_EQ(rig.told.results, std::vector<device::Result>{device::Result::port_lost});
            EXPECT_EQ(rig.host.beeps, 1);
            EXPECT_TRUE(rig.transfer_controls_enabled());
        } else {
            EXPECT_TRUE(rig.told.results.empty());
            EXPECT_EQ(rig.host.beeps, 0);
        }

        // Long past every time limit, with buttons pressed: the loss stays told once, and the
        // closed port hears nothing more.
        const auto closed_at = std::find(rig.port.events.begin(), rig.port.events.end(), "close");
        ASSERT_NE(closed_at, rig.port.events.end());
        const std::size_t events_then = rig.port.events.size();
        rig.window.user_click(ids::RUN_APPLICATION);
        rig.run_for(40'000);
        EXPECT_EQ(rig.port.events.size(), events_then)
            << "after the loss: " << rig.port.events.back();
        EXPECT_EQ(rig.told.losses.size(), 1u);
        EXPECT_EQ(rig.status(), GONE_TEXT);
        EXPECT_TRUE(rig.host.boxes.empty());
    }
}

TEST(PortLoss, ThePortIsOpenedAgainOnceASecondAndTheHuntStartsOver) {
    LinkedRig rig(false);
    std::vector<std::uint32_t> attempts;
    FakePort* reopened = nullptr;
    rig.session->set_reopen([&]() -> platform::OpenResult {
        attempts.push_back(rig.clock.now);
        if (attempts.size() < 3) return {nullptr, platform::PortError::not_found};
        auto port = std::make_unique<FakePort>();
        reopened = port.get();
        return {std::move(port), platform::PortError::none};
    });
    rig.ctx.link.current_baud = 9600;
    rig.port.lost = true;
    rig.clock.advance(10);
    rig.tick();
    const std::uint32_t lost_at = rig.clock.now;
    ASSERT_FALSE(rig.session->port_open());

    rig.run_for(3000);
    EXPECT_EQ(attempts,
              (std::vector<std::uint32_t>{lost_at + 1000, lost_at + 2000, lost_at + 3000}));
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(rig.session->port_open());
    EXPECT_TRUE(rig.host.boxes.empty()) << "the attempts are quiet";
    // Configured as at start, and the first probe at 115200.
    ASSERT_GE(reopened->events.size(), 2u);
    EXPECT_EQ(reopened->events[0], "configure 115200");
    EXPECT_EQ(to_hex(reopened->writes.front()), "FF 0B 00 FE");
    EXPECT_EQ(rig.status(), "Establishing link to the VRK...");

    reopened->feed(frame(hex("0B 56 52 4B 00 00 00 00 00 00")));
    rig.run_for(10);
    EXPECT_EQ(rig.ctx.link.link_state, link::LINK_LINKED);
    EXPECT_EQ(rig.ctx.link.current_baud, 115200u);
    EXPECT_EQ(attempts.size(), 3u);
}

}  // namespace
}  // namespace vrk::test
