#include "link/poll_cycle.h"

#include <algorithm>
#include <array>
#include <span>

#include "device/context.h"
#include "device/control_ids.h"
#include "device/dispatcher.h"
#include "device/firmware_transfer.h"
#include "device/messages.h"
#include "link/frame_codec.h"

namespace vrk::link {

std::uint32_t next_baud(std::uint32_t baud) {
    const auto it = std::find(BAUD_TABLE.begin(), BAUD_TABLE.end(), baud);
    if (it == BAUD_TABLE.end() || it + 1 == BAUD_TABLE.end()) return BAUD_TABLE.front();
    return *(it + 1);
}

void send_id_query(Context& ctx) {
    static constexpr std::array<std::uint8_t, 2> id_query = {device::ID_MESSAGE, 0x00};
    send_message(ctx, id_query);
}

namespace {

// True once `now` has reached `due`. Compared by difference so that the 32-bit tick's wrap
// never holds a probe back for a whole wrap.
bool reached(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

}  // namespace

int poll_port(Context& ctx) {
    // 1. Drain: at most one message per cycle. The rest waits in the receive block or the
    // driver's queue and is decoded on the next tick.
    for (;;) {
        const int byte = port_read_byte(ctx.codec, ctx.port);
        if (byte < 0) break;
        const int length = frame_decoder(ctx.codec, static_cast<std::uint8_t>(byte));
        if (length > 0) {
            const int result = device::dispatch_message(
                ctx, std::span<std::uint8_t>(ctx.codec.rx_buffer.data(),
                                             static_cast<std::size_t>(length)));
            ctx.codec.rx_length = -1;
            return result;
        }
    }

    // 2. A running download or compare: page retry and the limit without progress.
    device::transfer_watchdog(ctx);

    // 3. The link.
    if (ctx.link.link_state == LINK_SEARCHING &&
        reached(ctx.clock.tick_ms(), ctx.link.next_probe_time)) {
        ctx.link.current_baud = next_baud(ctx.link.current_baud);
        (void)ctx.port.set_baud_rate(ctx.link.current_baud);
        send_id_query(ctx);
        ctx.link.next_probe_time = ctx.clock.tick_ms() + PROBE_INTERVAL_MS;
    }
    if (ctx.link.link_state != LINK_SEARCHING) {
        // A unit that is unplugged drops both lines. A port that cannot tell (a pseudo-terminal,
        // a failed read) changes nothing.
        const auto lines = ctx.port.modem_lines();
        if (lines && !lines->cts && !lines->dsr) reset_link_display(ctx);
    }
    return 0;
}

void reset_link_display(Context& ctx) {
    auto& window = ctx.main_window;
    if (ctx.link.link_state != LINK_SEARCHING) {
        // The last probe was sent when the link came up, perhaps weeks ago: the next one is
        // due now. Left as it was, a due time more than 2^31 ms old would read as lying in the
        // future and hold the hunt back for as long again.
        ctx.link.next_probe_time = ctx.clock.tick_ms();
    }
    ctx.link.link_state = LINK_SEARCHING;
    for (int id :
         {ids::FIRMWARE_VERSION, ids::FLASH_TYPE, ids::SERIAL_NUMBER, ids::CRYSTAL, ids::UNIT_ID})
        window.set_text(id, "");
    window.enable(ids::SEND_ID, false);
    for (int id : {ids::INTERNAL_DEVICE, ids::EXTERNAL_DEVICE, ids::GPS_TYPE})
        window.set_selection(id, -1);
    window.set_text(ids::STATUS, ESTABLISHING_LINK_TEXT);
    if (ctx.transfer.operation_start_time != 0) {
        // The unit has gone; a transfer in flight cannot finish. End it without a word: the
        // status line already says what happened.
        ctx.transfer.operation_start_time = 0;
        window.enable(ids::APPLICATION, true);
        window.enable(ids::DOWNLOAD, true);
        window.enable(ids::COMPARE, true);
    }
}

}  // namespace vrk::link
