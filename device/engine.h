// The device layer's state for one session: the transfer engine, the macro recorder and the
// observers, with the link and the platform services they use. The session (app/) owns one per
// port and runs it on the port's thread; nothing here is shared between sessions.
//
// The engine is the link's observer (a unit found or lost) and its poll client (messages to
// dispatch, quiet cycles for the transfer's time limits).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/events.h"
#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/link.h"
#include "link/poll_cycle.h"
#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/tick_clock.h"

namespace vrk::device {

struct Engine final : link::LinkObserver, link::PollClient {
    Engine(link::Link& link_, platform::TickClock& clock_, platform::FileSystem& files_,
           platform::HostServices& host_, platform::ControlsModel& window_);
    ~Engine() override;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    link::Link& link;
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::HostServices& host;
    platform::ControlsModel& main_window;

    TransferState transfer;
    RecorderState recorder;
    EventHub events;
    UnitPrompts* prompts = nullptr;  // none: mode reports are told to the observers only
    std::string port_name;           // for the texts that name the port

    // link::LinkObserver
    void link_up(std::uint32_t baud) override;
    void link_lost(link::LinkLoss why) override;
    // link::PollClient
    [[nodiscard]] int on_message(std::span<std::uint8_t> message) override;
    void on_quiet_cycle() override;
};

// Back to searching: empties the panel, shows "Establishing link to the VRK...", and ends a
// running transfer without a beep. Leaves the baud rate alone. The link is told first, so its
// observers (the engine's among them) see the loss.
void reset_link_display(Engine& engine, link::LinkLoss why = link::LinkLoss::mode_report);

// The port that was lost is open again and the hunt starts over: the status line says so again
// (unless an operation started meanwhile shows its own text).
void port_reopened(Engine& engine);

inline constexpr const char* ESTABLISHING_LINK_TEXT = "Establishing link to the VRK...";

}  // namespace vrk::device
