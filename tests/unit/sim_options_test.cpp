// The vrk-sim command line: every option reaches its setting, every mistake is named.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/demo_image.h"

namespace vrk::sim {
namespace {

TEST(SimOptions, EveryOptionReachesItsSetting) {
    const auto r = parse_sim_options({"--baud",
                                      "9600",
                                      "--id",
                                      "ABC",
                                      "--firmware-version",
                                      "3.07",
                                      "--serial",
                                      "-5",
                                      "--crystal",
                                      "16000000",
                                      "--short-version",
                                      "--announce",
                                      "--line-time",
                                      "--erase-ms",
                                      "1500",
                                      "--program-ms=20",
                                      "--seed",
                                      "0x10",
                                      "--drop-rx",
                                      "0.1",
                                      "--drop-tx",
                                      "0.2",
                                      "--corrupt",
                                      "0.001",
                                      "--corrupt-rx",
                                      "0.002",
                                      "--stop-after",
                                      "12",
                                      "--wrong-page",
                                      "--no-id-reply",
                                      "--flash-out",
                                      "f.bin",
                                      "--log",
                                      "l.txt",
                                      "--link",
                                      "/tmp/vrk",
                                      "--flash-type",
                                      "0x4A",
                                      "--gps-type",
                                      "3",
                                      "--internal-device",
                                      "4",
                                      "--external-device",
                                      "50",
                                      "--flash-size",
                                      "65536",
                                      "--flip-byte",
                                      "0x1234"});
    ASSERT_EQ(r.error, "");
    const UnitConfig& u = r.options.unit;
    EXPECT_EQ(u.baud, 9600u);
    EXPECT_EQ(u.flip_byte, std::optional<std::size_t>(0x1234));
    EXPECT_EQ(u.id, "ABC");
    EXPECT_EQ(u.version_hundredths, 307);
    EXPECT_EQ(u.serial_number, -5);
    EXPECT_EQ(u.crystal_hz, 16000000);
    EXPECT_TRUE(u.short_version);
    EXPECT_TRUE(u.announce);
    EXPECT_TRUE(u.line_time);
    EXPECT_EQ(u.erase_ms, 1500u);
    EXPECT_EQ(u.program_ms, 20u);
    EXPECT_EQ(u.seed, 16u);
    EXPECT_DOUBLE_EQ(u.drop_rx, 0.1);
    EXPECT_DOUBLE_EQ(u.drop_tx, 0.2);
    EXPECT_DOUBLE_EQ(u.corrupt, 0.001);
    EXPECT_DOUBLE_EQ(u.corrupt_rx, 0.002);
    ASSERT_TRUE(u.stop_after_pages.has_value());
    EXPECT_EQ(*u.stop_after_pages, 12u);
    EXPECT_TRUE(u.wrong_page);
    EXPECT_TRUE(u.no_id_reply);
    EXPECT_EQ(u.flash_out, "f.bin");
    EXPECT_EQ(u.log_path, "l.txt");
    EXPECT_EQ(r.options.link, "/tmp/vrk");
    EXPECT_EQ(u.flash_type, 0x4A);
    EXPECT_EQ(u.gps_type, 3);
    EXPECT_EQ(u.internal_device, 4);
    EXPECT_EQ(u.external_device, 50);
    EXPECT_EQ(u.flash_size, 65536u);
    EXPECT_FALSE(r.options.help);
}

TEST(SimOptions, NoArgumentsGiveTheDefaultUnit) {
    const auto r = parse_sim_options({});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.unit.baud, 115200u);
    EXPECT_EQ(r.options.unit.id, "VRK00042");
    EXPECT_FALSE(r.options.unit.stop_after_pages.has_value());
    EXPECT_TRUE(r.options.demo_image.empty());
}

TEST(SimOptions, MistakesAreRefusedNamingTheOption) {
    const struct {
        std::vector<std::string> args;
        const char* must_mention;
    } cases[] = {
        {{"--bogus"}, "'--bogus'"},
        {{"--baud"}, "--baud needs a value"},
        {{"--baud", "12345"}, "--baud"},
        {{"--baud", "fast"}, "--baud"},
        {{"--baud", "9600x"}, "--baud"},
        {{"--id", "123456789"}, "--id"},
        {{"--firmware-version", "400"}, "--firmware-version"},
        {{"--firmware-version", "two"}, "--firmware-version"},
        {{"--serial", "2147483648"}, "--serial"},
        {{"--flash-type", "256"}, "--flash-type"},
        {{"--drop-rx", "1.01"}, "--drop-rx"},
        {{"--drop-tx", "-0.5"}, "--drop-tx"},
        {{"--corrupt", "nan"}, "--corrupt"},
        {{"--stop-after", "-1"}, "--stop-after"},
        {{"--flash-size", "16777217"}, "--flash-size"},
        {{"--announce=yes"}, "--announce takes no value"},
        {{"--log", ""}, "--log"},
        {{"--seed", ""}, "--seed"},
    };
    for (const auto& c : cases) {
        const auto r = parse_sim_options(c.args);
        EXPECT_NE(r.error.find(c.must_mention), std::string::npos) << c.args[0] << ": " << r.error;
    }
}

TEST(SimOptions, HelpAndDemoImage) {
    EXPECT_TRUE(parse_sim_options({"--help"}).options.help);
    // The program's own version; the unit's firmware version is --firmware-version.
    const auto version = parse_sim_options({"--version"});
    EXPECT_TRUE(version.options.version) << version.error;
    EXPECT_EQ(version.options.unit.version_hundredths, UnitConfig{}.version_hundredths);
    EXPECT_EQ(parse_sim_options({"--make-demo-image", "x.vr4"}).options.demo_image, "x.vr4");
    EXPECT_NE(sim_usage().find("--make-demo-image"), std::string::npos);
}

TEST(SimDemoImage, IsRepeatableAndEndsInAByteThatIsNotErased) {
    const auto a = make_demo_image(DEMO_IMAGE_SIZE);
    EXPECT_EQ(a.size(), DEMO_IMAGE_SIZE);
    EXPECT_EQ(a, make_demo_image(DEMO_IMAGE_SIZE));
    EXPECT_NE(a.back(), 0xFF);
    EXPECT_NE(a, make_demo_image(DEMO_IMAGE_SIZE, 701));
    EXPECT_TRUE(make_demo_image(0).empty());
    EXPECT_EQ(make_demo_image(3).size(), 3u);
}

}  // namespace
}  // namespace vrk::sim
