#include "app/startup.h"

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

bool fill_port_list(platform::ControlsModel& model, platform::PortProvider& ports,
                    std::vector<std::string>& devices) {
    devices.clear();
    for (const std::string& device : ports.candidate_ports()) {
        // A port that opens is free now; one in use elsewhere fails and is not offered.
        platform::OpenResult opened = ports.open(device);
        if (!opened.port) continue;
        opened.port->close();
        const int index = model.add_item(ids::PORT_LIST, std::string(platform::file_name_part(
                                                             device, platform::PathRule::slash)));
        model.set_item_data(ids::PORT_LIST, index, static_cast<std::uint32_t>(devices.size()));
        devices.push_back(device);
    }
    if (devices.empty()) return false;
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
    // 1-2. Choose and open the port.
    std::string device;
    if (options.port) {
        device = *options.port;
    } else {
        platform::ControlsModel chooser;
        res::build_model(res::select_port_template(), chooser);
        std::vector<std::string> devices;
        if (!fill_port_list(chooser, ports, devices)) {
            (void)host.message_box(NO_PORT_TEXT, NO_PORT_CAPTION, platform::MessageButtons::ok,
                                   platform::MessageIcon::error);
            return 0;
        }
        chooser.set_command_sink(
            [&chooser](int id, Notification n) { on_port_command(chooser, id, n); });
        ui.run_port_selection(chooser);
        const int chosen = chooser.result();
        if (chosen < 0 || static_cast<std::size_t>(chosen) >= devices.size()) return 0;
        device = devices[static_cast<std::size_t>(chosen)];
    }
    platform::OpenResult opened = ports.open(device);
    if (!opened.port) {
        // Taken, unplugged or forbidden since the list was made, or a bad --port: say which,
        // with the fix where there is one, rather than vanish without a word.
        show_port_error(host, opened.error, device);
        return 0;
    }
    // The session configures the line, initialises the window and sends the first probe.
    Session session(std::move(opened.port), device, SessionServices{clock, files, host},
                    options.command_line);
    // A port that goes away (an adapter pulled out) is opened again by the same name.
    session.set_reopen([&ports, device] { return ports.open(device); });
    ui.run_main_window(session);
    // Releases in order: the macro file, the image, DTR and RTS, the port.
    session.shutdown();
    return 0;
}

}  // namespace vrk::app
