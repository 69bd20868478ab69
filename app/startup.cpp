#include "app/startup.h"

#include <algorithm>
#include <utility>

#include "app/main_window.h"
#include "app/res/dialog_templates.h"
#include "app/session.h"
#include "platform/control_ids.h"
#include "platform/path_names.h"

namespace vrk::app {

using platform::Notification;

namespace {

void show_port_error(platform::HostServices& host, platform::PortError error,
                     const std::string& device) {
    (void)host.message_box(platform::describe_port_error(error, device), NO_PORT_CAPTION,
                           platform::MessageButtons::ok, platform::MessageIcon::error);
}

}  // namespace

std::string port_entry_text(const platform::PortInfo& port) {
    std::string text(platform::file_name_part(port.device, platform::PathRule::slash));
    if (port.access == platform::PortError::access_denied) text += NO_PERMISSION_MARK;
    if (!port.description.empty()) text += "  " + port.description;
    return text;
}

bool fill_port_list(platform::ControlsModel& model, platform::PortProvider& ports,
                    std::vector<platform::PortInfo>& listed) {
    listed.clear();
    for (platform::PortInfo& port : ports.list_ports()) {
        // A port in use elsewhere cannot be had now; one the user may not open is offered, so
        // that choosing it explains why and how to fix it.
        if (port.access != platform::PortError::none &&
            port.access != platform::PortError::access_denied)
            continue;
        const int index = model.add_item(ids::PORT_LIST, port_entry_text(port));
        model.set_item_data(ids::PORT_LIST, index, static_cast<std::uint32_t>(listed.size()));
        listed.push_back(std::move(port));
    }
    if (listed.empty()) return false;
    model.set_selection(ids::PORT_LIST, 0);
    return true;
}

void on_port_command(platform::ControlsModel& model, int id, Notification notification) {
    const auto choose = [&model] {
        const int index = model.selection(ids::PORT_LIST);
        model.end_dialog(index < 0 ? -1 : static_cast<int>(model.item_data(ids::PORT_LIST, index)));
    };
    switch (id) {
        case ids::OK:
            choose();
            break;
        case ids::CANCEL:
            model.end_dialog(-1);
            break;
        case ids::PORT_LIST:
            if (notification == Notification::double_clicked) choose();
            break;
        default:
            break;
    }
}

int run_program(platform::PortProvider& ports, platform::TickClock& clock,
                platform::FileSystem& files, platform::HostServices& host, DialogRunner& ui,
                const StartupOptions& options) {
    // 1-2. Choose and open the port. The name the port is opened again by after it went away:
    // the one the user gave (a symbolic link stays one), or the listed port's stable name.
    std::string device;
    std::string reopen_name;
    if (options.port) {
        device = *options.port;
        reopen_name = device;
    } else {
        platform::ControlsModel chooser;
        res::build_model(res::select_port_template(), chooser);
        std::vector<platform::PortInfo> listed;
        if (!fill_port_list(chooser, ports, listed)) {
            (void)host.message_box(NO_PORT_TEXT, NO_PORT_CAPTION, platform::MessageButtons::ok,
                                   platform::MessageIcon::error);
            return 0;
        }
        const bool none_allowed =
            std::all_of(listed.begin(), listed.end(), [](const platform::PortInfo& port) {
                return port.access == platform::PortError::access_denied;
            });
        if (none_allowed) {
            // Nothing to choose that would open: say why, and the fix, at once.
            std::vector<std::string> names;
            for (const auto& port : listed) names.push_back(port.device);
            std::sort(names.begin(), names.end());
            std::string all;
            for (const auto& name : names) all += (all.empty() ? "" : ", ") + name;
            show_port_error(host, platform::PortError::access_denied, all);
            return 0;
        }
        chooser.set_command_sink(
            [&chooser](int id, Notification n) { on_port_command(chooser, id, n); });
        ui.run_port_selection(chooser);
        const int chosen = chooser.result();
        if (chosen < 0 || static_cast<std::size_t>(chosen) >= listed.size()) return 0;
        const platform::PortInfo& port = listed[static_cast<std::size_t>(chosen)];
        device = port.device;
        reopen_name = port.stable_name.empty() ? port.device : port.stable_name;
    }
    platform::OpenResult opened = ports.open(device);
    if (!opened.port) {
        // Forbidden (a port listed as such), taken or unplugged since the list was made, or a bad
        // --port: say which, with the fix where there is one, rather than vanish without a word.
        show_port_error(host, opened.error, device);
        return 0;
    }
    // Started from the desktop's menu or by opening a file there, the current folder is the
    // home folder. An image named with its folder makes the window work in that folder: its
    // list shows that folder's images with the named one preselected, and macro files are
    // proposed there.
    std::string command_line = options.command_line;
    const std::string_view folder = command_line_folder(command_line);
    if (!folder.empty() && files.change_directory(std::string(folder)))
        command_line = std::string(command_line_file_name(command_line));
    // The session configures the line, initialises the window and sends the first probe.
    Session session(std::move(opened.port), device, SessionServices{clock, files, host},
                    command_line);
    // A port that goes away (an adapter pulled out) is opened again when it comes back.
    session.set_reopen([&ports, reopen_name] { return ports.open(reopen_name); });
    ui.run_main_window(session);
    // Releases in order: the macro file, the image, DTR and RTS, the port.
    session.shutdown();
    return 0;
}

}  // namespace vrk::app
