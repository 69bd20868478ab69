// TEMPORARY placeholder until the macro recorder lands; replaced wholesale.
#include "device/macro_recorder.h"

#include "device/context.h"

namespace vrk::device {
void init_macro_path(Context&) {}
void record_message(Context&, std::span<const std::uint8_t>) {}
std::uint16_t expected_reply(std::span<const std::uint8_t>, std::span<std::uint8_t, 4>) { return 0; }
void toggle_recording(Context&) {}
void close_macro_file(Context& ctx) { ctx.recorder.macro_file.reset(); }
}  // namespace vrk::device
