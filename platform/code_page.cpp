#include "platform/code_page.h"

#include <array>

namespace vrk::platform {

namespace {

constexpr char32_t UNDEFINED = 0xFFFD;

// Bytes 80-BF. The upper half of the code page is mostly Latin-1 here, with the typographic
// marks of the Windows code pages in 80-9F and the sheqel and times/divide signs in A4, AA, BA.
// clang-format off
constexpr std::array<char32_t, 0x40> HIGH_80_BF = {
    0x20AC, UNDEFINED, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, UNDEFINED, 0x2039, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED,  // 88-8F
    UNDEFINED, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, UNDEFINED, 0x203A, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED,  // 98-9F
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6, 0x00A7,  // A0-A7
    0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8-AF
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0-B7
    0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8-BF
};

// Bytes C0-DF: the Hebrew points (niqqud) and punctuation, then the Yiddish ligatures and
// geresh/gershayim. CA is the qamats qatan point in the code page as Windows ships it.
constexpr std::array<char32_t, 0x20> HIGH_C0_DF = {
    0x05B0, 0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7,  // C0-C7
    0x05B8, 0x05B9, 0x05BA, 0x05BB, 0x05BC, 0x05BD, 0x05BE, 0x05BF,  // C8-CF
    0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3,  // D0-D7
    0x05F4, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED, UNDEFINED,  // D8-DF
};
// clang-format on

constexpr unsigned char FIRST_LETTER_BYTE = 0xE0;  // alef
constexpr unsigned char LAST_LETTER_BYTE = 0xFA;   // tav
constexpr char32_t ALEF = 0x05D0;

}  // namespace

char32_t windows1255_to_unicode(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte < 0xC0) return HIGH_80_BF[byte - 0x80u];
    if (byte < 0xE0) return HIGH_C0_DF[byte - 0xC0u];
    if (byte <= LAST_LETTER_BYTE) return ALEF + (byte - FIRST_LETTER_BYTE);
    if (byte == 0xFD) return 0x200E;  // left-to-right mark
    if (byte == 0xFE) return 0x200F;  // right-to-left mark
    return UNDEFINED;
}

std::u32string windows1255_to_unicode(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (const char c : bytes) out.push_back(windows1255_to_unicode(static_cast<unsigned char>(c)));
    return out;
}

std::optional<unsigned char> unicode_to_windows1255(char32_t code_point) {
    if (code_point < 0x80) return static_cast<unsigned char>(code_point);
    if (code_point == UNDEFINED) return std::nullopt;
    // 128 entries: a reverse search is cheaper to trust than a second table to keep in step.
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        if (windows1255_to_unicode(byte) == code_point) return byte;
    }
    return std::nullopt;
}

std::string unicode_to_windows1255(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char32_t cp : text)
        out.push_back(static_cast<char>(unicode_to_windows1255(cp).value_or('?')));
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            extra = 1;
            cp = b0 & 0x1Fu;
            minimum = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            extra = 2;
            cp = b0 & 0x0Fu;
            minimum = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            extra = 3;
            cp = b0 & 0x07u;
            minimum = 0x10000;
        } else {
            return false;  // a continuation byte out of place, C0/C1 (overlong) or F5-FF
        }
        if (bytes.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::u32string utf8_to_unicode(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = b0 < 0x80 ? 0 : b0 < 0xE0 ? 1 : b0 < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0   ? b0
                      : extra == 1 ? (b0 & 0x1Fu)
                      : extra == 2 ? (b0 & 0x0Fu)
                                   : (b0 & 0x07u);
        if (bytes.size() - i <= extra)
            extra = bytes.size() - i - 1;  // cut short: keep what is there
        for (std::size_t k = 1; k <= extra; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::u32string display_text(std::string_view bytes) {
    return is_valid_utf8(bytes) ? utf8_to_unicode(bytes) : windows1255_to_unicode(bytes);
}

std::string unicode_to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = UNDEFINED;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0u | (cp >> 6)));
            out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0u | (cp >> 12)));
            out.push_back(static_cast<char>(0x80u | ((cp >> 6) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
        } else {
            out.push_back(static_cast<char>(0xF0u | (cp >> 18)));
            out.push_back(static_cast<char>(0x80u | ((cp >> 12) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | ((cp >> 6) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | (cp & 0x3Fu)));
        }
    }
    return out;
}

std::string display_utf8(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    return unicode_to_utf8(windows1255_to_unicode(bytes));
}

}  // namespace vrk::platform
