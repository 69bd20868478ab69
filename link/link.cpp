#include "link/link.h"

#include <algorithm>

#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::link {

bool add_send_hook(Link& link, SendHook& hook) {
    if (std::find(link.hooks.begin(), link.hooks.end(), &hook) != link.hooks.end()) return false;
    const auto free = std::find(link.hooks.begin(), link.hooks.end(), nullptr);
    if (free == link.hooks.end()) return false;
    *free = &hook;
    return true;
}

void remove_send_hook(Link& link, SendHook& hook) {
    std::replace(link.hooks.begin(), link.hooks.end(), &hook, static_cast<SendHook*>(nullptr));
}

void set_receive_hook(Link& link, ReceiveHook* hook) {
    link.capture.hook = hook;
    link.capture.size = 0;
    link.capture.cut = false;
}

std::uint32_t wire_time_ms(std::size_t wire_bytes, std::uint32_t baud) {
    if (baud == 0) return 0;
    const std::uint64_t bit_ms = std::uint64_t{wire_bytes} * BITS_PER_WIRE_BYTE * 1000;
    return static_cast<std::uint32_t>((bit_ms + baud - 1) / baud);
}

std::uint32_t later_tick(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(b - a) > 0 ? b : a;
}

std::uint32_t reply_received(Link& link, std::uint32_t departure) {
    const std::uint32_t now = link.clock.tick_ms();
    const auto lead = static_cast<std::int32_t>(departure - now);
    if (lead <= 0) return departure;
    link.line_free = later_tick(now, link.line_free - static_cast<std::uint32_t>(lead));
    return now;
}

void send_message(Link& link, std::span<const std::uint8_t> message) {
    if (message.empty() || link.sending) return;
    link.sending = true;
    // Taken before the write: a write that blocks until its bytes have gone and one that only
    // queues them must give the same time.
    const std::uint32_t start = link.clock.tick_ms();
    // The recorder sees the message as the program built it, before any wire byte goes out.
    for (SendHook* hook : link.hooks)
        if (hook != nullptr) hook->before_send(message);
    const std::size_t size = encode_frame(message, link.tx_buffer);
    const std::span<const std::uint8_t> wire(link.tx_buffer.data(), size);
    for (std::size_t at = 0; at < size && !link.port_lost; at += TX_WRITE_LIMIT) {
        const auto status = link.port->write(wire.subspan(at, std::min(TX_WRITE_LIMIT, size - at)));
        if (status == platform::IoStatus::lost) link.port_lost = true;
    }
    link.line_free = later_tick(start, link.line_free) + wire_time_ms(size, link.current_baud);
    // Told only now, with the frame on its way: a hook may open a box whose event loop keeps
    // the program running, and the message must not change under us meanwhile.
    for (SendHook* hook : link.hooks)
        if (hook != nullptr) hook->after_send(message, wire);
    link.sending = false;
}

void send_id_query(Link& link) {
    static constexpr std::array<std::uint8_t, 2> id_query = {messages::ID_MESSAGE, 0x00};
    send_message(link, id_query);
}

void start_link(Link& link) {
    link.port_lost = false;
    link.link_state = LINK_SEARCHING;
    link.current_baud = START_BAUD;
    link.reader = PortReader{};
    link.decoder = FrameDecoder{};
    // The first probe goes out at once, at 115200; the hunt moves on 300 ms later.
    const std::uint32_t now = link.clock.tick_ms();
    link.line_free = now;  // a new port: nothing of ours is on its line
    link.last_probe_time = now;
    link.next_probe_time = now + PROBE_INTERVAL_MS;
    send_id_query(link);
}

void mark_linked(Link& link) {
    if (link.link_state != LINK_SEARCHING) return;
    link.link_state = LINK_LINKED;
    if (link.observer != nullptr) link.observer->link_up(link.current_baud);
}

void mark_settings_loaded(Link& link) {
    const bool was_searching = link.link_state == LINK_SEARCHING;
    link.link_state = LINK_SETTINGS_LOADED;
    // A settings report that arrives while searching ends the hunt as well.
    if (was_searching && link.observer != nullptr) link.observer->link_up(link.current_baud);
}

void lose_link(Link& link, LinkLoss why) {
    if (link.link_state != LINK_SEARCHING) {
        // The probes keep their spacing: the next is due 300 ms after the last one, at once
        // when that has passed. The last probe may lie weeks back (when the link came up), so
        // the time since it is taken as an unsigned difference: right for 49 days, and past
        // that wrong by at most one spacing. A due time compared by signed difference instead
        // would read a probe more than 2^31 ms old as lying ahead and hold the hunt back.
        const std::uint32_t now = link.clock.tick_ms();
        const std::uint32_t since = now - link.last_probe_time;
        link.next_probe_time =
            since >= PROBE_INTERVAL_MS ? now : link.last_probe_time + PROBE_INTERVAL_MS;
    }
    link.link_state = LINK_SEARCHING;
    if (link.observer != nullptr) link.observer->link_lost(why);
}

}  // namespace vrk::link
