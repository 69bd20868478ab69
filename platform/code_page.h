// Text as the controls model holds it (bytes) and as a screen or a terminal shows it (Unicode,
// UTF-8). Shared by every front-end: the Qt view draws code points, the command-line tool and
// its JSON print UTF-8.
//
// The model keeps the unit's texts as the single bytes the unit and its tables use: Windows
// code page 1255 (one external-device row is Hebrew in it). File names and paths that reach
// the model from this system are UTF-8. A byte string that is valid UTF-8 is therefore shown
// as UTF-8 (plain ASCII reads the same either way); anything else is the unit's single-byte
// text. Windows-1255 Hebrew never forms valid UTF-8 in practice: its letters (E0-FA) would
// have to be followed by two or three bytes from 80-BF, which are symbols the unit's texts do
// not use, and F8-FA never start a UTF-8 sequence at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrk::platform {

// The code point of one Windows-1255 byte. The bytes the code page leaves undefined (81, 8A,
// 8C-90, 9A, 9C-9F, D9-DF, FB, FC, FF) become U+FFFD, the replacement character.
[[nodiscard]] char32_t windows1255_to_unicode(unsigned char byte);
// A whole byte string, byte by byte.
[[nodiscard]] std::u32string windows1255_to_unicode(std::string_view bytes);

// The Windows-1255 byte for a code point, or nullopt when the code page has none.
[[nodiscard]] std::optional<unsigned char> unicode_to_windows1255(char32_t code_point);
// A whole text; code points without a byte become '?', as the platform's conversion does.
[[nodiscard]] std::string unicode_to_windows1255(std::u32string_view text);

// True when bytes are well-formed UTF-8: shortest forms only, no surrogates, at most U+10FFFF.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);
// The code points of well-formed UTF-8 (call only when is_valid_utf8 holds).
[[nodiscard]] std::u32string utf8_to_unicode(std::string_view bytes);

// What the screen shows for a text of the model: UTF-8 when the bytes are valid UTF-8, else
// Windows-1255 (see the top of this file).
[[nodiscard]] std::u32string display_text(std::string_view bytes);

// Code points as UTF-8. Surrogates and values past U+10FFFF become U+FFFD.
[[nodiscard]] std::string unicode_to_utf8(std::u32string_view text);
// A text of the model or of the unit as UTF-8, by the rule of display_text: unchanged when it
// is valid UTF-8 already, else read as Windows-1255.
[[nodiscard]] std::string display_utf8(std::string_view bytes);

}  // namespace vrk::platform
