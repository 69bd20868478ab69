// Routes each message received from the unit to its handler, by type and exact length.
#pragma once

#include <cstdint>
#include <span>

namespace vrk::device {

struct Engine;

// Handles one received message (at least 1 byte; a view of the decoder's buffer, which the
// handler may modify). Returns 1 when the session is to end (asked when the unit reports its
// application running), else 0. Unknown types and listed types at another length are ignored.
[[nodiscard]] int dispatch_message(Engine& engine, std::span<std::uint8_t> message);

}  // namespace vrk::device
