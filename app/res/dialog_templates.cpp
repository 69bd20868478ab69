#include "app/res/dialog_templates.h"

#include "platform/control_ids.h"
#include "vrk_version.h"

namespace vrk::res {

namespace {

using platform::ControlKind;
namespace id = vrk::ids;

constexpr std::uint32_t LIST_STYLE = STYLE_SORTED | STYLE_TABSTOP | STYLE_VSCROLL;

// The port list is wider than the unit's program had it (112 units): each entry carries what the
// system knows of the port after its name, and "ttyUSB0  FTDI FT232R USB UART A600ABCD
// (0403:6001)" must fit beside the scroll bar, or two adapters look alike. The buttons keep
// their order, size and spacing to the right of it.
constexpr ControlTemplate select_port_controls[] = {
    {id::PORT_LIST, ControlKind::list_box, "",
     STYLE_SORTED | STYLE_NOTIFY | STYLE_VSCROLL | STYLE_BORDER | STYLE_TABSTOP |
         STYLE_NO_INTEGRAL_HEIGHT,
     7, 7, 216, 81},
    {id::OK, ControlKind::default_push_button, "OK", STYLE_TABSTOP, 233, 7, 50, 14},
    {id::CANCEL, ControlKind::push_button, "Cancel", STYLE_TABSTOP, 233, 24, 50, 14},
};

constexpr ControlTemplate main_controls[] = {
    {id::STATIC, ControlKind::label, "Firmware Version:", STYLE_NONE, 7, 7, 56, 8},
    {id::FIRMWARE_VERSION, ControlKind::static_text, "", STYLE_NONE, 65, 7, 23, 8},
    {id::STATIC, ControlKind::label, "Flash Type:", STYLE_NONE, 93, 7, 38, 8},
    {id::FLASH_TYPE, ControlKind::static_text, "", STYLE_NONE, 133, 7, 23, 8},
    {id::STATIC, ControlKind::label, "Serial Number:", STYLE_NONE, 7, 17, 47, 8},
    {id::SERIAL_NUMBER, ControlKind::static_text, "", STYLE_NONE, 56, 17, 25, 8},
    {id::STATIC, ControlKind::label, "Crystal:", STYLE_NONE, 93, 17, 24, 8},
    {id::CRYSTAL, ControlKind::static_text, "", STYLE_NONE, 120, 17, 42, 8},
    {id::STATIC, ControlKind::label, "&ID:", STYLE_NONE, 20, 31, 10, 8},
    {id::UNIT_ID, ControlKind::edit, "", STYLE_UPPERCASE | STYLE_TABSTOP | STYLE_BORDER, 33, 29, 65,
     12},
    {id::SEND_ID, ControlKind::push_button, "&Send", STYLE_DISABLED | STYLE_TABSTOP, 105, 28, 24,
     14},
    {id::STATIC, ControlKind::label, "&GPS:", STYLE_NONE, 20, 46, 18, 8},
    {id::GPS_TYPE, ControlKind::drop_down_list, "", LIST_STYLE, 41, 44, 76, 106},
    {id::STATIC, ControlKind::label, "I&nternal Device:", STYLE_NONE, 20, 61, 51, 8},
    {id::INTERNAL_DEVICE, ControlKind::drop_down_list, "", LIST_STYLE, 74, 59, 76, 106},
    {id::STATIC, ControlKind::label, "&External Device:", STYLE_NONE, 20, 76, 53, 8},
    {id::EXTERNAL_DEVICE, ControlKind::drop_down_list, "", LIST_STYLE, 76, 74, 90, 106},
    {id::STATIC, ControlKind::label, "&Application:", STYLE_NONE, 20, 91, 38, 8},
    {id::APPLICATION, ControlKind::drop_down_list, "", LIST_STYLE, 64, 89, 79, 92},
    {id::DOWNLOAD, ControlKind::push_button, "&Download", STYLE_DISABLED | STYLE_TABSTOP, 147, 89,
     39, 14},
    {id::COMPARE, ControlKind::push_button, "Co&mpare", STYLE_DISABLED | STYLE_TABSTOP, 190, 89, 33,
     14},
    // Right of the external device list, above Compare, in the column of the buttons: the room
    // the window had there. Next after Compare in the tab order, beside the transfer it governs.
    {id::VERIFY, ControlKind::check_box, "&Verify", STYLE_TABSTOP, 168, 75, 55, 10},
    // The status line spans the window from its left margin to the buttons' right edge, wider
    // than the unit's program had it (20, 189 units): "... has been downloaded and verified
    // successfully", the end of every default Download, must be read whole.
    {id::STATUS, ControlKind::status_text, "", STYLE_SUNKEN | STYLE_NOPREFIX, 7, 111, 216, 10},
    {id::EXIT, ControlKind::push_button, "E&xit", STYLE_TABSTOP, 168, 7, 55, 14},
    {id::QB7_MODE, ControlKind::push_button, "Q&B7 Mode", STYLE_TABSTOP, 168, 23, 55, 14},
    {id::RUN_APPLICATION, ControlKind::push_button, "&Run Application", STYLE_TABSTOP, 168, 39, 55,
     14},
    {id::RECORD, ControlKind::push_button, "Re&cord...", STYLE_TABSTOP, 168, 55, 55, 14},
    // Under the status line, in the room the window had below it: pages done of the image's
    // pages and the time left, while a download or compare runs.
    {id::PROGRESS, ControlKind::progress_bar, "", STYLE_HIDDEN | STYLE_BORDER, 7, 125, 105, 9},
    {id::PROGRESS_TEXT, ControlKind::static_text, "", STYLE_HIDDEN, 116, 126, 107, 8},
};

}  // namespace

const DialogTemplate& select_port_template() {
    static constexpr DialogTemplate dialog{
        "SELECTPORT",          "Select COMM Port",     "MS Sans Serif",     8, 290, 95,
        /*system_menu=*/false, /*minimize_box=*/false, select_port_controls};
    return dialog;
}

const DialogTemplate& main_template() {
    static constexpr DialogTemplate dialog{"MAIN",
                                           "VRK 700 Configuration " VRK_VERSION_TEXT,
                                           "MS Sans Serif",
                                           8,
                                           227,
                                           148,
                                           /*system_menu=*/true,
                                           /*minimize_box=*/true,
                                           main_controls};
    return dialog;
}

void build_model(const DialogTemplate& dialog, platform::ControlsModel& model) {
    for (const ControlTemplate& t : dialog.controls) {
        if (t.id == ids::STATIC) continue;
        platform::Control c;
        c.id = t.id;
        c.kind = t.kind;
        c.text = std::string(t.text);
        c.enabled = (t.style & STYLE_DISABLED) == 0;
        c.sorted = (t.style & STYLE_SORTED) != 0;
        c.uppercase = (t.style & STYLE_UPPERCASE) != 0;
        c.visible = (t.style & STYLE_HIDDEN) == 0;
        model.add_control(std::move(c));
    }
}

// Rounded to the nearest pixel, as the platform's multiply-then-divide does.
int dialog_x_to_pixels(int units, int average_char_width) {
    return (units * average_char_width + 2) / 4;
}
int dialog_y_to_pixels(int units, int char_height) {
    return (units * char_height + 4) / 8;
}

}  // namespace vrk::res
