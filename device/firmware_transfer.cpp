// Firmware download and compare.
//
// The unit's loader is strictly stop-and-wait: it answers each request once, and the page
// number in its answer says which page it took, so the next request is always the page below
// the one reported. Nothing here waits; every step runs from a button, a reply or the watchdog.
//
// Every page request is built in one buffer that lives as long as the context, and the texts
// that change per page are built in one string whose capacity stays, so a running transfer
// allocates nothing per page.
//
// Replies are taken from the unit as they come, also late ones (a slow erase may answer after
// the time-out, and that must still start programming). What is never taken from the unit is
// a page number that points outside the image: such a reply is dropped without sending or
// reading anything, and without counting as progress.
#include "device/firmware_transfer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "device/context.h"
#include "device/control_ids.h"
#include "device/format_text.h"
#include "link/frame_codec.h"

namespace vrk::device {

namespace {

constexpr std::size_t NARROW_HEADER = 2;  // type, 8-bit page
constexpr std::size_t WIDE_HEADER = 4;    // type, 0x00, 16-bit page
constexpr std::int32_t FIRST_WIDE_PAGE = 256;
constexpr std::uint8_t FILL_BYTE = 0xFF;  // what erased flash holds: a short last page's tail

// 0 means "idle" in both tick fields, so a tick that reads 0 is kept as 1.
std::uint32_t stamp(std::uint32_t tick) {
    return tick == 0 ? 1 : tick;
}

// Milliseconds from a stamped tick to now. A difference of all ones arises only when the start
// was a tick of 0 kept as 1 and now is that same millisecond: that is no time at all.
std::uint32_t elapsed(std::uint32_t now, std::uint32_t since) {
    const std::uint32_t d = now - since;
    return d == 0xFFFF'FFFFu ? 0 : d;
}

void show(Context& ctx, std::string_view text) {
    ctx.main_window.set_text(ids::STATUS, text);
}

// Shows format with its "%d" replaced by page + 1 (pages count down to 1 on the screen), and
// an optional mark after it. Built in the reused status string: no allocation per page.
void show_page_text(Context& ctx, std::string_view format, std::int32_t page,
                    std::string_view mark = {}) {
    std::array<char, 12> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), page + 1);
    const std::string_view number(digits.data(),
                                  static_cast<std::size_t>(result.ptr - digits.data()));
    std::string& text = ctx.transfer.status_text;
    text.clear();
    const auto at = format.find("%d");
    if (at == std::string_view::npos) {
        text.append(format);
    } else {
        text.append(format.substr(0, at));
        text.append(number);
        text.append(format.substr(at + 2));
    }
    text.append(mark);
    show(ctx, text);
}

void enable_transfer_controls(Context& ctx, bool enabled) {
    ctx.main_window.enable(ids::APPLICATION, enabled);
    ctx.main_window.enable(ids::DOWNLOAD, enabled);
    ctx.main_window.enable(ids::COMPARE, enabled);
}

std::int32_t last_page(const TransferState& t) {
    return last_page_of(t.image_size);
}

bool page_in_image(const TransferState& t, std::int32_t page) {
    return t.image_loaded && page >= 0 && page <= last_page(t);
}

// The page that a reply naming `reported` asks for next, or nullopt when that page lies
// beyond the image (a hostile or garbled page number) or no image was ever loaded. -1 means
// the reply named page 0: the operation is complete.
std::optional<std::int32_t> next_page_after(const TransferState& t, std::uint32_t reported) {
    if (!t.image_loaded) return std::nullopt;
    const std::int32_t next = static_cast<std::int32_t>(reported) - 1;
    if (next > last_page(t)) return std::nullopt;
    return next;
}

std::uint16_t read_u16(std::span<const std::uint8_t> message, std::size_t at) {
    return static_cast<std::uint16_t>(message[at] | (message[at + 1] << 8));
}

// Moves the operation on to `page`: records the progress, shows the text, then sends. The send
// comes last so that everything the request stands for is in place before any byte leaves (a
// failed macro write shows a box from inside the send, and the window keeps running meanwhile).
void advance_to(Context& ctx, PageKind kind, std::int32_t page, std::string_view format,
                std::string_view mark = {}) {
    TransferState& t = ctx.transfer;
    t.current_page = static_cast<std::int16_t>(page);
    show_page_text(ctx, format, page, mark);
    const std::uint32_t now = stamp(ctx.clock.tick_ms());
    t.operation_start_time = now;
    t.page_sent_time = now;
    send_page(ctx, kind, t.current_page);
}

