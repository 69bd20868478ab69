// Routes each message received from the unit to its handler, by type and exact length.
#pragma once

#include <cstdint>
#include <span>

namespace vrk {
struct Context;
}

namespace vrk::device {

// Handles one received message (at least 1 byte; a view of the decoder's buffer, which the
// handler may modify). Returns 1 when the main window is to close (the user answered Yes to
// the exit question), else 0. Unknown types and listed types at another length are ignored.
[[nodiscard]] int dispatch_message(Context& ctx, std::span<std::uint8_t> message);

inline constexpr const char* QB7_MODE_TEXT = "The VRK is in QB7 mode.";
inline constexpr const char* APPLICATION_RUNNING_TEXT =
    "The VRK is running the application.\nExit VRKCFG?";
inline constexpr const char* CONFIRMATION_CAPTION = "Confirmation";

}  // namespace vrk::device
