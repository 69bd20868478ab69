#include "app/main_window.h"

#include <gtest/gtest.h>

#include "platform/control_ids.h"
#include "tests/support/rig.h"
#include "tests/support/transfer_rig.h"

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
    // Every start verifies what it downloads until the person says otherwise.
    EXPECT_TRUE(rig.window.is_checked(ids::VERIFY));
    EXPECT_TRUE(rig.window.is_enabled(ids::VERIFY));
}

// Download as the Verify box stands when it is pressed, against a unit whose flash may lose a
// byte on the way in (the line has no checksum: the unit programs what arrived).
TEST(MainWindowCommands, DownloadVerifiesWhileTheBoxIsChecked) {
    constexpr std::size_t PAGES = 3;
    struct Case {
        const char* name;
        bool verify;
        bool damaged;  // page 1 arrives with one bit flipped
        const char* status;
        std::size_t compares;  // COMPARE_PAGE requests sent
    };
    const Case cases[] = {
        {"checked, intact", true, false, "APP.vr4 has been downloaded and verified successfully",
         PAGES},
        // Page 2 matches; page 1 differs, and a difference is asked twice before it is told.
        {"checked, damaged", true, true, "APP.vr4 doesn't match!!!!!", 3},
        {"unchecked, intact", false, false, "APP.vr4 has been downloaded successfully", 0},
        // The download alone cannot tell: kept for whoever unchecks the box.
        {"unchecked, damaged", false, true, "APP.vr4 has been downloaded successfully", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferRig rig;
        rig.pick("APP.vr4", test_image(PAGES * 256));
        rig.press_download(c.verify ? TransferRig::Verify::on : TransferRig::Verify::off);
        EXPECT_EQ(rig.engine.transfer.kind, c.verify ? device::OperationKind::download_and_verify
                                                     : device::OperationKind::download);
        EXPECT_TRUE(rig.transfer_controls_disabled()) << "Verify goes with the transfer buttons";
        rig.window.user_click(ids::VERIFY);
        EXPECT_EQ(rig.window.is_checked(ids::VERIFY), c.verify) << "not while a download runs";

        LoaderModel unit;
        std::size_t compares = 0;
        std::vector<Bytes> pending = rig.take_sent();
        while (!pending.empty()) {
            for (const Bytes& request : pending) {
                compares += request[0] == 0x2F ? 1 : 0;
                const Bytes answer = unit.answer(request);
                if (c.damaged && request[0] == 0x2A && request[1] == 1) unit.flash[256 + 7] ^= 0x10;
                if (!answer.empty()) rig.reply(answer);
            }
            pending = rig.take_sent();
        }
        EXPECT_EQ(rig.status(), c.status);
        EXPECT_EQ(compares, c.compares);
        EXPECT_EQ(rig.host.beeps, 1);
        EXPECT_TRUE(rig.transfer_controls_enabled());
        EXPECT_EQ(rig.window.is_checked(ids::VERIFY), c.verify) << "the box keeps its state";
    }
}

TEST(MainWindowCommands, CompareIsACompareWhateverTheVerifyBoxSays) {
    for (const bool checked : {true, false}) {
        TransferRig rig;
        rig.window.set_checked(ids::VERIFY, checked);
        rig.pick("APP.vr4", test_image(256));
        rig.press_compare();
        EXPECT_EQ(rig.engine.transfer.kind, device::OperationKind::compare) << checked;
        const std::vector<Bytes> sent = rig.take_sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0][0], 0x2F) << "no erase";
    }
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
