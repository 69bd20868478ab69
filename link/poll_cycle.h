// The body of every timer tick: drain the port through the decoder, hand at most one message
// on, let a running transfer watch its time, and keep the link: hunt the unit's baud rate while
// nobody answers, watch CTS and DSR once somebody has.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace vrk::link {

// The rates the hunt steps through, in order; after the last it starts again at the first.
// Its own order, not the port's table: 38400 is not among them.
inline constexpr std::array<std::uint32_t, 7> BAUD_TABLE = {1200,  2400,  4800,  9600,
                                                            19200, 57600, 115200};

// What the poll cycle hands on.
class PollClient {
  public:
    virtual ~PollClient() = default;
    // A message from the unit (a view of the decoder's buffer, valid during the call; the
    // handler may change it). Non-zero asks for the session to end.
    [[nodiscard]] virtual int on_message(std::span<std::uint8_t> message) = 0;
    // A cycle that received no message, before its link step: the transfer's time limits.
    virtual void on_quiet_cycle() = 0;
};

// The rate after `baud` in the hunt: the next table entry, or the first after the last or when
// `baud` is not in the table.
[[nodiscard]] std::uint32_t next_baud(std::uint32_t baud);

// One poll cycle. Returns the client's non-zero answer to a message (the session is to end),
// else 0. A read that finds the device gone sets link.port_lost and ends the cycle at once; while
// the port is lost only the client's quiet cycle runs (a transfer started meanwhile then ends
// as on a silent line), no read, no probe, no modem lines.
[[nodiscard]] int poll_port(Link& link, PollClient& client);

}  // namespace vrk::link
