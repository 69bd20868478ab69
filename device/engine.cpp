#include "device/engine.h"

#include <memory>
#include <utility>

#include "device/dispatcher.h"
#include "device/format_text.h"
#include "platform/control_ids.h"

namespace vrk::device {

Engine::Engine(link::Link& link_, platform::TickClock& clock_, platform::FileSystem& files_,
               platform::HostServices& host_, platform::ControlsModel& window_)
    : link(link_), clock(clock_), files(files_), host(host_), main_window(window_) {
    link.observer = this;
    recorder.hook.engine = this;
    (void)link::add_send_hook(link, recorder.hook);
}

Engine::~Engine() {
    link::remove_send_hook(link, recorder.hook);
    if (link.observer == this) link.observer = nullptr;
}

void Engine::link_up(std::uint32_t baud) {
    events.link_up(baud);
}

void Engine::link_lost(link::LinkLoss why) {
    auto& window = main_window;
    for (int id :
         {ids::FIRMWARE_VERSION, ids::FLASH_TYPE, ids::SERIAL_NUMBER, ids::CRYSTAL, ids::UNIT_ID})
        window.set_text(id, "");
    window.enable(ids::SEND_ID, false);
    for (int id : {ids::INTERNAL_DEVICE, ids::EXTERNAL_DEVICE, ids::GPS_TYPE})
        window.set_selection(id, -1);
    if (why == link::LinkLoss::port_lost)
        events.status_changed(format_text(PORT_GONE_TEXT, port_name));
    else
        events.status_changed(ESTABLISHING_LINK_TEXT);
    end_by_link_loss(*this, why);
    events.link_lost(why);
}

int Engine::on_message(std::span<std::uint8_t> message) {
    return dispatch_message(*this, message);
}

void Engine::on_quiet_cycle() {
    transfer_watchdog(*this);
}

void port_reopened(Engine& engine) {
    if (!operation_running(engine.transfer)) engine.events.status_changed(ESTABLISHING_LINK_TEXT);
}

namespace {

// The link made anew from its constructor, so that every field, also one added later, starts
// from its default; only the wiring is carried over. Link holds a reference and cannot be
// assigned, so the new one is built in the old one's storage, where everyone who holds the link
// keeps finding it.
void renew_link(link::Link& old) {
    platform::SerialPort& port = *old.port;
    platform::TickClock& clock = old.clock;
    const bool port_lost = old.port_lost;
    const auto hooks = old.hooks;
    link::LinkObserver* const observer = old.observer;
    link::ReceiveHook* const receive_hook = old.capture.hook;
    std::destroy_at(&old);
    link::Link& fresh = *std::construct_at(&old, port, clock);
    fresh.port_lost = port_lost;
    fresh.hooks = hooks;
    fresh.observer = observer;
    link::set_receive_hook(fresh, receive_hook);
}

}  // namespace

void reset_engine(Engine& engine) {
    // Ended and closed through their own paths first, so the observers and the person hear of
    // it as they would of a Cancel and a Stop Recording.
    cancel_operation(engine);
    close_macro_file(engine);

    TransferState transfer;
    transfer.allocate_image = engine.transfer.allocate_image;
    engine.transfer = std::move(transfer);

    // The hook is assigned in place: the link holds its address.
    RecorderState recorder;
    recorder.hook.engine = &engine;
    engine.recorder = std::move(recorder);

    renew_link(engine.link);
}

void reset_link_display(Engine& engine, link::LinkLoss why) {
    link::lose_link(engine.link, why);
}

}  // namespace vrk::device
