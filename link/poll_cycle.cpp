#include "link/poll_cycle.h"

#include <algorithm>

#include "link/frame_codec.h"
#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace vrk::link {

std::uint32_t next_baud(std::uint32_t baud) {
    const auto it = std::find(BAUD_TABLE.begin(), BAUD_TABLE.end(), baud);
    if (it == BAUD_TABLE.end() || it + 1 == BAUD_TABLE.end()) return BAUD_TABLE.front();
    return *(it + 1);
}

namespace {

// Keeps the wire bytes of the frame being received for the receive hook: from FRAME_START on,
// as the decoder sees them. A frame longer than the buffer keeps its start and its last byte.
void capture_byte(RawCapture& capture, std::uint8_t byte) {
    if (byte == FRAME_START) {
        capture.size = 0;
        capture.cut = false;
    }
    if (capture.size < capture.bytes.size()) {
        capture.bytes[capture.size++] = byte;
    } else {
        capture.bytes[capture.size - 1] = byte;
        capture.cut = true;
    }
}

// True once `now` has reached `due`. Compared by difference so that the 32-bit tick's wrap
// never holds a probe back for a whole wrap.
bool reached(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

}  // namespace

int poll_port(Link& link, PollClient& client) {
    // Once the line has emptied, its free time follows the present, so that after weeks without
    // a write it is not a tick so old that it would read as lying ahead.
    const std::uint32_t now = link.clock.tick_ms();
    link.line_free = later_tick(now, link.line_free);
    if (link.port_lost) {
        client.on_quiet_cycle();
        return 0;
    }
    // 1. Drain: at most one message per cycle. The rest waits in the receive block or the
    // driver's queue and is decoded on the next tick.
    for (;;) {
        const int byte = port_read_byte(link.reader, *link.port);
        if (byte == PORT_LOST) {
            // The session learns of it as soon as this cycle returns.
            link.port_lost = true;
            return 0;
        }
        if (byte < 0) break;
        const auto b = static_cast<std::uint8_t>(byte);
        if (link.capture.hook != nullptr) capture_byte(link.capture, b);
        const auto message = frame_decoder(link.decoder, b);
        if (message.empty()) continue;
        if (link.capture.hook != nullptr) {
            // Before the handler: some handlers write into the message (the ID's terminator).
            link.capture.hook->on_receive(
                message,
                std::span<const std::uint8_t>(link.capture.bytes.data(), link.capture.size),
                link.capture.cut);
            link.capture.size = 0;
        }
        return client.on_message(message);
    }

    // 2. A running download or compare: page retry and the limit without progress.
    client.on_quiet_cycle();

    // 3. The link. A write of this cycle may have found the device gone.
    if (link.port_lost) return 0;
    if (link.link_state == LINK_SEARCHING && reached(link.clock.tick_ms(), link.next_probe_time)) {
        link.current_baud = next_baud(link.current_baud);
        (void)link.port->set_baud_rate(link.current_baud);
        link.last_probe_time = link.clock.tick_ms();
        send_id_query(link);
        link.next_probe_time = link.last_probe_time + PROBE_INTERVAL_MS;
    }
    if (link.link_state != LINK_SEARCHING) {
        // A unit that is unplugged drops both lines. A port that cannot tell (a pseudo-terminal,
        // a failed read) changes nothing.
        const auto lines = link.port->modem_lines();
        if (lines && !lines->cts && !lines->dsr) lose_link(link, LinkLoss::modem_lines);
    }
    return 0;
}

}  // namespace vrk::link
