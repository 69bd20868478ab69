// The body of every timer tick: drain the port through the decoder, dispatch at most one
// message, supervise a running transfer, and keep the link: hunt the unit's baud rate while
// nobody answers, watch CTS and DSR once somebody has.
#pragma once

#include <array>
#include <cstdint>

namespace vrk {
struct Context;
}

namespace vrk::link {

// The rates the hunt steps through, in order; after the last it starts again at the first.
inline constexpr std::array<std::uint32_t, 7> BAUD_TABLE = {1200,  2400,  4800,  9600,
                                                            19200, 57600, 115200};
inline constexpr std::uint32_t START_BAUD = 115200;
inline constexpr std::uint32_t PROBE_INTERVAL_MS = 300;

enum : std::int32_t {
    LINK_SEARCHING = 0,
    LINK_LINKED = 1,
    LINK_SETTINGS_LOADED = 2,
};

struct LinkState {
    std::int32_t link_state = LINK_SEARCHING;
    std::uint32_t current_baud = START_BAUD;
    std::uint32_t next_probe_time = 0;
};

// The rate after `baud` in the hunt: the next table entry, or the first after the last or when
// `baud` is not in the table.
[[nodiscard]] std::uint32_t next_baud(std::uint32_t baud);

// The ID query that probes for a unit: an ID message with an empty ID.
void send_id_query(Context& ctx);

// One poll cycle. Returns non-zero when the main window is to close (the user chose to exit).
[[nodiscard]] int poll_port(Context& ctx);

// Back to searching: empties the panel, shows "Establishing link to the VRK...", and ends a
// running transfer silently. Leaves the baud rate alone.
void reset_link_display(Context& ctx);

inline constexpr const char* ESTABLISHING_LINK_TEXT = "Establishing link to the VRK...";

}  // namespace vrk::link
