#include "app/main_window.h"

#include <gtest/gtest.h>

#include "platform/control_ids.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

TEST(CommandLine, FileNameToPreselect) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"main.vr4", "main.vr4"},
        {"\"C:\\Program Files\\VRK\\main.vr4\"", "main.vr4"},
        {"\"/home/tech/images/main.vr4\"", "main.vr4"},
        {"C:main.vr4", "main.vr4"},
        {"\"", ""},
        {"\"\"", ""},
        {"dir\\", ""},
        {"a/b\\c:d.vr4", "d.vr4"},
    };
    for (auto [line, name] : cases) EXPECT_EQ(app::command_line_file_name(line), name) << line;
}

TEST(MainWindowInit, ImageListAndPreselection) {
    struct Case {
        const char* command_line;
        const char* selected;
    };
    const Case cases[] = {
        {"", ""},
        {"\"/somewhere/else/main.vr4\"", "main.vr4"},
        {"MAIN", "main.vr4"},  // a case-insensitive prefix
        {"zzz.vr4", ""},
        {"\"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command_line);
        Rig rig(
            [](Rig& r) {
                for (const char* name :
                     {"main.vr4", "Alpha.VR4", "beta.vr4", "notes.txt", "main.vr4.bak"})
                    r.files.files[name] = Bytes(10, 1);
            },
            c.command_line);
        EXPECT_EQ(rig.window.item_count(ids::APPLICATION), 3);
        EXPECT_EQ(rig.window.item_text(ids::APPLICATION, 0), "Alpha.VR4");
        EXPECT_EQ(rig.window.text(ids::APPLICATION), c.selected);
        EXPECT_FALSE(rig.window.is_enabled(ids::DOWNLOAD))
            << "preselection does not enable Download";
        EXPECT_FALSE(rig.window.is_enabled(ids::COMPARE));
        EXPECT_EQ(rig.status(), "Establishing link to the VRK...");
    }
}

TEST(MainWindowInit, InitialControlStates) {
    Rig rig;
    EXPECT_FALSE(rig.window.is_enabled(ids::SEND_ID));
    EXPECT_EQ(rig.window.find(ids::UNIT_ID)->text_limit, 8u);
    EXPECT_EQ(rig.window.text(ids::RECORD), "Re&cord...");
}

TEST(MainWindowCommands, Routing) {
    Rig rig([](Rig& r) { r.files.files["app.vr4"] = Bytes(10, 1); });
    rig.window.user_type_text(ids::UNIT_ID, "ab");
    EXPECT_TRUE(rig.window.is_enabled(ids::SEND_ID));
    rig.window.user_type_text(ids::UNIT_ID, "");
    EXPECT_FALSE(rig.window.is_enabled(ids::SEND_ID));

    rig.window.user_select(ids::APPLICATION, 0);
    EXPECT_TRUE(rig.window.is_enabled(ids::DOWNLOAD));
    EXPECT_TRUE(rig.window.is_enabled(ids::COMPARE));

    // The dialog's own OK and Cancel (Enter without a default button, Escape) do nothing here.
    app::on_command(rig.ctx, ids::OK, platform::Notification::clicked);
    app::on_command(rig.ctx, ids::CANCEL, platform::Notification::clicked);
    EXPECT_FALSE(rig.window.ended());
    rig.window.user_click(ids::EXIT);
    EXPECT_TRUE(rig.window.ended());
}

TEST(TimerTick, PollGuardDropsReentrantTicksAndWraps) {
    Rig rig;
    rig.ctx.poll_guard = 1;  // a poll is running further down the stack
    rig.ctx.link.next_probe_time = rig.clock.now;
    rig.tick();
    EXPECT_EQ(rig.ctx.poll_guard, 1);
    EXPECT_TRUE(rig.port.writes.empty());
    rig.ctx.poll_guard = 0;
    rig.tick();
    EXPECT_EQ(rig.ctx.poll_guard, 0);
    EXPECT_EQ(rig.take_sent().size(), 1u);
}

}  // namespace
}  // namespace vrk::test
