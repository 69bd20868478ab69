// Text between the program (bytes: UTF-8 names, the unit's Windows-1255 texts) and the W
// functions of Windows (UTF-16). The program's texts are not in the machine's ANSI code page,
// so the A functions would show and open the wrong names on most machines. Pure functions, no
// system header: the dialogs in app/win32 use them too.
#pragma once

#include <string>
#include <string_view>

namespace vrk::platform::win32 {

// A text of the model as the screen shows it (see display_text in platform/code_page.h), as
// UTF-16: UTF-8 where the bytes are valid UTF-8, else the unit's Windows-1255.
[[nodiscard]] std::wstring to_wide(std::string_view bytes);
// The unit's Windows-1255 bytes as UTF-16 (an edit box holds the unit's ID as typed).
[[nodiscard]] std::wstring unit_text_to_wide(std::string_view bytes);
// UTF-16 from the system as UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string wide_to_utf8(std::wstring_view text);
// UTF-16 as the unit's Windows-1255 bytes; characters the code page lacks become '?'.
[[nodiscard]] std::string wide_to_unit_text(std::wstring_view text);

}  // namespace vrk::platform::win32
