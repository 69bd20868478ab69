// The Windows program's resource script holds the dialog templates a second time, for the
// resource compiler: each dialog of the script must be its template, control by control.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/res/dialog_templates.h"
#include "vrk_version.h"

namespace vrk::res {
namespace {

using platform::ControlKind;

std::string rc_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// A caption that ends in the program's version takes it from vrk_version.h, as everything does.
std::string rc_caption(std::string_view caption) {
    const std::string_view version = VRK_VERSION_TEXT;
    if (!caption.ends_with(version)) return rc_string(caption);
    caption.remove_suffix(version.size());
    return rc_string(caption) + " VRK_VERSION_TEXT";
}

// The window class and the style a control of this kind is created with.
std::pair<std::string, std::string> class_and_style(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
        case ControlKind::static_text:
        case ControlKind::status_text:
            return {"Static", "SS_LEFTNOWORDWRAP"};
        case ControlKind::edit:
            return {"Edit", "ES_LEFT | ES_AUTOHSCROLL"};
        case ControlKind::push_button:
            return {"Button", "BS_PUSHBUTTON"};
        case ControlKind::default_push_button:
            return {"Button", "BS_DEFPUSHBUTTON"};
        case ControlKind::drop_down_list:
            return {"ComboBox", "CBS_DROPDOWNLIST"};
        case ControlKind::list_box:
            return {"ListBox", "LBS_HASSTRINGS"};
        case ControlKind::progress_bar:
            return {"msctls_progress32", "WS_CHILD"};
        case ControlKind::check_box:
            // Not BS_AUTOCHECKBOX: the model toggles the box and the dialog draws its state.
            return {"Button", "BS_CHECKBOX"};
    }
    return {};
}

std::string expected_dialog(const DialogTemplate& dialog) {
    std::string rc = std::string(dialog.name) + " DIALOGEX 0, 0, " + std::to_string(dialog.width) +
                     ", " + std::to_string(dialog.height) +
                     "\nSTYLE DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION";
    if (dialog.system_menu) rc += " | WS_SYSMENU";
    if (dialog.minimize_box) rc += " | WS_MINIMIZEBOX";
    rc += "\nCAPTION " + rc_caption(dialog.caption) + "\nFONT " +
          std::to_string(dialog.font_points) + ", " + rc_string(dialog.font_name) + "\nBEGIN\n";
    for (const ControlTemplate& c : dialog.controls) {
        auto [window_class, style] = class_and_style(c.kind);
        // Sorted lists are sorted by the model, not by the control (see the script's top).
        const std::pair<std::uint32_t, const char*> flags[] = {
            {STYLE_DISABLED, "WS_DISABLED"},
            {STYLE_TABSTOP, "WS_TABSTOP"},
            {STYLE_BORDER, "WS_BORDER"},
            {STYLE_VSCROLL, "WS_VSCROLL"},
            {STYLE_SUNKEN, "SS_SUNKEN"},
            {STYLE_NOPREFIX, "SS_NOPREFIX"},
            {STYLE_UPPERCASE, "ES_UPPERCASE"},
            {STYLE_NOTIFY, "LBS_NOTIFY"},
            {STYLE_NO_INTEGRAL_HEIGHT,
             c.kind == ControlKind::list_box ? "LBS_NOINTEGRALHEIGHT" : "CBS_NOINTEGRALHEIGHT"},
            {STYLE_HIDDEN, "NOT WS_VISIBLE"},
        };
        for (const auto& [flag, name] : flags)
            if ((c.style & flag) != 0) style += std::string(" | ") + name;
        rc += "    CONTROL " + rc_string(c.text) + ", " + std::to_string(c.id) + ", " +
              rc_string(window_class) + ", " + style + ", " + std::to_string(c.x) + ", " +
              std::to_string(c.y) + ", " + std::to_string(c.width) + ", " +
              std::to_string(c.height) + "\n";
    }
    return rc + "END\n";
}

std::string dialog_in_script(const std::string& script, std::string_view name) {
    const std::size_t start = script.find("\n" + std::string(name) + " DIALOGEX");
    if (start == std::string::npos) return {};
    const std::size_t end = script.find("\nEND\n", start);
    if (end == std::string::npos) return {};
    return script.substr(start + 1, end + 5 - (start + 1));
}

TEST(ResourceScript, EachDialogIsItsTemplate) {
    std::ifstream file(VRK_RESOURCE_SCRIPT, std::ios::binary);
    ASSERT_TRUE(file) << VRK_RESOURCE_SCRIPT;
    std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::erase(script, '\r');
    for (const DialogTemplate* dialog : {&select_port_template(), &main_template()}) {
        EXPECT_EQ(dialog_in_script(script, dialog->name), expected_dialog(*dialog))
            << "Bring " << VRK_RESOURCE_SCRIPT << " in line with the template above";
    }
}

}  // namespace
}  // namespace vrk::res
