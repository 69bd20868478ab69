#include "device/dispatcher.h"

#include <gtest/gtest.h>

#include "platform/control_ids.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

int dispatch(Rig& rig, Bytes message) {
    return device::dispatch_message(rig.engine, message);
}

TEST(Dispatcher, WrongLengthsAndUnknownTypesHaveNoEffect) {
    const char* ignored[] = {
        "00",
        "00 00 00",
        "02 28 D7 00 01 00 00 00 00 00",  // VERSION_REPORT of 10
        "0B 41 42 00",
        "15",
        "15 01 02",
        "17",
        "19 01 00",
        "1F",
        "1F 00 00",
        "21 00 00",
        "29",
        "29 00 00",
        "2B 00 00",
        "2E 00 00",
        "2E 00 00 00 00",
        "30 01 00",
        "03 00",
        "FF 00",
        "7F",
    };
    for (const char* m : ignored) {
        SCOPED_TRACE(m);
        Rig rig;
        const auto revision = rig.window.revision();
        EXPECT_EQ(dispatch(rig, hex(m)), 0);
        EXPECT_EQ(rig.window.revision(), revision);
        EXPECT_TRUE(rig.port.writes.empty());
        EXPECT_TRUE(rig.host.boxes.empty());
    }
}

TEST(Dispatcher, EachReportAtItsLengthReachesItsHandler) {
    struct Case {
        const char* message;
        int control;
        const char* text;
    };
    const Case cases[] = {
        {"02 28 D7 00 39 30 00 00", ids::FIRMWARE_VERSION, "2.15"},
        {"02 28 D7 00 39 30 00 00 00 24 F4 00", ids::CRYSTAL, "16 MHz"},
        {"0B 41 42 43 44 00 00 00 00 00", ids::UNIT_ID, "ABCD"},
        {"15 04", ids::INTERNAL_DEVICE, "Phone"},
        {"17 01", ids::GPS_TYPE, "SiRF"},
        {"19 20", ids::EXTERNAL_DEVICE, "Panel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Rig rig;
        EXPECT_EQ(dispatch(rig, hex(c.message)), 0);
        EXPECT_EQ(rig.window.text(c.control), c.text);
    }
}

TEST(Dispatcher, AnnounceRequeriesAllButTheExternalDevice) {
    Rig rig;
    rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
    rig.window.set_text(ids::STATUS, "something");
    EXPECT_EQ(dispatch(rig, hex("00 7E")), 0);
    EXPECT_EQ(rig.take_sent(),
              (std::vector<Bytes>{hex("01 00"), hex("0B 00"), hex("16 00"), hex("14 00")}));
    EXPECT_EQ(rig.status(), "");
    EXPECT_EQ(rig.ctx.link.link_state, link::LINK_SETTINGS_LOADED);
}

TEST(Dispatcher, ModeAndExitQuestions) {
    struct Case {
        const char* message;
        std::optional<platform::MessageAnswer> answer;
        int result;
        const char* text;
        platform::MessageButtons buttons;
        platform::MessageIcon icon;
        bool resets;
    };
    using platform::MessageAnswer, platform::MessageButtons, platform::MessageIcon;
    const Case cases[] = {
        {"1F 00", std::nullopt, 0, "The VRK is in QB7 mode.", MessageButtons::ok, MessageIcon::none,
         true},
        {"21 00", MessageAnswer::no, 0, "The VRK is running the application.\nExit VRKCFG?",
         MessageButtons::yes_no, MessageIcon::question, true},
        {"21 00", MessageAnswer::yes, 1, "The VRK is running the application.\nExit VRKCFG?",
         MessageButtons::yes_no, MessageIcon::question, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Rig rig;
        rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
        rig.window.set_text(ids::FIRMWARE_VERSION, "2.15");
        if (c.answer) rig.host.answers.push_back(*c.answer);
        EXPECT_EQ(dispatch(rig, hex(c.message)), c.result);
        ASSERT_EQ(rig.host.boxes.size(), 1u);
        EXPECT_EQ(rig.host.boxes[0].text, c.text);
        EXPECT_EQ(rig.host.boxes[0].caption, "Confirmation");
        EXPECT_EQ(rig.host.boxes[0].buttons, c.buttons);
        EXPECT_EQ(rig.host.boxes[0].icon, c.icon);
        EXPECT_EQ(rig.ctx.link.link_state,
                  c.resets ? link::LINK_SEARCHING : link::LINK_SETTINGS_LOADED);
        if (c.resets) {
            EXPECT_EQ(rig.status(), "Establishing link to the VRK...");
        }
    }
}

TEST(Dispatcher, TicksWhileABoxIsOpenAreDroppedAndBytesWaitForLater) {
    Rig rig;
    rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
    rig.ctx.link.next_probe_time = rig.clock.now;
    int ticks_inside = 0;
    rig.host.while_box_open = [&] {
        // The box's own event loop keeps the timer going; bytes keep arriving.
        rig.port.feed(frame(hex("17 02")));
        for (int i = 0; i < 5; ++i) {
            rig.clock.advance(10);
            rig.tick();
            ++ticks_inside;
        }
        EXPECT_EQ(rig.window.selection(ids::GPS_TYPE), -1)
            << "no message is handled while the box is open";
    };
    rig.host.answers.push_back(platform::MessageAnswer::no);
    rig.feed_message(hex("21 00"));
    rig.tick();
    EXPECT_EQ(ticks_inside, 5);
    EXPECT_EQ(rig.ctx.poll_guard, 0);
    EXPECT_EQ(rig.host.boxes.size(), 1u);
    rig.tick();
    EXPECT_EQ(rig.window.text(ids::GPS_TYPE), "Zodiac");
}

TEST(Dispatcher, YesToTheExitQuestionEndsTheMainWindow) {
    Rig rig;
    rig.host.answers.push_back(platform::MessageAnswer::yes);
    rig.feed_message(hex("21 00"));
    rig.tick();
    EXPECT_TRUE(rig.window.ended());
}

}  // namespace
}  // namespace vrk::test
