// The byte texts of the model as the screen shows them: the unit's Windows-1255 (the Hebrew
// external-device row), and this system's UTF-8 names.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace vrk::platform {
namespace {

struct ByteCase {
    unsigned char byte;
    char32_t code_point;
};

TEST(Windows1255, BytesMapToTheCodePagesCharacters) {
    // clang-format off
    const ByteCase cases[] = {
        {0x00, 0x0000},  {0x41, U'A'},     {0x7F, 0x007F},  // ASCII as is
        {0x80, 0x20AC},  {0x85, 0x2026},   {0x96, 0x2013},  {0x99, 0x2122},  // Windows punctuation
        {0xA0, 0x00A0},  {0xA4, 0x20AA},   {0xAA, 0x00D7},  {0xBA, 0x00F7},  {0xBF, 0x00BF},
        {0xC0, 0x05B0},  {0xCA, 0x05BA},   {0xD3, 0x05C3},  {0xD4, 0x05F0},  {0xD8, 0x05F4},  // points
        {0xE0, 0x05D0},  {0xE9, 0x05D9},   {0xF8, 0x05E8},  {0xFA, 0x05EA},  // alef .. tav
        {0xFD, 0x200E},  {0xFE, 0x200F},  // direction marks
        {0x81, 0xFFFD},  {0x8A, 0xFFFD},   {0x90, 0xFFFD},  {0x9F, 0xFFFD},  // undefined
        {0xD9, 0xFFFD},  {0xDF, 0xFFFD},   {0xFB, 0xFFFD},  {0xFC, 0xFFFD},  {0xFF, 0xFFFD},
    };
    // clang-format on
    for (const ByteCase& c : cases) {
        EXPECT_EQ(windows1255_to_unicode(c.byte), c.code_point) << "byte " << int{c.byte};
    }
}

TEST(Windows1255, TheHebrewExternalDeviceRowReadsAsHebrew) {
    EXPECT_EQ(windows1255_to_unicode(std::string_view("\xF8\xE1\x20\xE1\xF8\xE9\xE7")),
              (std::u32string{0x05E8, 0x05D1, 0x0020, 0x05D1, 0x05E8, 0x05D9, 0x05D7}));
}

TEST(Windows1255, EveryDefinedByteComesBackFromItsCharacter) {
    // Catches two bytes mapped to one character and a hole in the reverse direction.
    for (unsigned b = 0; b <= 0xFF; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const char32_t cp = windows1255_to_unicode(byte);
        if (cp == 0xFFFD) continue;
        ASSERT_EQ(unicode_to_windows1255(cp), std::optional<unsigned char>(byte)) << "byte " << b;
    }
}

TEST(Windows1255, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(unicode_to_windows1255(std::u32string{U'a', 0x00E9, 0x05E9, 0x1F600, 0xFFFD, U'Z'}),
              std::string("a?\xF9??Z"));
}

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
};

TEST(Utf8, OnlyWellFormedShortestFormsAreValid) {
    const Utf8Case cases[] = {
        {"empty", "", true},
        {"ascii", "main.vr4", true},
        {"two bytes", "caf\xC3\xA9", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"highest", "\xF4\x8F\xBF\xBF", true},
        {"hebrew row", "\xF8\xE1\x20\xE1\xF8\xE9\xE7", false},
        {"lone continuation", "\x80", false},
        {"overlong two", "\xC0\x80", false},
        {"overlong three", "\xE0\x80\x80", false},
        {"overlong four", "\xF0\x80\x80\x80", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above 10FFFF", "\xF4\x90\x80\x80", false},
        {"cut short", "ab\xE2\x82", false},
        {"missing continuation", "\xC3(", false},
    };
    for (const Utf8Case& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.name;
}

TEST(DisplayText, SystemNamesShowAsUtf8AndTheUnitsTextAsWindows1255) {
    EXPECT_EQ(display_text("Computer"), U"Computer");
    EXPECT_EQ(display_text("caf\xC3\xA9.vr4"), U"caf\u00E9.vr4");
    EXPECT_EQ(display_text("\xF8\xE1\x20\xE1\xF8\xE9\xE7"),
              U"\u05E8\u05D1 \u05D1\u05E8\u05D9\u05D7");
    EXPECT_EQ(display_text("\xE0"), U"\u05D0");  // a lone alef is not a UTF-8 sequence
}

}  // namespace
}  // namespace vrk::platform
