#include "app/win32/dialog_window.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <algorithm>
#include <limits>
#include <string>

#include "app/win32/control_mirror.h"
#include "app/win32/win32_host_services.h"
#include "platform/control_ids.h"
#include "platform/win32/wide_text.h"

namespace vrk::win32 {

using platform::ControlKind;

namespace {

constexpr UINT_PTR POLL_TIMER = 1;

struct Drawn {
    int id;
    std::uint64_t revision;
};

struct DialogState {
    DialogState(platform::ControlsModel& model_, DialogHooks hooks_)
        : model(model_), hooks(std::move(hooks_)) {}
    platform::ControlsModel& model;
    DialogHooks hooks;
    HWND window = nullptr;
    std::vector<Drawn> drawn;
    HFONT hebrew_font = nullptr;
    std::uint64_t drawn_model_revision = std::numeric_limits<std::uint64_t>::max();
    int drawn_focus = 0;
    bool drawing = false;  // the program's own changes must not come back as the user's
    bool finished = false;
};

void redraw(DialogState& s) {
    if (s.model.revision() == s.drawn_model_revision || s.drawing) return;
    s.drawing = true;
    for (const platform::Control& control : s.model.controls()) {
        auto it = std::find_if(s.drawn.begin(), s.drawn.end(),
                               [&](const Drawn& d) { return d.id == control.id; });
        if (it == s.drawn.end()) it = s.drawn.insert(s.drawn.end(), Drawn{control.id, 0});
        if (it->revision == control.revision) continue;
        if (HWND widget = ::GetDlgItem(s.window, control.id)) mirror_control(control, widget);
        it->revision = control.revision;
    }
    if (s.model.focus() != s.drawn_focus) {
        s.drawn_focus = s.model.focus();
        // Through the dialog manager, so the default push button follows the focus.
        if (HWND widget = ::GetDlgItem(s.window, s.drawn_focus))
            ::SendMessageW(s.window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(widget), TRUE);
    }
    s.drawn_model_revision = s.model.revision();
    s.drawing = false;
}

void refresh(DialogState& s) {
    redraw(s);
    if (s.model.ended() && !s.finished) {
        s.finished = true;
        if (s.hooks.driver != nullptr) ::KillTimer(s.window, POLL_TIMER);
        ::EndDialog(s.window, s.model.result());
    }
}

// The edit box's text after the user typed: the model keeps what it accepts (cut to its limit,
// letters upper-cased); the box shows that, with the caret where the user left it.
void on_edit_change(DialogState& s, int id, HWND edit) {
    DWORD caret = 0;
    ::SendMessageW(edit, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    s.model.user_type_text(id, platform::win32::wide_to_unit_text(window_text(edit)));
    const platform::Control* control = s.model.find(id);
    const std::wstring kept = platform::win32::unit_text_to_wide(control->text);
    if (window_text(edit) != kept) {
        s.drawing = true;
        ::SetWindowTextW(edit, kept.c_str());
        const auto at = std::min<std::size_t>(caret, kept.size());
        ::SendMessageW(edit, EM_SETSEL, at, static_cast<LPARAM>(at));
        s.drawing = false;
    }
    for (Drawn& d : s.drawn)
        if (d.id == id) d.revision = control->revision;
}

void on_command(DialogState& s, int id, int code, HWND from) {
    if (s.drawing || s.finished) return;
    const platform::Control* control = s.model.find(id);
    // Enter and Escape arrive as OK and Cancel; the main window has neither and ignores them.
    if (control == nullptr) return;
    switch (control->kind) {
        case ControlKind::push_button:
        case ControlKind::default_push_button:
        case ControlKind::check_box:
            // A check box of the plain BS_CHECKBOX style does not toggle itself: a click, Space
            // or its mnemonic only says BN_CLICKED, the model toggles, and the redraw shows it.
            if (code == BN_CLICKED) s.model.user_click(id);
            break;
        case ControlKind::edit:
            if (code == EN_CHANGE) on_edit_change(s, id, from);
            if (code == EN_SETFOCUS) s.model.user_focus(id);
            break;
        case ControlKind::drop_down_list:
            if (code == CBN_SELCHANGE)
                s.model.user_select(id, static_cast<int>(::SendMessageW(from, CB_GETCURSEL, 0, 0)));
            if (code == CBN_SETFOCUS) s.model.user_focus(id);
            break;
        case ControlKind::list_box: {
            const int row = static_cast<int>(::SendMessageW(from, LB_GETCURSEL, 0, 0));
            if (code == LBN_SELCHANGE) s.model.user_select(id, row);
            if (code == LBN_DBLCLK) s.model.user_double_click(id, row);
            if (code == LBN_SETFOCUS) s.model.user_focus(id);
            break;
        }
        default:
            break;
    }
    if (s.model.focus() == id) s.drawn_focus = id;
    refresh(s);
}

// The device lists show the unit's table texts, one of them Hebrew. The dialog font ("MS Sans
// Serif") is a bitmap font of the Western code page; the same face asked for with the Hebrew
// character set brings its code page 1255 cut (Latin letters as well as Hebrew ones), where the
// system does not substitute a font with Hebrew letters by itself.
void use_hebrew_font(DialogState& s) {
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(s.window, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (font == nullptr || ::GetObjectW(font, sizeof description, &description) == 0) return;
    bool has_lists = false;
    for (const platform::Control& c : s.model.controls())
        has_lists = has_lists || c.kind == ControlKind::drop_down_list;
    if (!has_lists) return;
    description.lfCharSet = HEBREW_CHARSET;
    s.hebrew_font = ::CreateFontIndirectW(&description);
    if (s.hebrew_font == nullptr) return;
    for (const platform::Control& c : s.model.controls()) {
        if (c.kind != ControlKind::drop_down_list) continue;
        if (HWND list = ::GetDlgItem(s.window, c.id))
            ::SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(s.hebrew_font), FALSE);
    }
}

INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* s = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            s = reinterpret_cast<DialogState*>(lparam);
            ::SetWindowLongPtrW(window, DWLP_USER, lparam);
            s->window = window;
            if (s->hooks.host != nullptr) s->hooks.host->set_owner(window);
            if (s->hooks.driver != nullptr) {
                const HINSTANCE instance = ::GetModuleHandleW(nullptr);
                ::SendMessageW(window, WM_SETICON, ICON_BIG,
                               reinterpret_cast<LPARAM>(::LoadIconW(instance, L"VRK700")));
                ::SendMessageW(window, WM_SETICON, ICON_SMALL,
                               reinterpret_cast<LPARAM>(::LoadIconW(instance, L"VRK700")));
                ::SetTimer(window, POLL_TIMER, app::TIMER_PERIOD_MS, nullptr);
            }
            use_hebrew_font(*s);
            redraw(*s);
            // The system places the default focus unless the program has chosen one.
            if (HWND focus = ::GetDlgItem(window, s->model.focus())) {
                ::SetFocus(focus);
                return FALSE;
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (s != nullptr)
                on_command(*s, LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
            return TRUE;
        case WM_TIMER:
            // A message box opened inside a poll runs a loop of its own that keeps this timer
            // firing: the session's poll guard drops those ticks, and the dialog just draws.
            if (s != nullptr && wparam == POLL_TIMER && !s->finished) {
                s->hooks.driver->tick();
                refresh(*s);
                if (s->hooks.after_tick && !s->finished) {
                    s->hooks.after_tick(window);
                    refresh(*s);
                }
            }
            return TRUE;
        case WM_CLOSE:
            // The close box, Alt+F4 or the task bar: the dialog ends with "nothing chosen".
            if (s != nullptr) {
                if (!s->model.ended()) s->model.end_dialog(-1);
                refresh(*s);
            }
            return TRUE;
        case WM_DESTROY:
            if (s != nullptr && s->hooks.host != nullptr) s->hooks.host->set_owner(nullptr);
            if (s != nullptr && s->hebrew_font != nullptr) {
                ::DeleteObject(s->hebrew_font);
                s->hebrew_font = nullptr;
            }
            ::KillTimer(window, POLL_TIMER);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void run_dialog(const res::DialogTemplate& dialog, platform::ControlsModel& model,
                DialogHooks hooks) {
    if (model.ended()) return;
    // The progress bar is a common control: its window class exists once registered.
    INITCOMMONCONTROLSEX which{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    (void)::InitCommonControlsEx(&which);
    DialogState state(model, std::move(hooks));
    const std::wstring name = platform::win32::to_wide(dialog.name);
    const HWND owner =
        state.hooks.host != nullptr ? static_cast<HWND>(state.hooks.host->owner()) : nullptr;
    const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), name.c_str(), owner,
                                             dialog_procedure, reinterpret_cast<LPARAM>(&state));
    // The dialog could not be made, or ended some other way: the caller finds the model ended.
    if (result == -1 || !model.ended()) model.end_dialog(-1);
}

}  // namespace vrk::win32
