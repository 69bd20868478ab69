// The state of one running session: the link, the device engine and the window's poll guard,
// with the platform services they use. A session (app/session.h) owns one; every test makes a
// fresh one. There are no other globals, so sessions on several ports can run side by side,
// each on its own thread.
#pragma once

#include <cstdint>

#include "device/engine.h"
#include "link/link.h"
#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::app {

struct Context {
    Context(platform::SerialPort& port, platform::TickClock& clock_, platform::FileSystem& files_,
            platform::HostServices& host_, platform::ControlsModel& window_)
        : clock(clock_),
          files(files_),
          host(host_),
          main_window(window_),
          link(port, clock_),
          engine(link, clock_, files_, host_, window_) {}
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::HostServices& host;
    platform::ControlsModel& main_window;

    link::Link link;
    device::Engine engine;
    std::uint8_t poll_guard = 0;  // non-zero while a poll cycle runs
};

}  // namespace vrk::app
