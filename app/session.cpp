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
    : owned_port_(std::move(port)), port_(*owned_port_), port_name_(std::move(port_name)) {
    ctx_ = std::make_unique<Context>(port_, services.clock, services.files, services.host, window_);
    start(command_line, services);
}

Session::Session(platform::SerialPort& port, std::string port_name, SessionServices services,
                 std::string_view command_line)
    : port_(port), port_name_(std::move(port_name)) {
    ctx_ = std::make_unique<Context>(port_, services.clock, services.files, services.host, window_);
    start(command_line, services);
}

Session::~Session() {
    shutdown();
}

void Session::start(std::string_view command_line, const SessionServices& services) {
    device::Engine& engine = ctx_->engine;
    engine.port_name = port_name_;
    build_main_window(window_);
    window_events_ = std::make_unique<WindowEvents>(window_, ctx_->clock);
    window_prompts_ = std::make_unique<WindowPrompts>(ctx_->host);
    engine.events.add(*window_events_);
    engine.prompts = window_prompts_.get();

    if (services.before_start) services.before_start(*this);
    // The unit's line settings, DTR and RTS raised. A driver that refuses part of it leaves the
    // line as it is; the hunt finds out whether the unit answers.
    (void)port_.configure(link::START_BAUD);
    init_main_window(*ctx_, command_line);
    // The first probe of the baud hunt goes out at once, at 115200.
    link::start_link(ctx_->link);
}

void Session::tick() {
    on_timer_tick(*ctx_);
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
    (void)port_.set_dtr_rts(false);
    port_.close();
}

}  // namespace vrk::app
