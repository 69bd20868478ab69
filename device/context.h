// The one object that owns the state of the link and device layers together with the platform
// services they use. Start-up creates one per run; every test creates a fresh one. There are
// no other globals.
#pragma once

#include <cstdint>

#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/frame_codec.h"
#include "link/poll_cycle.h"
#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk {

struct Context {
    Context(platform::SerialPort& port_, platform::TickClock& clock_, platform::FileSystem& files_,
            platform::HostServices& host_, platform::ControlsModel& window_)
        : port(port_), clock(clock_), files(files_), host(host_), main_window(window_) {}
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::SerialPort& port;
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::HostServices& host;
    platform::ControlsModel& main_window;

    link::CodecState codec;
    link::LinkState link;
    std::uint8_t poll_guard = 0;  // non-zero while a poll cycle runs
    device::TransferState transfer;
    device::RecorderState recorder;
};

}  // namespace vrk
