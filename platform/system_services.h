// The services of the system this build is for, made by platform/posix/ or platform/win32/,
// whichever the build chose: a program that needs nothing particular of one system (the
// command-line tool) starts with these and includes no system's header.
//
// Threads: all four may be shared by sessions running on threads of their own, as the
// command-line tool shares them (each interface says how); what they hand out, a port above
// all, belongs to the session that asked for it.
#pragma once

#include <memory>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::platform {

struct SystemServices {
    std::unique_ptr<PortProvider> ports;
    std::unique_ptr<TickClock> clock;
    std::unique_ptr<FileSystem> files;
    std::unique_ptr<Console> console;
};

[[nodiscard]] SystemServices make_system_services();

}  // namespace vrk::platform
