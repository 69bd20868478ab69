// Finding the unit, showing its data, changing its settings and switching its mode, through the
// main window as a user drives it, over the real port against the simulated unit.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/control_ids.h"
#include "tests/e2e/e2e_support.h"

namespace vrk::test {
namespace {

TEST_F(EndToEnd, AUnitAt9600IsFoundAfterTheFasterAndSlowerProbesAndFillsThePanel) {
    sim::UnitConfig unit;
    unit.baud = 9600;
    unit.gps_type = 1;          // "SiRF"
    unit.internal_device = 9;   // "Phone @ 19200", whose text "Phone" begins
    unit.external_device = 50;  // the Hebrew row
    SimSession& s = start_linked(unit);
    ASSERT_TRUE(s.settings_loaded());

    auto& w = s.window();
    EXPECT_EQ(w.text(ids::FIRMWARE_VERSION), "2.15");
    EXPECT_EQ(w.text(ids::FLASH_TYPE), "2 Meg");
    EXPECT_EQ(w.text(ids::SERIAL_NUMBER), "70012");
    EXPECT_EQ(w.text(ids::CRYSTAL), "14.7456 MHz");
    EXPECT_EQ(w.text(ids::UNIT_ID), "VRK00042");
    EXPECT_TRUE(w.is_enabled(ids::SEND_ID));
    EXPECT_EQ(w.text(ids::GPS_TYPE), "SiRF");
    EXPECT_EQ(w.text(ids::INTERNAL_DEVICE), "Phone @ 19200");
    EXPECT_EQ(w.text(ids::EXTERNAL_DEVICE), "\xF8\xE1\x20\xE1\xF8\xE9\xE7");
    EXPECT_EQ(w.text(ids::STATUS), "") << "the device reports clear the hunt's text";

    // The probes as they went over the line: one ID query per rate, starting at 115200 and
    // wrapping to the slowest, until the unit's rate; none after it had answered.
    std::vector<std::uint32_t> probe_rates;
    for (const auto& r : s.sim().line_log())
        if (r.message == Bytes{0x0B, 0x00}) probe_rates.push_back(r.baud);
    EXPECT_EQ(probe_rates, (std::vector<std::uint32_t>{115200, 1200, 2400, 4800, 9600}));
    EXPECT_EQ(s.ctx().link.current_baud, 9600u);

    // The unit took exactly the probe at its rate and the four queries that follow an ID report.
    std::vector<std::string> taken;
    for (const auto& m : s.sim().received_messages()) taken.push_back(to_hex(m));
    EXPECT_EQ(taken, (std::vector<std::string>{"0B 00", "01 00", "16 00", "14 00", "18 00"}));
}

TEST_F(EndToEnd, ChangesOfIdAndDevicesAreConfirmedByTheUnit) {
    SimSession& s = start_linked(sim::UnitConfig{});
    auto& w = s.window();

    w.set_text(ids::STATUS, "");
    w.user_type_text(ids::UNIT_ID, "newid7");
    ASSERT_TRUE(w.is_enabled(ids::SEND_ID));
    w.user_click(ids::SEND_ID);
    EXPECT_TRUE(s.run_until([&] { return s.status() == "The new ID was received by the VRK"; }))
        << s.status();
    EXPECT_EQ(s.sim().unit_id(), "NEWID7");
    EXPECT_EQ(w.text(ids::UNIT_ID), "NEWID7");

    const struct {
        int list;
        const char* item;
        const char* confirmation;
        std::uint8_t code;
        std::uint8_t (sim::Simulator::*unit_value)() const;
    } changes[] = {
        {ids::INTERNAL_DEVICE, "Phone", "The new internal device was received by the VRK.", 4,
         &sim::Simulator::internal_device},
        {ids::EXTERNAL_DEVICE, "PPP", "The new external device was received by the VRK.", 31,
         &sim::Simulator::external_device},
        {ids::GPS_TYPE, "Zodiac", "The new GPS type was received by the VRK.", 2,
         &sim::Simulator::gps_type},
    };
    for (const auto& c : changes) {
        w.set_text(ids::STATUS, "");
        const int index = s.item_index(c.list, c.item);
        ASSERT_GE(index, 0) << c.item;
        w.user_select(c.list, index);
        EXPECT_TRUE(s.run_until([&] { return s.status() == c.confirmation; }))
            << c.item << ": " << s.status();
        EXPECT_EQ((s.sim().*c.unit_value)(), c.code) << c.item;
        EXPECT_EQ(w.text(c.list), c.item);
    }
}

TEST_F(EndToEnd, QB7ModeAndRunApplicationAnsweredNoReturnToTheHunt) {
    SimSession& s = start_linked(sim::UnitConfig{});
    const struct {
        int button;
        const char* box_text;
    } cases[] = {
        {ids::QB7_MODE, "The VRK is in QB7 mode."},
        {ids::RUN_APPLICATION, "The VRK is running the application.\nExit VRKCFG?"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(s.settings_loaded());
        const std::size_t boxes_before = host_.boxes.size();
        const std::size_t records_before = s.sim().line_log().size();
        s.window().user_click(c.button);
        ASSERT_TRUE(s.run_until([&] { return host_.boxes.size() > boxes_before; })) << c.box_text;
        EXPECT_EQ(host_.boxes.back().text, c.box_text);
        EXPECT_EQ(host_.boxes.back().caption, "Confirmation");
        EXPECT_FALSE(s.window().ended()) << "No keeps the program running";
        EXPECT_EQ(s.status(), "Establishing link to the VRK...");
        EXPECT_EQ(s.window().text(ids::FIRMWARE_VERSION), "");
        EXPECT_EQ(s.window().selection(ids::INTERNAL_DEVICE), -1);

        // The hunt resumes at the rate after the current one and comes round to the unit's.
        ASSERT_TRUE(s.run_until([&] { return s.settings_loaded(); }))
            << c.box_text << ": " << s.status();
        const auto log = s.sim().line_log();
        std::vector<std::uint32_t> probe_rates;
        for (std::size_t i = records_before; i < log.size(); ++i)
            if (log[i].message == Bytes{0x0B, 0x00}) probe_rates.push_back(log[i].baud);
        EXPECT_EQ(probe_rates,
                  (std::vector<std::uint32_t>{1200, 2400, 4800, 9600, 19200, 57600, 115200}));
        EXPECT_EQ(s.window().text(ids::FIRMWARE_VERSION), "2.15");
    }
}

TEST_F(EndToEnd, AnAnnouncingUnitIsQueriedAgain) {
    sim::UnitConfig unit;
    unit.announce = true;
    SimSession& s = start_linked(unit);
    // The unit announced itself when the program set its speed; the program asked for its
    // data a second time, all but the external device.
    ASSERT_TRUE(s.run_until([&] {
        const auto taken = s.sim().received_messages();
        return std::count(taken.begin(), taken.end(), Bytes{0x01, 0x00}) == 2;
    }));
    const auto taken = s.sim().received_messages();
    EXPECT_EQ(std::count(taken.begin(), taken.end(), Bytes{0x18, 0x00}), 1);
    EXPECT_EQ(s.window().text(ids::FIRMWARE_VERSION), "2.15");
}

}  // namespace
}  // namespace vrk::test
