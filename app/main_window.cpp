#include "app/main_window.h"

#include "app/res/dialog_templates.h"
#include "device/device_panel.h"
#include "device/engine.h"
#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/messages.h"
#include "link/poll_cycle.h"
#include "platform/control_ids.h"
#include "platform/path_names.h"

namespace vrk::app {

using platform::Notification;

const platform::ControlsModel& built_main_window() {
    static const platform::ControlsModel built = [] {
        platform::ControlsModel model;
        res::build_model(res::main_template(), model);
        device::fill_device_panel(model);
        return model;
    }();
    return built;
}

namespace {

std::string_view unquoted(std::string_view name) {
    if (!name.empty() && name.front() == '"') {
        // The closing quote is taken to be the last character. A lone quote leaves nothing.
        name.remove_prefix(1);
        if (!name.empty()) name.remove_suffix(1);
    }
    return name;
}

}  // namespace

std::string_view command_line_folder(std::string_view command_line) {
    return platform::directory_part(unquoted(command_line), platform::PathRule::command_line);
}

std::string_view command_line_file_name(std::string_view command_line) {
    const std::string_view name = unquoted(command_line);
    // The shell that starts us may hand over a path in either system's form, with a drive
    // ("C:\\images\\main.vr4") or without: everything up to the last colon, slash or
    // backslash is directory.
    return platform::file_name_part(name, platform::PathRule::command_line);
}

void init_main_window(Context& ctx, std::string_view command_line) {
    auto& window = ctx.main_window;
    window.set_command_sink([&ctx](int id, Notification n) { on_command(ctx, id, n); });

    device::init_macro_path(ctx.engine);

    for (const std::string& name : ctx.files.find_files(".vr4"))
        window.add_item(ids::APPLICATION, name);

    // An image named on the command line (a double-click on a .vr4 file) is preselected. That
    // alone does not enable Download: the user confirms the choice by picking it.
    const std::string_view name = command_line_file_name(command_line);
    if (!name.empty()) (void)window.select_by_text(ids::APPLICATION, name);

    // Download verifies unless the person unchecks it: the line has no checksum, and only a
    // compare of every page can tell a page that arrived damaged. No setting is kept between
    // runs, so every start begins checked.
    window.set_checked(ids::VERIFY, true);

    ctx.engine.events.status_changed(device::ESTABLISHING_LINK_TEXT);
}

void on_command(Context& ctx, int id, Notification notification) {
    auto& window = ctx.main_window;
    const bool selection_change = notification == Notification::selection_change;
    switch (id) {
        case ids::UNIT_ID:
            if (notification == Notification::edit_change)
                window.enable(ids::SEND_ID, !window.text(ids::UNIT_ID).empty());
            break;
        case ids::SEND_ID:
            device::send_unit_id(ctx.engine);
            break;
        case ids::INTERNAL_DEVICE:
            if (selection_change) device::send_internal_device(ctx.engine);
            break;
        case ids::EXTERNAL_DEVICE:
            if (selection_change) device::send_external_device(ctx.engine);
            break;
        case ids::GPS_TYPE:
            if (selection_change) device::send_gps_type(ctx.engine);
            break;
        case ids::EXIT:
            window.end_dialog(-1);
            break;
        case ids::QB7_MODE:
            device::send_request(ctx.engine, link::messages::ENTER_QB7_MODE);
            break;
        case ids::RUN_APPLICATION:
            device::send_request(ctx.engine, link::messages::RUN_APPLICATION);
            break;
        case ids::APPLICATION:
            if (selection_change) {
                window.enable(ids::DOWNLOAD, true);
                window.enable(ids::COMPARE, true);
            }
            break;
        case ids::DOWNLOAD:
            device::start_download(ctx.engine);
            break;
        case ids::COMPARE:
            device::start_compare(ctx.engine);
            break;
        case ids::RECORD:
            device::toggle_recording(ctx.engine);
            break;
        default:
            break;  // OK and Cancel among them: Escape does not close this window
    }
}

void on_timer_tick(Context& ctx) {
    // A message box opened inside a poll runs its own event loop, which keeps delivering
    // ticks. Those are dropped, never queued: the decoder's buffer must stay as the handler
    // that opened the box sees it.
    // The same for a box opened from inside a send (a macro write that failed during a button
    // press): a poll then could send, and the frame being sent would change under its hooks.
    if (ctx.link.sending) return;
    const std::uint8_t previous = ctx.poll_guard;
    ctx.poll_guard = static_cast<std::uint8_t>(previous + 1);
    if (ctx.poll_guard > 1) {
        ctx.poll_guard = previous;
        return;
    }
    if (link::poll_port(ctx.link, ctx.engine) != 0) ctx.main_window.end_dialog(-1);
    ctx.poll_guard = 0;
}

}  // namespace vrk::app
