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

// Fills the port list with the ports worth offering: those that open now, and those this user
// may not open (marked so, as choosing one explains the fix); a port another program holds is
// left out. Each entry is the device's name followed by what the system knows of it, sorted as
// text; item data is the index in `listed`. Returns false (after nothing was added) when there
// is no port to offer.
bool fill_port_list(platform::ControlsModel& model, platform::PortProvider& ports,
                    std::vector<platform::PortInfo>& listed);

// A port's entry in the list: "ttyUSB0  FTDI FT232R USB UART A600ABCD (0403:6001)", with the
// permission mark after the name when the user may not open it.
[[nodiscard]] std::string port_entry_text(const platform::PortInfo& port);

// Command routing of the port dialog: OK and a double-click end it with the selected item's
// data, Cancel (and Escape) with -1.
void on_port_command(platform::ControlsModel& model, int id, platform::Notification notification);

struct StartupOptions {
    std::optional<std::string> port;  // skip the dialog and open this device
    std::string command_line;         // the image file name to preselect, possibly quoted
};

inline constexpr const char* NO_PORT_TEXT = "I can't find any available ports";
inline constexpr const char* NO_PORT_CAPTION = "Aborting...";
inline constexpr const char* NO_PERMISSION_MARK = " (no permission)";

// Runs the program; returns the process exit code (0 on every path).
int run_program(platform::PortProvider& ports, platform::TickClock& clock,
                platform::FileSystem& files, platform::HostServices& host, DialogRunner& ui,
                const StartupOptions& options);

}  // namespace vrk::app