// Sends the current page again; the 30-second limit keeps counting from the last progress.
void resend_current(Context& ctx, PageKind kind, std::string_view format) {
    TransferState& t = ctx.transfer;
    if (!page_in_image(t, t.current_page)) return;
    show_page_text(ctx, format, t.current_page);
    t.page_sent_time = stamp(ctx.clock.tick_ms());
    send_page(ctx, kind, t.current_page);
}

std::vector<std::uint8_t> default_allocate(std::size_t size) {
    return std::vector<std::uint8_t>(size);
}

}  // namespace

bool load_image(Context& ctx) {
    TransferState& t = ctx.transfer;
    const std::string name = ctx.main_window.text(ids::APPLICATION);
    const auto fail = [&](const char* format) {
        show(ctx, format_text(format, name));
        ctx.host.beep();
        return false;
    };

    platform::FileError error = platform::FileError::none;
    auto file = ctx.files.open_read(name, &error);
    if (!file) return fail(CANT_FIND_TEXT);

    const auto size = file->size();
    if (!size) return fail(CANT_READ_TEXT);
    // Past 32,768 pages the page number no longer fits the unit's 16-bit field (and past 255
    // blocks the erase count wraps): such an image cannot be sent correctly at all.
    if (*size > MAX_IMAGE_SIZE) return fail(TOO_LARGE_TEXT);
    const auto length = static_cast<std::size_t>(*size);

    // Read into a fresh block and take it only when complete: a download must never report
    // success for bytes it did not read, and a failed start keeps the image it had.
    std::vector<std::uint8_t> fresh;
    try {
        fresh = t.allocate_image != nullptr ? t.allocate_image(length) : default_allocate(length);
    } catch (const std::bad_alloc&) {
        return fail(NO_MEMORY_TEXT);
    }
    if (fresh.size() != length) return fail(NO_MEMORY_TEXT);

    std::size_t got = 0;
    while (got < length) {
        const auto n = file->read(std::span<std::uint8_t>(fresh).subspan(got));
        if (!n || *n == 0) break;
        got += std::min(*n, length - got);
    }
    file.reset();
    if (got != length) return fail(CANT_READ_TEXT);

    t.image_buffer = std::move(fresh);
    t.image_size = static_cast<std::uint32_t>(length);
    t.image_name = name;
    t.image_loaded = true;
    // The progress texts never outgrow this; reserving now keeps the pages free of allocation.
    t.status_text.reserve(64);

    enable_transfer_controls(ctx, false);
    ctx.main_window.set_focus(ids::RUN_APPLICATION);
    return true;
}

void start_download(Context& ctx) {
    if (!load_image(ctx)) return;
    TransferState& t = ctx.transfer;
    std::array<std::uint8_t, REQUEST_LENGTH> erase{ERASE, 0x00};
    if (t.image_size > ERASE_BLOCK_SIZE) {
        const std::uint32_t blocks = (t.image_size + ERASE_BLOCK_SIZE - 1) / ERASE_BLOCK_SIZE;
        erase = {ERASE_BLOCKS, static_cast<std::uint8_t>(blocks & 0xFFu)};
    }
    t.last_page_command = erase[0];
    show(ctx, ERASING_TEXT);
    // The erase is never sent again: only the no-progress limit watches it.
    t.operation_start_time = stamp(ctx.clock.tick_ms());
    t.page_sent_time = 0;
    link::send_message(ctx, erase);
}

void start_compare(Context& ctx) {
    if (!load_image(ctx)) return;
    const std::int32_t last = last_page(ctx.transfer);
    if (last < 0) {
        // An empty image has no page to ask about; nothing of it can differ.
        ctx.transfer.current_page = -1;
        end_operation(ctx, MATCHED_TEXT);
        return;
    }
    advance_to(ctx, PageKind::compare, last, COMPARING_TEXT);
}

void on_erase_done(Context& ctx) {
    TransferState& t = ctx.transfer;
    if (!t.image_loaded) return;
    const std::int32_t last = last_page(t);
    if (last < 0) {
        // An empty image: the erase was the whole download.
        t.current_page = -1;
        end_operation(ctx, DOWNLOADED_TEXT);
        return;
    }
    advance_to(ctx, PageKind::program, last, PROGRAMMING_TEXT);
}

void on_page_programmed(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() < PAGE_PROGRAMMED_LENGTH) return;
    const auto next = next_page_after(ctx.transfer, message[1]);
    if (!next) return;
    if (*next < 0) {
        ctx.transfer.current_page = -1;
        end_operation(ctx, DOWNLOADED_TEXT);
        return;
    }
    advance_to(ctx, PageKind::program, *next, PROGRAMMING_TEXT);
}

