// TEMPORARY placeholder until the transfer engine lands; replaced wholesale.
#include "device/firmware_transfer.h"

#include "device/context.h"

namespace vrk::device {
void start_download(Context&) {}
void start_compare(Context&) {}
void on_erase_done(Context&) {}
void on_page_programmed(Context&, std::span<const std::uint8_t>) {}
void on_page_programmed_wide(Context&, std::span<const std::uint8_t>) {}
void on_page_compared(Context&, std::span<const std::uint8_t>) {}
void transfer_watchdog(Context&) {}
void free_image(Context& ctx) { ctx.transfer.image_buffer = {}; }
bool load_image(Context&) { return false; }
void send_page(Context&, PageKind, std::int16_t) {}
void end_operation(Context&, const char*) {}
void retry_page(Context&) {}
void recompare_page(Context&) {}
}  // namespace vrk::device
