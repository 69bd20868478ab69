// ID templates as a production line writes them: which are refused, the IDs they give, where
// they run out, and which IDs they recognise as theirs from any station of the line.
#include "app/cli/station/id_scheme.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vrk::test {
namespace {

using cli::IdScheme;

TEST(IdScheme, RefusesTemplatesAUnitCannotCarry) {
    struct Case {
        std::string text;
        std::optional<std::uint32_t> station;
        std::string error;  // a part of the message
    };
    const Case cases[] = {
        {"L1", std::nullopt, "no counter field"},
        {"", std::nullopt, "no counter field"},
        {"L{}{}", std::nullopt, "more than one counter"},
        {"L{:5}", std::nullopt, "{:5}"},
        {"L{:00}", std::nullopt, "{:00}"},
        {"L{:09}", std::nullopt, "{:09}"},
        {"L{:010}", std::nullopt, "{:010}"},
        {"L{count}", std::nullopt, "{count}"},
        {"L{STATION}{}", 1, "{STATION}"},
        {"L{", std::nullopt, "without its '}'"},
        {"L}{}", std::nullopt, "without its '{'"},
        {"L 1{}", std::nullopt, "cannot hold"},
        {"L\xE9{}", std::nullopt, "cannot hold"},
        {"L\t{}", std::nullopt, "'L\\x09{}'"},
        {"S{station}{}", std::nullopt, "--station-number"},
        {"S{station}{station}{}", 1, "more than once"},
        // The first ID is the counter's start, 1 unless given.
        {"LINE1{:04}", std::nullopt, "(the first would be LINE10001)"},
        {"ABCDEFGH{}", std::nullopt, "longer than 8"},
        {"S{station}-{:03}", 12345, "S12345-001"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(IdScheme::parse(c.text, c.station, &error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " -> " << error;
    }
}

TEST(IdScheme, GivesIdsUpToTheEighthCharacter) {
    struct Case {
        std::string text;
        std::optional<std::uint32_t> station;
        std::uint64_t n;
        std::optional<std::string> id;  // nullopt: the counter is exhausted there
        std::string counter_key;
    };
    const Case cases[] = {
        {"L1{:05}", std::nullopt, 1, "L100001", "L1{:05}"},
        {"L1{:05}", std::nullopt, 99'999, "L199999", "L1{:05}"},
        {"L1{:05}", std::nullopt, 100'000, "L1100000", "L1{:05}"},  // wider than the padding
        {"L1{:05}", std::nullopt, 999'999, "L1999999", "L1{:05}"},
        {"L1{:05}", std::nullopt, 1'000'000, std::nullopt, "L1{:05}"},
        {"l1{}", std::nullopt, 0, "L10", "L1{}"},  // letters upper case, as the unit's ID box
        {"{}", std::nullopt, 99'999'999, "99999999", "{}"},
        {"{}", std::nullopt, 100'000'000, std::nullopt, "{}"},
        {"{:08}", std::nullopt, 42, "00000042", "{:08}"},
        {"S{station}-{:03}", 3, 7, "S3-007", "S3-{:03}"},
        {"S{station}-{:03}", 0, 7, "S0-007", "S0-{:03}"},
        {"{:02}x{station}", 45, 1234, "1234X45", "{:02}X45"},
        {"{{{}}}", std::nullopt, 5, "{5}", "{{{}}}"},
        {"a-b_c.{}", std::nullopt, 9, "A-B_C.9", "A-B_C.{}"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto scheme = IdScheme::parse(c.text, c.station, &error);
        ASSERT_TRUE(scheme) << c.text << ": " << error;
        EXPECT_EQ(scheme->format(c.n), c.id) << c.text << " at " << c.n;
        EXPECT_EQ(scheme->counter_key(), c.counter_key) << c.text;
    }
}

TEST(IdScheme, RecognisesItsIdsFromAnyStation) {
    struct Case {
        std::string text;
        std::string id;
        bool matches;
    };
    const Case cases[] = {
        {"L1{:05}", "L100001", true},
        {"L1{:05}", "L1100000", true},
        {"L1{:05}", "L10001", false},    // too few digits for the padding
        {"L1{:05}", "L1012345", false},  // a leading zero beyond the padding
        {"L1{:05}", "l100001", false},   // the template's IDs are upper case
        {"L1{:05}", "L10000A", false},
        {"L1{:05}", "X100001", false},
        {"L{}", "L0", true},
        {"L{}", "L07", false},
        {"L{}", "L", false},
        {"S{station}-{:03}", "S3-007", true},
        {"S{station}-{:03}", "S77-1000", true},
        {"S{station}-{:03}", "S03-007", false},  // no station number is written with a zero
        {"S{station}-{:03}", "S-007", false},
        {"S{station}{:03}", "S12001", true},  // 12 and 001, or 1 and 2001
        {"S{station}{:03}", "S001", false},
        {"{}7", "1237", true},  // a literal digit after the counter
        {"{}7", "7", false},
        {"{{{}}}", "{12}", true},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto scheme = IdScheme::parse(c.text, 1, &error);
        ASSERT_TRUE(scheme) << c.text << ": " << error;
        EXPECT_EQ(scheme->matches(c.id), c.matches) << c.text << " / " << c.id;
    }
}

TEST(StationId, TakesPrintableAsciiInUpperCase) {
    struct Case {
        std::string text;
        std::optional<std::string> id;
    };
    const Case cases[] = {
        {"ab-12", "AB-12"},       {"!~", "!~"},
        {"12345678", "12345678"}, {"123456789", std::nullopt},
        {"", std::nullopt},       {"A B", std::nullopt},
        {"\xE9", std::nullopt},   {"A\x7F", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(cli::station_id(c.text, &error), c.id) << c.text;
        EXPECT_EQ(error.empty(), c.id.has_value()) << c.text;
    }
}

}  // namespace
}  // namespace vrk::test
