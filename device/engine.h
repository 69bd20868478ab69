// The device layer's state for one session: the transfer engine, the macro recorder and the
// observers, with the link and the platform services they use. The session (app/) owns one per
// port and runs it on the port's thread; nothing here is shared between sessions.
//
// The engine is the link's observer (a unit found or lost) and its poll client (messages to
// dispatch, quiet cycles for the transfer's time limits).
//
// Its state lives in sub-states (the link, TransferState, RecorderState) that reset_engine
// rebuilds by value; state added to the engine belongs in one of them, or reset_engine must
// name it.
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

// Puts the engine and its link back where a newly made session has them, whatever the unit, the
// line or the user left behind:
//  - a running download or compare ends as the Cancel command ends it ("<image>: interrupted",
//    a beep, the observers told); nothing more is sent for it;
//  - an open macro file is closed (its records are the user's work; a close that fails is
//    reported as a write error); the macro path is empty until the window proposes one;
//  - the image is freed, so a late reply from the unit finds nothing to take up;
//  - the link is searching at 115200 with no frame open, an empty receive block and no raw
//    capture; its hunt is not started.
// The link, TransferState and RecorderState are rebuilt by value from their defaults, so state
// added to them later starts over as well. What survives is the wiring: the platform services,
// the port (and whether it has been found gone: only a port opened again clears that), the
// observers and the unit prompts, the send hooks and the receive hook, the port's name and the
// image allocator.
// Sends nothing: link::start_link begins the hunt (app::Session::restart does both). Not to be
// called inside a poll cycle or a send: the message being handled lives in the link.
void reset_engine(Engine& engine);

// The port that was lost is open again and the hunt starts over: the status line says so again
// (unless an operation started meanwhile shows its own text).
void port_reopened(Engine& engine);

inline constexpr const char* ESTABLISHING_LINK_TEXT = "Establishing link to the VRK...";

}  // namespace vrk::device
