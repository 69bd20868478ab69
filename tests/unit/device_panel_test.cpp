#include "device/device_panel.h"

#include <gtest/gtest.h>

#include "device/device_tables.h"
#include "device/dispatcher.h"
#include "platform/control_ids.h"
#include "tests/support/rig.h"

namespace vrk::test {
namespace {

void dispatch(Rig& rig, const char* message) {
    Bytes m = hex(message);
    (void)device::dispatch_message(rig.engine, m);
}

TEST(DeviceTables, SizesAndListsAreFilledSortedWithCodesAsData) {
    EXPECT_EQ(device::internal_device_table().size(), 38u);
    EXPECT_EQ(device::external_device_table().size(), 24u);
    EXPECT_EQ(device::gps_type_table().size(), 5u);
    Rig rig;
    EXPECT_EQ(rig.window.item_text(ids::INTERNAL_DEVICE, 0), " None");
    EXPECT_EQ(rig.window.item_count(ids::INTERNAL_DEVICE), 38);
    EXPECT_EQ(rig.window.item_count(ids::EXTERNAL_DEVICE), 24);
    for (int i = 0; i < rig.window.item_count(ids::EXTERNAL_DEVICE); ++i) {
        const auto* row = device::find_device(
            device::external_device_table(),
            static_cast<std::uint8_t>(rig.window.item_data(ids::EXTERNAL_DEVICE, i)));
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->text, rig.window.item_text(ids::EXTERNAL_DEVICE, i));
    }
    const auto* hebrew = device::find_device(device::external_device_table(), 50);
    ASSERT_NE(hebrew, nullptr);
    EXPECT_EQ(hebrew->text, std::string_view("\xF8\xE1\x20\xE1\xF8\xE9\xE7", 7));
    EXPECT_EQ(rig.window.selection(ids::INTERNAL_DEVICE), -1);
}

TEST(VersionReport, Formatting) {
    struct Case {
        const char* message;
        const char* version;
        const char* flash;
        const char* serial;
        const char* crystal;
    };
    const Case cases[] = {
        {"02 28 D7 00 39 30 00 00 00 24 F4 00", "2.15", "2 Meg", "12345", "16 MHz"},
        {"02 DA FF FF FF FF FF FF 00 00 E1 00", "-0.01", "1 Meg", "-1", "14.7456 MHz"},
        {"02 20 00 00 00 00 00 00 00 00 00 00", "0.00", "32", "0", "0 MHz"},
        {"02 00 00 80 00 00 00 80 00 00 00 80", "-327.68", "0", "-2147483648", "-2147.4836 MHz"},
        {"02 64 01 00 FF FF FF 7F 40 42 0F 00", "0.01", "2 Meg", "2147483647", "1 MHz"},
        {"02 FF 00 00 00 00 00 00", "0.00", "255", "0", ""},  // short form: crystal untouched
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Rig rig;
        dispatch(rig, c.message);
        EXPECT_EQ(rig.window.text(ids::FIRMWARE_VERSION), c.version);
        EXPECT_EQ(rig.window.text(ids::FLASH_TYPE), c.flash);
        EXPECT_EQ(rig.window.text(ids::SERIAL_NUMBER), c.serial);
        EXPECT_EQ(rig.window.text(ids::CRYSTAL), c.crystal);
    }
}

TEST(VersionReport, ShortFormKeepsTheCrystalAndTenBytesChangeNothing) {
    Rig rig;
    dispatch(rig, "02 28 D7 00 39 30 00 00 00 24 F4 00");
    dispatch(rig, "02 4A C8 00 01 00 00 00");
    EXPECT_EQ(rig.window.text(ids::CRYSTAL), "16 MHz");
    EXPECT_EQ(rig.window.text(ids::FIRMWARE_VERSION), "2.00");
    dispatch(rig, "02 28 01 00 01 00 00 00 00 00");
    EXPECT_EQ(rig.window.text(ids::FIRMWARE_VERSION), "2.00");
}

TEST(UnitId, Reports) {
    struct Case {
        const char* name;
        int link_state;
        const char* box_before;
        const char* report;
        const char* box_after;
        const char* status_after;
        bool all_selected;
    };
    const Case cases[] = {
        {"four letters then garbage", 1, "", "0B 41 42 43 44 00 58 59 5A 57", "ABCD", "keep", true},
        {"eight letters, byte 9 not zero", 1, "", "0B 31 32 33 34 35 36 37 38 39", "12345678",
         "keep", true},
        {"empty ID", 1, "OLD", "0B 00 41 41 41 41 41 41 41 41", "", "keep", true},
        {"same ID at state 2 confirms", 2, "ABCD", "0B 41 42 43 44 00 00 00 00 00", "ABCD",
         "The new ID was received by the VRK", false},
        {"same ID at state 1 replaces", 1, "ABCD", "0B 41 42 43 44 00 00 00 00 00", "ABCD", "keep",
         true},
        {"different ID at state 2 replaces", 2, "ABCD", "0B 57 58 00 00 00 00 00 00 00", "WX",
         "keep", true},
        {"case matters", 2, "ABCD", "0B 61 62 63 64 00 00 00 00 00", "abcd", "keep", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.ctx.link.link_state = c.link_state;
        rig.window.set_text(ids::UNIT_ID, c.box_before);
        rig.window.set_text(ids::STATUS, "keep");
        rig.window.set_focus(ids::EXIT);
        dispatch(rig, c.report);
        EXPECT_EQ(rig.window.text(ids::UNIT_ID), c.box_after);
        EXPECT_EQ(rig.status(), c.status_after);
        EXPECT_TRUE(rig.window.is_enabled(ids::SEND_ID));
        const auto* box = rig.window.find(ids::UNIT_ID);
        if (c.all_selected) {
            EXPECT_EQ(box->edit_sel_start, 0);
            EXPECT_EQ(box->edit_sel_end, static_cast<int>(box->text.size()));
        }
        EXPECT_EQ(rig.window.focus(), ids::EXIT) << "the focus does not move";
    }
}

TEST(UnitId, FirstReportAfterAResetSendsTheFourQueriesOnce) {
    Rig rig;
    rig.ctx.link.link_state = link::LINK_SETTINGS_LOADED;
    device::reset_link_display(rig.engine);
    dispatch(rig, "0B 41 00 00 00 00 00 00 00 00");
    EXPECT_EQ(rig.ctx.link.link_state, link::LINK_LINKED);
    EXPECT_EQ(rig.take_sent(),
              (std::vector<Bytes>{hex("01 00"), hex("16 00"), hex("14 00"), hex("18 00")}));
    dispatch(rig, "0B 41 00 00 00 00 00 00 00 00");
    EXPECT_TRUE(rig.take_sent().empty());
}

TEST(UnitId, EmptyIdThenSendSendsTenBytes) {
    Rig rig;
    dispatch(rig, "0B 00 00 00 00 00 00 00 00 00");
    rig.take_sent();
    rig.window.user_click(ids::SEND_ID);
    EXPECT_EQ(rig.take_sent(), std::vector<Bytes>{hex("0B 00 00 00 00 00 00 00 00 00")});
    rig.window.user_type_text(ids::UNIT_ID, "unit7");
    rig.window.user_click(ids::SEND_ID);
    EXPECT_EQ(rig.take_sent(), std::vector<Bytes>{hex("0B 55 4E 49 54 37 00 00 00 00")});
}

TEST(DeviceReports, SelectionConfirmationAndStatus) {
    struct Case {
        const char* name;
        int link_state;
        int list;
        int preselect_code;  // -1: nothing selected
        const char* report;
        const char* selected_after;
        const char* status_after;
        int link_state_after;
    };
    const Case cases[] = {
        {"internal code not in table", 1, ids::INTERNAL_DEVICE, 4, "15 0D", "Phone", "", 1},
        {"internal 4 is Phone not Phone @ 19200", 1, ids::INTERNAL_DEVICE, -1, "15 04", "Phone", "",
         1},
        {"internal 6 is SMS not SMS-M1", 1, ids::INTERNAL_DEVICE, -1, "15 06", "SMS", "", 1},
        {"gps 0 is TSIP not TSIP 8N1", 1, ids::GPS_TYPE, -1, "17 00", "TSIP",
         "Establishing link to the VRK...", 1},
        {"gps leaves the status alone", 0, ids::GPS_TYPE, -1, "17 04", "TSIP 8N1",
         "Establishing link to the VRK...", 0},
        {"internal clears the status", 0, ids::INTERNAL_DEVICE, -1, "15 01", "Computer", "", 0},
        {"external while searching loads settings", 0, ids::EXTERNAL_DEVICE, -1, "19 30", "1-Wire",
         "", 2},
        {"internal equal at state 2 confirms", 2, ids::INTERNAL_DEVICE, 5, "15 05", "SMS-M1",
         "The new internal device was received by the VRK.", 2},
        {"external equal at state 2 confirms", 2, ids::EXTERNAL_DEVICE, 11, "19 0B", "SLIP",
         "The new external device was received by the VRK.", 2},
        {"gps equal at state 2 confirms", 2, ids::GPS_TYPE, 3, "17 03", "SiRF @ 19200",
         "The new GPS type was received by the VRK.", 2},
        {"equal at state 1 is no confirmation", 1, ids::INTERNAL_DEVICE, 5, "15 05", "SMS-M1", "",
         1},
        {"different at state 2 moves the list", 2, ids::EXTERNAL_DEVICE, 11, "19 3B", "Garmin", "",
         2},
        {"external unknown code still loads settings", 1, ids::EXTERNAL_DEVICE, -1, "19 FF", "", "",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.ctx.link.link_state = c.link_state;
        if (c.preselect_code >= 0) {
            for (int i = 0; i < rig.window.item_count(c.list); ++i)
                if (rig.window.item_data(c.list, i) == static_cast<std::uint32_t>(c.preselect_code))
                    rig.window.set_selection(c.list, i);
        }
        rig.take_sent();
        dispatch(rig, c.report);
        EXPECT_EQ(rig.window.text(c.list), c.selected_after);
        EXPECT_EQ(rig.status(), c.status_after);
        EXPECT_EQ(rig.ctx.link.link_state, c.link_state_after);
        EXPECT_TRUE(rig.take_sent().empty()) << "a report's selection sends nothing";
    }
}

TEST(DeviceReports, ConfirmationTwiceInARow) {
    Rig rig;
    dispatch(rig, "19 20");
    dispatch(rig, "15 09");
    ASSERT_EQ(rig.ctx.link.link_state, link::LINK_SETTINGS_LOADED);
    for (int i = 0; i < 2; ++i) {
        rig.window.set_text(ids::STATUS, "");
        dispatch(rig, "15 09");
        EXPECT_EQ(rig.status(), "The new internal device was received by the VRK.");
    }
}

TEST(DeviceChanges, UserSelectionSendsTypeAndCodeWhateverTheLinkState) {
    struct Case {
        int list;
        const char* text;
        const char* sent;
    };
    const Case cases[] = {
        {ids::INTERNAL_DEVICE, "Phone @ 19200", "15 09"},
        {ids::INTERNAL_DEVICE, " None", "15 00"},
        {ids::EXTERNAL_DEVICE, "Garmin", "19 3B"},
        {ids::EXTERNAL_DEVICE, "\xF8\xE1\x20\xE1\xF8\xE9\xE7", "19 32"},
        {ids::GPS_TYPE, "Zodiac", "17 02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        Rig rig;  // still searching
        int index = -1;
        for (int i = 0; i < rig.window.item_count(c.list); ++i)
            if (rig.window.item_text(c.list, i) == c.text) index = i;
        ASSERT_GE(index, 0);
        rig.window.user_select(c.list, index);
        EXPECT_EQ(rig.take_sent(), std::vector<Bytes>{hex(c.sent)});
    }
}

TEST(DeviceChanges, ModeButtonsSendTheirRequests) {
    Rig rig;
    rig.window.user_click(ids::QB7_MODE);
    rig.window.user_click(ids::RUN_APPLICATION);
    EXPECT_EQ(rig.take_sent(), (std::vector<Bytes>{hex("1E 00"), hex("20 00")}));
}

}  // namespace
}  // namespace vrk::test
