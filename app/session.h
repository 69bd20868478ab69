// One session: one port, one unit, one main window model. The only start-up path of the
// program: the window, the command-line tool, the end-to-end tests and the benchmarks all make
// their sessions here, so all of them run the same engine exactly as started.
//
// A session is single-threaded: construct it, tick it and shut it down on one thread. Sessions
// share nothing, so several can run on threads of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/front_end.h"
#include "app/window_events.h"
#include "platform/controls_model.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::app {

class Session;

struct SessionServices {
    platform::TickClock& clock;
    platform::FileSystem& files;
    platform::HostServices& host;
    // Called once the session's link exists and before its first byte goes out: where a trace
    // of the wire attaches, so that it sees the first probe too.
    std::function<void(Session&)> before_start = {};
};

class Session final : public MainWindowDriver {
  public:
    // Opens the session's port again after it was lost (the same device, by the name that finds
    // it again: the name the user gave, or the port's stable name).
    using PortOpener = std::function<platform::OpenResult()>;

    // How often a lost port is tried again.
    static constexpr std::uint32_t REOPEN_INTERVAL_MS = 1000;

    // Starts a session on an open port, in this order: the unit's line settings (115200 baud,
    // 8N1, no flow control, DTR and RTS raised), the main window's model built and initialised
    // (image list, the command line's preselection, "Establishing link to the VRK..."), and the
    // first probe of the baud hunt. `port_name` is what texts call the port.
    Session(std::unique_ptr<platform::SerialPort> port, std::string port_name,
            SessionServices services, std::string_view command_line = {});
    // The same on a port the caller keeps (the tests' fakes).
    Session(platform::SerialPort& port, std::string port_name, SessionServices services,
            std::string_view command_line = {});
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // MainWindowDriver
    [[nodiscard]] platform::ControlsModel& window() override { return window_; }
    // One timer tick: the poll cycle, and the port's lifetime. When the port reports the device
    // gone, the port is closed at once and the loss told once (the panel cleared, "The port ...
    // is gone: reconnect the cable", a running download or compare ended with a beep). From
    // then on the opener is tried once a second, quietly; a port that opens is configured as at
    // start and the hunt starts over.
    void tick() override;
    [[nodiscard]] bool unit_settings_shown() const override;

    // Starts the session over on its port, as if it had just been made: the engine reset
    // (device::reset_engine: a running download or compare interrupted, an open macro file
    // closed, the image freed, the link searching with nothing half-received), the main window's
    // model back to the window as built and initialised anew from the same command line (the
    // image list read again), the line settings applied again and the first probe sent at
    // 115200. Kept: the port and the services, the observers,
    // hooks and prompts, the reopener. A view bound to the window redraws it whole (the model's
    // revisions start over). On a port found gone the hunt starts once the port is open again,
    // as after any loss. Not to be called from inside a tick or a command.
    void restart();

    // Ends the session, in this order: the macro file closed (its records are the user's work),
    // the image freed, DTR and RTS dropped so the unit sees the host go, the port closed.
    // Idempotent; the destructor calls it.
    void shutdown();

    [[nodiscard]] Context& context() { return *ctx_; }
    [[nodiscard]] device::Engine& engine() { return ctx_->engine; }
    [[nodiscard]] const std::string& port_name() const { return port_name_; }

    // How to open the port again after a loss. Without one a lost port stays closed.
    void set_reopen(PortOpener opener);
    // False from the loss of the port until it is open again.
    [[nodiscard]] bool port_open() const { return port_open_; }

    // Replaces the window's boxes for the unit's mode reports (the command-line tool answers
    // them itself). Null restores the window's.
    void set_prompts(device::UnitPrompts* prompts);

  private:
    void start(std::string_view command_line, const SessionServices& services);
    void close_lost_port();
    void try_reopen();

    std::unique_ptr<platform::SerialPort> owned_port_;
    platform::SerialPort* port_;
    bool port_open_ = true;
    PortOpener reopen_;
    std::uint32_t next_reopen_time_ = 0;
    std::string port_name_;
    std::string command_line_;  // kept for a restart
    platform::ControlsModel window_;
    // Declared before the context: the engine in it points at them, so they must outlive it.
    std::unique_ptr<WindowEvents> window_events_;
    std::unique_ptr<WindowPrompts> window_prompts_;
    std::unique_ptr<Context> ctx_;
    bool shut_down_ = false;
};

}  // namespace vrk::app
