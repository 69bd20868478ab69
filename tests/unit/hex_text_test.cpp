// Hex text as every part of the program writes it: the wire trace's frames, digests and keys,
// device codes.
#include "platform/hex_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vrk::platform {
namespace {

struct HexRow {
    std::vector<std::uint8_t> bytes;
    HexCase letters;
    char separator;
    std::string text;
};

TEST(HexText, WritesTwoDigitsPerByteWithTheSeparatorBetween) {
    const std::vector<HexRow> table = {
        {{}, HexCase::upper, ' ', ""},
        {{0x00}, HexCase::upper, ' ', "00"},
        {{0xFF, 0x0B, 0x00, 0xFE}, HexCase::upper, ' ', "FF 0B 00 FE"},
        {{0xAB, 0xCD, 0xEF}, HexCase::lower, '\0', "abcdef"},
        {{0x9F, 0x86}, HexCase::upper, ':', "9F:86"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(hex_text(row.bytes, row.letters, row.separator), row.text);
        std::string appended = "x=";
        append_hex(appended, row.bytes, row.letters, row.separator);
        EXPECT_EQ(appended, "x=" + row.text);
    }
}

TEST(HexText, DeviceCodesAsTheListsShowThem) {
    EXPECT_EQ(hex_code(0x00), "0x00");
    EXPECT_EQ(hex_code(0x2B), "0x2B");
    EXPECT_EQ(hex_code(0xFF), "0xFF");
}

}  // namespace
}  // namespace vrk::platform
