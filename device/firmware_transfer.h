// Firmware download and compare: erase, then program page by page from the last page down to
// page 0, or compare page by page; a download with verify compares every page after
// programming. Stop-and-wait: one request is outstanding at any time, and a reply is believed
// only when it answers the request in flight.
//
// The engine is a state machine over Phase. Replies enter through on_transfer_reply, which
// checks them against the phase and the page in flight; an operation ends in exactly one place,
// end_operation, with a Result that the observers are told. Its time limits count from the
// moment a request has left the PC (the link's line_free), not from when its write began.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/events.h"
#include "link/messages.h"
#include "platform/files.h"

namespace vrk::device {

struct Engine;

inline constexpr std::size_t PAGE_SIZE = link::messages::PAGE_SIZE;
inline constexpr std::uint32_t MAX_IMAGE_SIZE = 8'388'608;  // 32,768 pages: the 16-bit page range
inline constexpr std::uint32_t ERASE_BLOCK_SIZE = 65'536;
inline constexpr std::uint32_t PAGE_RETRY_MS = 2'000;
inline constexpr std::uint32_t NO_PROGRESS_LIMIT_MS = 30'000;
// The match flag of PAGE_COMPARED that settles a page on its own; 0x00 says it differs.
inline constexpr std::uint8_t MATCH_FLAG = 0x01;
inline constexpr std::uint8_t DIFFERENT_FLAG = 0x00;
// A page whose first compare reply was not MATCH_FLAG is asked again until two replies in a row
// carry the same flag; after this many replies without such a pair it counts as different.
inline constexpr std::size_t MAX_COMPARE_REPLIES = 4;

enum class PageKind { program, compare };

// Where a page stands in the running phase. A page counts as done only when a reply names it
// after it was sent in this phase: a reply whose page number was garbled on the line can then
// never pass for the page it seems to name.
enum class PageState : std::uint8_t { waiting, sent, done };

// Allocates the block for a new image (size bytes). Throws std::bad_alloc when memory runs out.
using ImageAllocator = std::vector<std::uint8_t> (*)(std::size_t size);

struct TransferState {
    Phase phase = Phase::idle;
    OperationKind kind = OperationKind::download;
    // The name shown in the texts for the image image_buffer holds, in full.
    std::string image_name;
    std::vector<std::uint8_t> image_buffer;  // the whole image, read once per operation
    std::uint32_t image_size = 0;            // 0 until an image is read (an empty one never is)
    std::int16_t current_page = 0;  // the page in flight, the one a retry sends again; negative
                                    // once none remains
    // Tick of the last progress: when the request it sent has left the PC.
    std::optional<std::uint32_t> operation_start_time;
    // Tick the current page's request last left the PC; none during the erase.
    std::optional<std::uint32_t> page_sent_time;
    // When the request in flight (the erase, a page, a compare asked again) first left the PC,
    // as the link modelled it. A retry does not move it: the reply may answer either sending,
    // and only the first is sure to have left before the reply came.
    std::optional<std::uint32_t> request_departure;
    // The flags the unit has reported for the page in flight while it is compared, in order.
    std::array<std::uint8_t, MAX_COMPARE_REPLIES> compare_flags{};
    std::size_t compare_replies = 0;
    // The phase an operation was in when the time limit or a lost link ended it: a late reply
    // to the request then in flight may take it up again. Idle when the last end was final (a
    // result the unit or the user decided) or nothing has run.
    Phase resumable = Phase::idle;
    // One entry per page, for the page phase running or last run (programming, comparing or
    // verifying); sized at load, so no page allocates.
    std::vector<PageState> page_states;
    std::uint32_t pages_done = 0;
    // Page requests are built here: storage that lasts the whole run, no allocation per page.
    std::array<std::uint8_t, link::messages::LONGEST_SENT_MESSAGE> page_message{};
    // The progress text is built here; its capacity stays, so a page costs no allocation.
    std::string status_text;
    // Null: the ordinary allocator. Tests set one that throws to exercise the out-of-memory path.
    ImageAllocator allocate_image = nullptr;
};

// Commands of the Download and Compare buttons: the image selected in the application list,
// read at each press. Download reads the Verify box as it is pressed: checked, every page is
// compared after the programming (download_and_verify); unchecked, the download alone.
void start_download(Engine& engine);
void start_compare(Engine& engine);
// The same for any image path; `name` is what the texts call it.
// Every start is refused while an operation runs (the front-ends never offer it): nothing is
// read, nothing sent, the running operation and its image stay as they are, and no observer is
// told anything.
void start_operation(Engine& engine, OperationKind kind, const std::string& path,
                     const std::string& name);
// The same from an image already read (a production run reads its image once and checks it):
// the operation sends exactly these bytes. An empty image, or one past MAX_IMAGE_SIZE, is
// refused as a file of that content would be.
void start_operation(Engine& engine, OperationKind kind, std::span<const std::uint8_t> image,
                     const std::string& name);

// An image file read whole, or why it could not be.
struct ImageRead {
    Result result = Result::success;  // file_not_found, file_unreadable, file_empty,
                                      // file_too_large
    bool out_of_memory = false;       // with file_too_large: the block could not be had
    std::vector<std::uint8_t> bytes;  // every byte of the file, when result is success
};
// Reads the image at `path` whole; a short read is file_unreadable, never a shorter image.
// `allocate` null: the ordinary allocator.
[[nodiscard]] ImageRead read_image(platform::FileSystem& files, const std::string& path,
                                   ImageAllocator allocate = nullptr);

// Whether an image could be loaded, without reading it: Result::success, or why a start with it
// would be refused (file_not_found, file_unreadable, file_empty, file_too_large). For a
// front-end that wants to refuse a bad image before a unit is linked.
[[nodiscard]] Result check_image(platform::FileSystem& files, const std::string& path);

// Ends a running operation at once with Result::interrupted; nothing more is sent.
void cancel_operation(Engine& engine);

// The front-end is done with the operation (a production unit's run has ended and is
// recorded): one still running is cancelled, and a late reply takes nothing up from here on,
// so that what the unit holds cannot move on from what its record says.
void forget_operation(Engine& engine);

// The one entry for the unit's transfer replies (ERASE_DONE, PAGE_PROGRAMMED,
// PAGE_PROGRAMMED_WIDE, PAGE_COMPARED at their exact lengths). A reply is progress only when it
// answers the exchange in flight; any other is dropped, sends nothing and does not hold off the
// time limit:
// - ERASE_DONE only while erasing (once programming runs, the flash is not erased again);
// - an acknowledgement of the page in flight, or of a page below it not yet done (the unit took
//   another page than the one sent: the download goes on below the named page, and the pages
//   skipped are sent later), never of a page already done, above the one in flight or outside
//   the image; a download ends once every page is done;
// - PAGE_COMPARED only for the page asked: MATCH_FLAG as its first reply is a match; any other
//   flag has the page asked again at once, and the first flag two replies in a row carry
//   decides (DIFFERENT_FLAG: different, any other: a match), MAX_COMPARE_REPLIES without such a
//   pair: different.
// While none runs, a reply takes up the operation the time limit or a lost link ended, when it
// answers the request that was in flight then: a late ERASE_DONE starts programming, a late
// acknowledgement or match of the page in flight goes on from there. The operation taken up
// runs as a started one does: the list and the transfer buttons disabled until it ends.
// Progress, which holds off the limit of 30 s, is the erase done or a page newly done; an
// acknowledgement that names a page never sent may still choose the next page, but is none.
// A reply believed is also evidence of when its request left: see link::reply_received.
void on_transfer_reply(Engine& engine, std::span<const std::uint8_t> message);

// Called by the poll cycle on every cycle that dispatched no message: the page retry more than
// 2 s after the page's request has left, and the limit of 30 s without progress. A time stamp
// still ahead (a request still crossing the line) is not overdue. Does nothing while no
// operation runs.
void transfer_watchdog(Engine& engine);

// The link went away: a running operation ends without a beep (link lost) or, for a port that
// vanished, with the port-lost text and a beep.
void end_by_link_loss(Engine& engine, link::LinkLoss why);

// Frees the image (start-up's shutdown). Replies that arrive afterwards find no image and are
// ignored.
void free_image(Engine& engine);

// An image has been read (and not freed since): late replies can be answered from it.
[[nodiscard]] inline bool image_loaded(const TransferState& t) {
    return t.image_size != 0;
}

[[nodiscard]] inline bool operation_running(const TransferState& t) {
    return t.phase != Phase::idle;
}

// Status texts. "%d" is the page number counted down from the number of pages (page + 1);
// "%s" is the image's name.
inline constexpr const char* ERASING_TEXT = "Erasing previous application...Please wait";
inline constexpr const char* PROGRAMMING_TEXT = "Programming page #%d...Please wait";
inline constexpr const char* WRONG_PAGE_MARK = " *****";
inline constexpr const char* COMPARING_TEXT = "Comparing page #%d...Please wait";
inline constexpr const char* VERIFYING_TEXT = "Verifying page #%d...Please wait";
inline constexpr const char* RETRYING_TEXT = "Retrying page #%d...Please wait";
inline constexpr const char* RECOMPARING_TEXT = "Recomparing page #%d...Please wait";
inline constexpr const char* REVERIFYING_TEXT = "Reverifying page #%d...Please wait";
inline constexpr const char* DOWNLOADED_TEXT = "%s has been downloaded successfully";
inline constexpr const char* VERIFIED_TEXT = "%s has been downloaded and verified successfully";
inline constexpr const char* MATCHED_TEXT = "%s matched successfully";
inline constexpr const char* MISMATCH_TEXT = "%s doesn't match!!!!!";
inline constexpr const char* CANT_FIND_TEXT = "Error: Can't find %s";
inline constexpr const char* CANT_READ_TEXT = "Error: Can't read %s";
inline constexpr const char* EMPTY_TEXT = "Error: %s is empty";
inline constexpr const char* TOO_LARGE_TEXT = "Error: %s is too large";
inline constexpr const char* NO_MEMORY_TEXT = "Error: Not enough memory for %s";
inline constexpr const char* NOT_RESPONDING_TEXT = "Error: The VRK700 is not responding";
inline constexpr const char* INTERRUPTED_TEXT = "%s: interrupted";
inline constexpr const char* PORT_GONE_TEXT = "The port %s is gone: reconnect the cable";

// The last page of an image of `size` bytes, (size - 1) / 256; -1 for an empty image.
[[nodiscard]] constexpr std::int32_t last_page_of(std::uint32_t size) {
    return size == 0 ? -1 : static_cast<std::int32_t>((size - 1) / PAGE_SIZE);
}

// Internals, exposed for tests.
// Reads the image whole into a new buffer and, only when every byte arrived, makes it the
// image; then disables the list, both transfer buttons and Verify and focuses Run
// Application. On failure shows the reason, beeps, tells the observers the start was refused
// and leaves the previous image and the controls as they were.
[[nodiscard]] bool load_image(Engine& engine, const std::string& path, const std::string& name,
                              OperationKind kind);
// Builds the request for `page` in page_message and sends it: PROGRAM_PAGE below page 256,
// PROGRAM_PAGE_WIDE from 256, COMPARE_PAGE for a compare. A page outside the image sends
// nothing. Returns the tick at which the request will have left the PC.
std::uint32_t send_page(Engine& engine, PageKind kind, std::int16_t page);

}  // namespace vrk::device
