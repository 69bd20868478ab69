// Firmware download and compare: erase, then program page by page from the last page down to
// page 0, or compare page by page. Stop-and-wait: one request is outstanding at any time and
// the page number in each reply decides which page goes next.
#pragma once

#include <array>
#include <cstddef>
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

// Allocates the block for a new image (size bytes). Throws std::bad_alloc when memory runs out.
using ImageAllocator = std::vector<std::uint8_t> (*)(std::size_t size);

struct TransferState {
    // The name of the file whose content image_buffer holds, in full (no length limit), so
    // every text names the image that is actually being sent or compared.
    std::string image_name;
    std::vector<std::uint8_t> image_buffer;  // the whole image, read once per operation
    bool image_loaded = false;               // an image has been read at least once
    std::uint32_t image_size = 0;
    std::int16_t current_page = 0;       // the page last requested; negative once none remains
    std::uint8_t last_page_command = 0;  // type of the last erase or page request
    // Ticks, with 0 meaning "no operation runs" and "no page reply awaited". A tick that reads
    // 0 is stored as 1, so a running operation never looks idle; its limits then fall 1 ms
    // later than measured from the true tick.
    std::uint32_t operation_start_time = 0;  // tick of the last progress; 0 when idle
    std::uint32_t page_sent_time = 0;  // tick the current page was last sent; 0 during the erase
    // Page requests are built here: storage that lasts the whole run, no allocation per page.
    std::array<std::uint8_t, LONGEST_SENT_MESSAGE> page_message{};
    // The progress text is built here; its capacity stays, so a page costs no allocation.
    std::string status_text;
    // Null: the ordinary allocator. Tests set one that throws to exercise the out-of-memory path.
    ImageAllocator allocate_image = nullptr;
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

// Frees the image (start-up's shutdown). Replies that arrive afterwards find no image and are
// ignored.
void free_image(Context& ctx);

// Status texts. "%d" is the page number counted down from the number of pages (page + 1);
// "%s" is the image's file name.
inline constexpr const char* ERASING_TEXT = "Erasing previous application...Please wait";
inline constexpr const char* PROGRAMMING_TEXT = "Programming page #%d...Please wait";
inline constexpr const char* WRONG_PAGE_MARK = " *****";
inline constexpr const char* COMPARING_TEXT = "Comparing page #%d...Please wait";
inline constexpr const char* RETRYING_TEXT = "Retrying page #%d...Please wait";
inline constexpr const char* RECOMPARING_TEXT = "Recomparing page #%d...Please wait";
inline constexpr const char* DOWNLOADED_TEXT = "%s has been downloaded successfully";
inline constexpr const char* MATCHED_TEXT = "%s matched successfully";
inline constexpr const char* MISMATCH_TEXT = "%s doesn't match!!!!!";
inline constexpr const char* CANT_FIND_TEXT = "Error: Can't find %s";
inline constexpr const char* CANT_READ_TEXT = "Error: Can't read %s";
inline constexpr const char* TOO_LARGE_TEXT = "Error: %s is too large";
inline constexpr const char* NO_MEMORY_TEXT = "Error: Not enough memory for %s";
inline constexpr const char* NOT_RESPONDING_TEXT = "Error: The VRK700 is not responding";

// The last page of an image of `size` bytes, (size - 1) / 256; -1 for an empty image.
[[nodiscard]] constexpr std::int32_t last_page_of(std::uint32_t size) {
    return size == 0 ? -1 : static_cast<std::int32_t>((size - 1) / PAGE_SIZE);
}

// Internals, exposed for tests.
// Reads the selected image whole into a new buffer and, only when every byte arrived, makes it
// the image; then disables the list and both transfer buttons and focuses Run Application.
// On failure shows the reason (missing, unreadable, too large, no memory), beeps and leaves
// the previous image and the controls as they were.
[[nodiscard]] bool load_image(Context& ctx);
// Builds the request for `page` in page_message and sends it: PROGRAM_PAGE below page 256,
// PROGRAM_PAGE_WIDE from 256, COMPARE_PAGE for a compare. A page outside the image sends
// nothing.
void send_page(Context& ctx, PageKind kind, std::int16_t page);
// Shows the result (format with one %s for the image name), beeps, stops the watchdog and
// enables the list and both transfer buttons.
void end_operation(Context& ctx, const char* format);
void retry_page(Context& ctx);
void recompare_page(Context& ctx);

}  // namespace vrk::device
