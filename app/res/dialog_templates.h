// The two dialog templates, "SELECTPORT" and "MAIN", as data: every control's id, kind, text,
// style and place in dialog units. The Qt view builds its widgets from these and the core
// builds its controls model from them, so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/controls_model.h"

namespace vrk::res {

enum ControlStyle : std::uint32_t {
    STYLE_NONE = 0,
    STYLE_SORTED = 1u << 0,
    STYLE_DISABLED = 1u << 1,  // created disabled
    STYLE_TABSTOP = 1u << 2,
    STYLE_BORDER = 1u << 3,
    STYLE_VSCROLL = 1u << 4,
    STYLE_SUNKEN = 1u << 5,
    STYLE_NOPREFIX = 1u << 6,  // "&" shown literally
    STYLE_UPPERCASE = 1u << 7,
    STYLE_NOTIFY = 1u << 8,
    STYLE_NO_INTEGRAL_HEIGHT = 1u << 9,
    STYLE_HIDDEN = 1u << 10,  // created invisible
};

struct ControlTemplate {
    int id;  // ids::STATIC for labels
    platform::ControlKind kind;
    std::string_view text;
    std::uint32_t style;
    int x, y, width, height;  // dialog units
};

struct DialogTemplate {
    std::string_view name;
    std::string_view caption;
    std::string_view font_name;
    int font_points;
    int width, height;  // dialog units
    bool system_menu;
    bool minimize_box;
    std::span<const ControlTemplate> controls;
};

[[nodiscard]] const DialogTemplate& select_port_template();
[[nodiscard]] const DialogTemplate& main_template();

// The controls model of a dialog: one control per template control with an id.
void build_model(const DialogTemplate& dialog, platform::ControlsModel& model);

// Dialog units to pixels with the dialog font's metrics, as the platform does it.
[[nodiscard]] int dialog_x_to_pixels(int units, int average_char_width);
[[nodiscard]] int dialog_y_to_pixels(int units, int char_height);

}  // namespace vrk::res