void on_page_programmed_wide(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() < PAGE_PROGRAMMED_WIDE_LENGTH) return;
    TransferState& t = ctx.transfer;
    const std::uint16_t reported = read_u16(message, 2);
    const auto next = next_page_after(t, reported);
    if (!next) return;
    // The unit took another page than the one sent (a lost request and a late answer, for
    // instance). Its word decides what comes next; the mark tells the person watching.
    const bool other_page = reported != static_cast<std::uint16_t>(t.current_page);
    if (*next < 0) {
        t.current_page = -1;
        end_operation(ctx, DOWNLOADED_TEXT);
        return;
    }
    // Below page 256 send_page switches to the 8-bit request, and the unit to its 8-bit answer.
    advance_to(ctx, PageKind::program, *next, PROGRAMMING_TEXT, other_page ? WRONG_PAGE_MARK : "");
}

void on_page_compared(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.size() < PAGE_COMPARED_LENGTH) return;
    TransferState& t = ctx.transfer;
    if (!t.image_loaded) return;
    if (message[1] == 0) {
        // One differing page decides it; the rest need not be asked about.
        end_operation(ctx, MISMATCH_TEXT);
        return;
    }
    const auto next = next_page_after(t, read_u16(message, 2));
    if (!next) return;
    if (*next < 0) {
        t.current_page = -1;
        end_operation(ctx, MATCHED_TEXT);
        return;
    }
    advance_to(ctx, PageKind::compare, *next, COMPARING_TEXT);
}

void send_page(Context& ctx, PageKind kind, std::int16_t page) {
    TransferState& t = ctx.transfer;
    if (!page_in_image(t, page)) return;
    auto& m = t.page_message;
    const auto page_number = static_cast<std::uint16_t>(page);
    std::size_t header = WIDE_HEADER;
    if (kind == PageKind::compare || page >= FIRST_WIDE_PAGE) {
        m[0] = kind == PageKind::compare ? COMPARE_PAGE : PROGRAM_PAGE_WIDE;
        m[1] = 0x00;
        m[2] = static_cast<std::uint8_t>(page_number & 0xFFu);
        m[3] = static_cast<std::uint8_t>(page_number >> 8);
    } else {
        m[0] = PROGRAM_PAGE;
        m[1] = static_cast<std::uint8_t>(page_number);
        header = NARROW_HEADER;
    }
    const std::size_t offset = static_cast<std::size_t>(page) * PAGE_SIZE;
    const std::size_t count = std::min(PAGE_SIZE, std::size_t{t.image_size} - offset);
    const auto data = t.image_buffer.begin() + static_cast<std::ptrdiff_t>(offset);
    std::copy(data, data + static_cast<std::ptrdiff_t>(count),
              m.begin() + static_cast<std::ptrdiff_t>(header));
    std::fill(m.begin() + static_cast<std::ptrdiff_t>(header + count),
              m.begin() + static_cast<std::ptrdiff_t>(header + PAGE_SIZE), FILL_BYTE);
    t.last_page_command = m[0];
    link::send_message(ctx, std::span<const std::uint8_t>(m.data(), header + PAGE_SIZE));
}

void end_operation(Context& ctx, const char* format) {
    show(ctx, format_text(format, ctx.transfer.image_name));
    ctx.host.beep();
    ctx.transfer.operation_start_time = 0;
    enable_transfer_controls(ctx, true);
}

void retry_page(Context& ctx) {
    resend_current(ctx, PageKind::program, RETRYING_TEXT);
}

void recompare_page(Context& ctx) {
    resend_current(ctx, PageKind::compare, RECOMPARING_TEXT);
}

void transfer_watchdog(Context& ctx) {
    TransferState& t = ctx.transfer;
    if (t.operation_start_time == 0) return;
    const std::uint32_t now = ctx.clock.tick_ms();
    if (elapsed(now, t.operation_start_time) > NO_PROGRESS_LIMIT_MS) {
        t.operation_start_time = 0;
        show(ctx, NOT_RESPONDING_TEXT);
        ctx.host.beep();
        enable_transfer_controls(ctx, true);
        return;
    }
    if (t.page_sent_time == 0 || elapsed(now, t.page_sent_time) <= PAGE_RETRY_MS) return;
    switch (t.last_page_command) {
        case PROGRAM_PAGE:
        case PROGRAM_PAGE_WIDE:
            retry_page(ctx);
            break;
        case COMPARE_PAGE:
            recompare_page(ctx);
            break;
        default:
            break;
    }
}

void free_image(Context& ctx) {
    TransferState& t = ctx.transfer;
    std::vector<std::uint8_t>().swap(t.image_buffer);
    t.image_size = 0;
    t.image_loaded = false;
}

}  // namespace vrk::device
