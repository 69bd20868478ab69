// Firmware download and compare: erase, then program page by page from the last page down to
// page 0, or compare page by page. Stop-and-wait: one request is outstanding at any time and
// the page number in each reply decides which page goes next.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/messages.h"

namespace vrk {
struct Context;
}

namespace vrk::device {

inline constexpr std::uint32_t MAX_IMAGE_SIZE = 8'388'608;  // 32,768 pages: the 16-bit page range
inline constexpr std::uint32_t ERASE_BLOCK_SIZE = 65'536;
inline constexpr std::uint32_t PAGE_RETRY_MS = 2'000;
inline constexpr std::uint32_t NO_PROGRESS_LIMIT_MS = 30'000;

enum class PageKind { program, compare };

struct TransferState {
    std::string image_name;                 // the file name read at the last start
    std::vector<std::uint8_t> image_buffer;  // the whole image, read once per operation
    bool image_loaded = false;              // an image has been read at least once
    std::uint32_t image_size = 0;
    std::int16_t current_page = 0;       // the page last requested; negative once none remains
    std::uint8_t last_page_command = 0;  // type of the last erase or page request
    std::uint32_t operation_start_time = 0;  // tick of the last progress; 0 when idle
    std::uint32_t page_sent_time = 0;        // tick the current page was last sent; 0 during the erase
    // Page requests are built here: storage that lasts the whole run, no allocation per page.
    std::array<std::uint8_t, LONGEST_SENT_MESSAGE> page_message{};
};

// Commands of the Download and Compare buttons.
void start_download(Context& ctx);
void start_compare(Context& ctx);

// Reply handlers, called by the dispatcher at the exact lengths.
void on_erase_done(Context& ctx);
void on_page_programmed(Context& ctx, std::span<const std::uint8_t> message);       // 2 bytes
void on_page_programmed_wide(Context& ctx, std::span<const std::uint8_t> message);  // 4 bytes
void on_page_compared(Context& ctx, std::span<const std::uint8_t> message);         // 4 bytes

// Called by the poll cycle on every cycle that dispatched no message: the 2 s page retry and
// the 30 s limit without progress. Does nothing while no operation runs.
void transfer_watchdog(Context& ctx);

// Frees the image (start-up's shutdown).
void free_image(Context& ctx);

// Internals, exposed for tests.
[[nodiscard]] bool load_image(Context& ctx);
void send_page(Context& ctx, PageKind kind, std::int16_t page);
void end_operation(Context& ctx, const char* format);
void retry_page(Context& ctx);
void recompare_page(Context& ctx);

}  // namespace vrk::device
