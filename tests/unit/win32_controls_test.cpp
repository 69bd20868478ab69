// The system's list controls show the controls model's lists item for item. The model sorts by
// ASCII case folding and byte values; a list left to sort itself compares by the user's locale,
// so the dialog's lists do not sort and take each item at the model's index.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/control_mirror.h"
#include "platform/win32/wide_text.h"

namespace vrk::win32 {
namespace {

using platform::ControlKind;

struct Window {
    HWND handle;
    explicit Window(HWND h) : handle(h) {}
    ~Window() {
        if (handle != nullptr) ::DestroyWindow(handle);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
};

std::vector<std::wstring> shown_items(HWND list, bool combo) {
    std::vector<std::wstring> items;
    const auto count = ::SendMessageW(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        ::SendMessageW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

TEST(Win32Lists, ShowTheModelsOrderAndSelection) {
    const Window parent(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr,
                                          nullptr, nullptr, nullptr));
    ASSERT_NE(parent.handle, nullptr);
    // In the order a program adds them: punctuation, case and a Hebrew row (code page 1255).
    const std::vector<std::string> added = {"b-2", "B_1", "a", "_x", "\xF8\xE1", "A+"};
    for (const bool combo : {true, false}) {
        SCOPED_TRACE(combo ? "combo box" : "list box");
        const DWORD style = WS_CHILD | WS_VSCROLL | (combo ? CBS_DROPDOWNLIST : LBS_NOTIFY);
        const Window list(::CreateWindowExW(0, combo ? L"COMBOBOX" : L"LISTBOX", L"", style, 0, 0,
                                            100, 100, parent.handle, nullptr, nullptr, nullptr));
        ASSERT_NE(list.handle, nullptr);
        platform::ControlsModel model;
        platform::Control control;
        control.id = 1;
        control.kind = combo ? ControlKind::drop_down_list : ControlKind::list_box;
        control.sorted = true;
        model.add_control(control);
        for (const std::string& text : added) model.add_item(1, text);
        model.select_by_text(1, "B");
        mirror_control(*model.find(1), list.handle);

        std::vector<std::wstring> expected;
        for (int i = 0; i < model.item_count(1); ++i)
            expected.push_back(platform::win32::to_wide(model.item_text(1, i)));
        EXPECT_EQ(shown_items(list.handle, combo), expected);
        const auto selected =
            ::SendMessageW(list.handle, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
        EXPECT_EQ(selected, model.selection(1));
        EXPECT_EQ(model.text(1), "b-2");

        // The user's choice is reported by index, which names the same item in the model.
        model.user_select(1, 4);
        mirror_control(*model.find(1), list.handle);
        EXPECT_EQ(::SendMessageW(list.handle, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0), 4);
    }
}

TEST(Win32CheckBox, ShowsTheModelsStateAndLeavesTheToggleToTheModel) {
    const Window parent(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr,
                                          nullptr, nullptr, nullptr));
    ASSERT_NE(parent.handle, nullptr);
    // As the resource script makes it: the plain style, which does not toggle itself.
    const Window box(::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | BS_CHECKBOX | WS_TABSTOP, 0, 0,
                                       100, 20, parent.handle, nullptr, nullptr, nullptr));
    ASSERT_NE(box.handle, nullptr);
    platform::ControlsModel model;
    platform::Control control;
    control.id = 1;
    control.kind = ControlKind::check_box;
    control.text = "&Verify";
    model.add_control(control);

    const auto shown_checked = [&] {
        return ::SendMessageW(box.handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    struct Step {
        const char* what;
        bool click;    // the person clicks (BN_CLICKED goes to the model), else the program sets
        bool checked;  // the model's state afterwards, and what the box shows once mirrored
    };
    const Step steps[] = {
        {"the program checks it", false, true},
        {"a click unchecks it", true, false},
        {"a click checks it again", true, true},
        {"the program unchecks it", false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.click) {
            // The system's click leaves a BS_CHECKBOX as it was; only the model toggles.
            const bool before = shown_checked();
            ::SendMessageW(box.handle, BM_CLICK, 0, 0);
            EXPECT_EQ(shown_checked(), before);
            model.user_click(1);
        } else {
            model.set_checked(1, step.checked);
        }
        mirror_control(*model.find(1), box.handle);
        EXPECT_EQ(model.is_checked(1), step.checked);
        EXPECT_EQ(shown_checked(), step.checked);
    }
    EXPECT_EQ(window_text(box.handle), L"&Verify");
}

}  // namespace
}  // namespace vrk::win32
