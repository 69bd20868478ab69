#include "app/win32/control_mirror.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/wide_text.h"

namespace vrk::win32 {

using platform::ControlKind;

std::wstring window_text(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int got = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

namespace {

void set_text(HWND control, const std::wstring& text) {
    if (window_text(control) != text) ::SetWindowTextW(control, text.c_str());
}

// The list messages of a list box and of a combo box, which differ only in their numbers.
struct ListMessages {
    UINT count, get_text_length, get_text, insert, reset, set_selection, get_selection;
};
constexpr ListMessages LIST_BOX{LB_GETCOUNT,     LB_GETTEXTLEN, LB_GETTEXT,  LB_INSERTSTRING,
                                LB_RESETCONTENT, LB_SETCURSEL,  LB_GETCURSEL};
constexpr ListMessages COMBO_BOX{CB_GETCOUNT,     CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_INSERTSTRING,
                                 CB_RESETCONTENT, CB_SETCURSEL,    CB_GETCURSEL};

std::wstring item_text(HWND list, const ListMessages& m, int index) {
    const LRESULT length = ::SendMessageW(list, m.get_text_length, static_cast<WPARAM>(index), 0);
    if (length < 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = ::SendMessageW(list, m.get_text, static_cast<WPARAM>(index),
                                       reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
    return text;
}

// The items are inserted at the model's indices into a control that does not sort: the model's
// order (ASCII case folded, byte values beyond) is the one the program's selections and item
// data refer to, and the system's locale-aware sort would order punctuation and Hebrew apart.
void draw_list(HWND list, const ListMessages& m, const platform::Control& control) {
    bool same = ::SendMessageW(list, m.count, 0, 0) == static_cast<LRESULT>(control.items.size());
    for (std::size_t i = 0; same && i < control.items.size(); ++i)
        same = item_text(list, m, static_cast<int>(i)) ==
               platform::win32::to_wide(control.items[i].text);
    if (!same) {
        ::SendMessageW(list, m.reset, 0, 0);
        for (std::size_t i = 0; i < control.items.size(); ++i) {
            const std::wstring text = platform::win32::to_wide(control.items[i].text);
            ::SendMessageW(list, m.insert, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
    if (::SendMessageW(list, m.get_selection, 0, 0) != control.selection)
        ::SendMessageW(list, m.set_selection, static_cast<WPARAM>(control.selection), 0);
}

}  // namespace

void mirror_control(const platform::Control& control, HWND widget) {
    if ((::IsWindowEnabled(widget) != FALSE) != control.enabled)
        ::EnableWindow(widget, control.enabled ? TRUE : FALSE);
    const bool visible = (::GetWindowLongW(widget, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != control.visible) ::ShowWindow(widget, control.visible ? SW_SHOWNA : SW_HIDE);

    switch (control.kind) {
        case ControlKind::label:
        case ControlKind::static_text:
        case ControlKind::status_text:
        case ControlKind::push_button:
        case ControlKind::default_push_button:
            set_text(widget, platform::win32::to_wide(control.text));
            break;
        case ControlKind::edit: {
            // The box holds the unit's ID as the unit's bytes. A text the program sets may be
            // longer than the typing limit, as the system's edit box allows; it is shown whole.
            const std::wstring text = platform::win32::unit_text_to_wide(control.text);
            const std::size_t limit =
                control.text_limit == 0 ? 0 : std::max(control.text_limit, text.size());
            ::SendMessageW(widget, EM_LIMITTEXT, limit, 0);
            set_text(widget, text);
            ::SendMessageW(widget, EM_SETSEL, static_cast<WPARAM>(control.edit_sel_start),
                           static_cast<LPARAM>(control.edit_sel_end));
            break;
        }
        case ControlKind::drop_down_list:
            draw_list(widget, COMBO_BOX, control);
            break;
        case ControlKind::list_box:
            draw_list(widget, LIST_BOX, control);
            break;
        case ControlKind::check_box: {
            set_text(widget, platform::win32::to_wide(control.text));
            const WPARAM state = control.checked ? BST_CHECKED : BST_UNCHECKED;
            if (static_cast<WPARAM>(::SendMessageW(widget, BM_GETCHECK, 0, 0)) != state)
                ::SendMessageW(widget, BM_SETCHECK, state, 0);
            break;
        }
        case ControlKind::progress_bar: {
            // A range of 0 would leave the bar without one.
            const auto range = static_cast<LPARAM>(std::max<std::uint32_t>(control.range, 1));
            ::SendMessageW(widget, PBM_SETRANGE32, 0, range);
            ::SendMessageW(widget, PBM_SETPOS, control.position, 0);
            break;
        }
    }
}

}  // namespace vrk::win32
