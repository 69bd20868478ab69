#include "app/session.h"

#include <utility>

#include "app/main_window.h"
#include "device/firmware_transfer.h"
#include "device/macro_recorder.h"
#include "link/link.h"
#include "platform/control_ids.h"

namespace vrk::app {

Session::Session(std::unique_ptr<platform::SerialPort> port, std::string port_name,
                 SessionServices services, std::string_view command_line)
    : owned_port_(std::move(port)), port_(owned_port_.get()), port_name_(std::move(port_name)) {
    ctx_ =
        std::make_unique<Context>(*port_, services.clock, services.files, services.host, window_);
    start(command_line, services);
}

Session::Session(platform::SerialPort& port, std::string port_name, SessionServices services,
                 std::string_view command_line)
    : port_(&port), port_name_(std::move(port_name)) {
    ctx_ =
        std::make_unique<Context>(*port_, services.clock, services.files, services.host, window_);
    start(command_line, services);
}

Session::~Session() {
    shutdown();
}

void Session::start(std::string_view command_line, const SessionServices& services) {
    command_line_ = command_line;
    device::Engine& engine = ctx_->engine;
    engine.port_name = port_name_;
    window_ = built_main_window();
    window_events_ = std::make_unique<WindowEvents>(window_, ctx_->clock);
    window_prompts_ = std::make_unique<WindowPrompts>(ctx_->host);
    engine.events.add(*window_events_);
    engine.prompts = window_prompts_.get();

    if (services.before_start) services.before_start(*this);
    // The unit's line settings, DTR and RTS raised. A driver that refuses part of it leaves the
    // line as it is; the hunt finds out whether the unit answers.
    (void)port_->configure(link::START_BAUD);
    init_main_window(*ctx_, command_line);
    // The first probe of the baud hunt goes out at once, at 115200.
    link::start_link(ctx_->link);
}

void Session::restart() {
    device::reset_engine(ctx_->engine);
    // The model as built, whole, rather than tidied: nothing the unit or the user left in the
    // window (a value, a selection, a caption, a disabled button, an ended dialog) can outlive
    // the restart. Assigned over the old one, it mostly reuses the old one's storage.
    window_ = built_main_window();
    init_main_window(*ctx_, command_line_);
    if (!port_open_ || ctx_->link.port_lost) return;
    (void)port_->configure(link::START_BAUD);
    link::start_link(ctx_->link);
}

void Session::tick() {
    // A tick inside a poll or a send (a box opened by a handler or a hook) is dropped; the
    // port's lifetime waits for the poll or the send to end as well.
    if (ctx_->poll_guard != 0 || ctx_->link.sending) {
        on_timer_tick(*ctx_);
        return;
    }
    // A command's write may have found the device gone since the last tick.
    if (port_open_ && ctx_->link.port_lost) close_lost_port();
    on_timer_tick(*ctx_);
    if (port_open_ && ctx_->link.port_lost) close_lost_port();
    if (!port_open_) try_reopen();
}

void Session::close_lost_port() {
    // Closed before anyone hears of it: whatever the loss sets off, nothing more reaches the
    // dead device.
    port_->close();
    port_open_ = false;
    next_reopen_time_ = ctx_->clock.tick_ms() + REOPEN_INTERVAL_MS;
    link::lose_link(ctx_->link, link::LinkLoss::port_lost);
}

void Session::try_reopen() {
    if (!reopen_) return;
    const std::uint32_t now = ctx_->clock.tick_ms();
    // By difference: the tick wraps.
    if (static_cast<std::int32_t>(now - next_reopen_time_) < 0) return;
    next_reopen_time_ = now + REOPEN_INTERVAL_MS;
    platform::OpenResult opened = reopen_();
    // Not there yet, or not ours yet (the system still setting the node up): quietly, again in
    // a second.
    if (!opened.port) return;
    owned_port_ = std::move(opened.port);
    port_ = owned_port_.get();
    ctx_->link.port = port_;
    port_open_ = true;
    // As at start: the unit's line settings, and the hunt from 115200.
    (void)port_->configure(link::START_BAUD);
    device::port_reopened(ctx_->engine);
    link::start_link(ctx_->link);
}

void Session::set_reopen(PortOpener opener) {
    reopen_ = std::move(opener);
}

bool Session::unit_settings_shown() const {
    return ctx_->link.link_state == link::LINK_SETTINGS_LOADED &&
           !window_.text(ids::FIRMWARE_VERSION).empty() &&
           window_.selection(ids::EXTERNAL_DEVICE) >= 0;
}

void Session::set_prompts(device::UnitPrompts* prompts) {
    ctx_->engine.prompts = prompts != nullptr ? prompts : window_prompts_.get();
}

void Session::shutdown() {
    if (shut_down_) return;
    shut_down_ = true;
    device::close_macro_file(ctx_->engine);
    device::free_image(ctx_->engine);
    // A lost port is closed already: nothing more goes to it.
    if (port_open_) (void)port_->set_dtr_rts(false);
    port_->close();
}

}  // namespace vrk::app
