#include "platform/win32/wide_text.h"

#include "platform/code_page.h"

namespace vrk::platform::win32 {
namespace {

static_assert(sizeof(wchar_t) == 2, "Windows' wide characters are UTF-16 code units");

std::wstring utf16_from(std::u32string_view code_points) {
    std::wstring out;
    out.reserve(code_points.size());
    for (char32_t cp : code_points) {
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        if (cp < 0x10000) {
            out.push_back(static_cast<wchar_t>(cp));
        } else if (cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(0xFFFD));
        }
    }
    return out;
}

std::u32string code_points_from(std::wstring_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? char32_t{0xFFFD} : unit);
    }
    return out;
}

}  // namespace

std::wstring to_wide(std::string_view bytes) {
    return utf16_from(display_text(bytes));
}

std::wstring unit_text_to_wide(std::string_view bytes) {
    return utf16_from(windows1255_to_unicode(bytes));
}

std::string wide_to_utf8(std::wstring_view text) {
    return unicode_to_utf8(code_points_from(text));
}

std::string wide_to_unit_text(std::wstring_view text) {
    return unicode_to_windows1255(code_points_from(text));
}

}  // namespace vrk::platform::win32
