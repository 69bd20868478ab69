// The program's outer lifetime: choose a port, open it, run a session in the main window until
// it closes, release everything in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::app {

// Fills the port list with the devices that open (each is closed again at once), sorted as
// text; item data is the index in `devices`. Returns false (after nothing was added) when no
// port opens.
bool fill_port_list(platform::ControlsModel& model, platform::PortProvider& ports,
                    std::vector<std::string>& devices);

// Command routing of the port dialog: OK and a double-click end it with the selected item's
// data, Cancel (and Escape) with -1.
void on_port_command(platform::ControlsModel& model, int id, platform::Notification notification);

struct StartupOptions {
    std::optional<std::string> port;  // skip the dialog and open this device
    std::string command_line;         // the image file name to preselect, possibly quoted
};

inline constexpr const char* NO_PORT_TEXT = "I can't find any available ports";
inline constexpr const char* NO_PORT_CAPTION = "Aborting...";

// Runs the program; returns the process exit code (0 on every path).
int run_program(platform::PortProvider& ports, platform::TickClock& clock,
                platform::FileSystem& files, platform::HostServices& host, DialogRunner& ui,
                const StartupOptions& options);

}  // namespace vrk::app
