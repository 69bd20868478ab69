#include "app/win32/win32_host_services.h"

#include <windows.h>
// After windows.h:
#include <commdlg.h>

#include <array>
#include <string>

#include "platform/win32/wide_text.h"

namespace vrk::win32 {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::win32::to_wide;
using platform::win32::wide_to_utf8;

namespace {

// The file-name buffer of the save dialog, as the program has always had it.
constexpr std::size_t PATH_CAPACITY = 256;

UINT icon_flag(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::error:
            return MB_ICONERROR;
        case MessageIcon::question:
            return MB_ICONQUESTION;
        case MessageIcon::information:
            return MB_ICONINFORMATION;
        case MessageIcon::none:
            break;
    }
    return 0;
}

}  // namespace

MessageAnswer Win32HostServices::message_box(const std::string& text, const std::string& caption,
                                             MessageButtons buttons, MessageIcon icon) {
    const std::wstring wide_text = to_wide(text);
    const std::wstring wide_caption = to_wide(caption);
    // A null caption is the system's own, "Error".
    const int answer =
        ::MessageBoxW(static_cast<HWND>(owner_), wide_text.c_str(),
                      caption.empty() ? nullptr : wide_caption.c_str(),
                      (buttons == MessageButtons::yes_no ? MB_YESNO : MB_OK) | icon_flag(icon));
    if (buttons == MessageButtons::ok) return MessageAnswer::ok;
    return answer == IDYES ? MessageAnswer::yes : MessageAnswer::no;
}

void Win32HostServices::beep() {
    // The simple beep of the speaker, not a sound of the sound scheme.
    ::MessageBeep(0xFFFFFFFF);
}

std::optional<std::string> Win32HostServices::save_file_dialog(
    const platform::SaveFileRequest& request) {
    std::array<wchar_t, PATH_CAPACITY> path{};
    const std::wstring initial = to_wide(request.initial_path);
    initial.copy(path.data(), std::min(initial.size(), path.size() - 1));
    // One filter entry: description, pattern, and the empty pair that ends the list.
    std::wstring filter = to_wide(request.filter_description);
    filter.push_back(L'\0');
    filter += to_wide(request.filter_pattern);
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    const std::wstring extension = to_wide(request.default_extension);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = static_cast<HWND>(owner_);
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    // Hide the read-only box, keep the current directory (the image list is read from it),
    // take only existing folders and writable files, Explorer style.
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN |
                   OFN_EXPLORER;
    if (request.overwrite_prompt) dialog.Flags |= OFN_OVERWRITEPROMPT;
    if (!::GetSaveFileNameW(&dialog)) return std::nullopt;
    return wide_to_utf8(path.data());
}

}  // namespace vrk::win32
