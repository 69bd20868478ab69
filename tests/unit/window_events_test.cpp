// The main window as a consumer of the engine's events: the progress bar under the status line
// follows the pages of a running operation and estimates the time left from them.
#include "app/window_events.h"

#include <gtest/gtest.h>

#include "tests/support/transfer_rig.h"

namespace vrk::test {
namespace {

struct Bar {
    bool visible;
    std::uint32_t position;
    std::uint32_t range;
    std::string text;
};

Bar bar(const TransferRig& rig) {
    const platform::Control* c = rig.window.find(ids::PROGRESS);
    return {c->visible && rig.window.is_visible(ids::PROGRESS_TEXT), c->position, c->range,
            rig.window.text(ids::PROGRESS_TEXT)};
}

TEST(ProgressBar, FollowsThePagesAndEstimatesTheTimeLeftFromThem) {
    TransferRig rig;
    EXPECT_FALSE(bar(rig).visible) << "hidden while nothing runs";
    rig.pick("APP.vr4", test_image(4 * 256));
    rig.press_download();
    EXPECT_TRUE(bar(rig).visible) << "shown from the erase on";
    EXPECT_EQ(bar(rig).text, "0 of 4 pages");
    rig.clock.advance(3000);  // the erase's time is not the pages' rate
    rig.reply(hex("29 00"));
    rig.clock.advance(500);
    rig.reply(hex("2B 03"));
    EXPECT_EQ(bar(rig).position, 1u);
    EXPECT_EQ(bar(rig).range, 4u);
    EXPECT_EQ(bar(rig).text, "1 of 4 pages, 0:02 left");  // 3 pages at 500 ms each
    rig.clock.advance(500);
    rig.reply(hex("2B 02"));
    EXPECT_EQ(bar(rig).text, "2 of 4 pages, 0:01 left");
    rig.reply(hex("2B 01"));
    rig.reply(hex("2B 00"));
    EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded successfully") << "the texts stay";
    EXPECT_FALSE(bar(rig).visible) << "hidden again at the end";
}

TEST(ProgressBar, RunsOverBothPassesOfAVerifiedDownloadAndCountsThePagesOfThePassRunning) {
    TransferRig rig;
    rig.pick("APP.vr4", test_image(4 * 256));
    rig.press_download(TransferRig::Verify::on);
    struct Step {
        const char* reply;  // the unit's reply, 500 ms after the previous one
        std::uint32_t position;
        const char* text;
    };
    const Step steps[] = {
        {"29 00", 0, "0 of 4 pages"},
        {"2B 03", 1, "1 of 4 pages, 0:04 left"},  // 7 more pages at 500 ms each
        {"2B 02", 2, "2 of 4 pages, 0:03 left"},
        {"2B 01", 3, "3 of 4 pages, 0:03 left"},
        {"2B 00", 4, "0 of 4 pages"},  // the verify begins; its rate is measured afresh
        {"30 01 03 00", 5, "1 of 4 pages, 0:01 left"},  // 3 more at 250 ms
        {"30 01 02 00", 6, "2 of 4 pages, 0:01 left"},
        {"30 01 01 00", 7, "3 of 4 pages, 0:01 left"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.reply);
        rig.clock.advance(step.position > 4 ? 250 : 500);
        rig.reply(hex(step.reply));
        EXPECT_TRUE(bar(rig).visible);
        EXPECT_EQ(bar(rig).position, step.position);
        EXPECT_EQ(bar(rig).range, 8u);
        EXPECT_EQ(bar(rig).text, step.text);
    }
    rig.reply(hex("30 01 00 00"));
    EXPECT_EQ(rig.status(), "APP.vr4 has been downloaded and verified successfully");
    EXPECT_FALSE(bar(rig).visible);
}

TEST(ProgressBar, DurationTexts) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0:00"}, {1, "0:01"}, {59'000, "0:59"}, {61'500, "1:02"}, {3'600'000, "1:00:00"}};
    for (auto [ms, text] : cases) {
        char buffer[16];
        app::format_duration(ms, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, text) << ms;
    }
}

}  // namespace
}  // namespace vrk::test
