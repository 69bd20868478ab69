// Firmware download and compare.
//
// The unit's loader is strictly stop-and-wait: it answers each request once, and the page
// number in its answer says which page it took, so the next request is the page below the one
// reported. Nothing here waits; every step runs from a command, a reply or the watchdog.
//
// The line has no checksum, and a slow or noisy line delivers answers late, twice or garbled:
// the answer to a page sent again after 2 s comes after the next page has gone, a flipped bit
// names another page or turns a match flag into something else. So a reply is believed only
// when it answers the request in flight. A page is done only when a reply names it after it
// was sent in this phase; an acknowledgement of a page already done or above the one in flight
// is old or garbled and changes nothing (the page in flight has its own retry); one naming a
// page below the one in flight that is not done is the unit's word that it took that page, and
// the download goes on below it, the pages skipped being sent once the bottom is reached. The
// download ends only when every page is done. A compare reply counts only for the page asked,
// and one that does not say "match" at once has the page asked again until two replies agree,
// so that one garbled byte neither passes a differing page nor rejects a good one. A unit that
// answers in order never meets any of this: it sees the same bytes as ever.
//
// Every page request is built in one buffer that lives as long as the engine, and the texts
// that change per page are built in one string whose capacity stays, so a running transfer
// allocates nothing per page.
//
// Late replies are taken up when they answer what was in flight when the time limit or a lost
// link ended the operation (a slow erase may answer after the time-out, and that must still
// start programming), never after an end the unit or the user decided, never one of another
// operation, and never a page number outside the image.
//
// The time limits count from the moment a request has left the PC, which the link works out
// (a 260-byte page takes 2.2 s to leave at 1200 baud, and a write may return long before): a
// retry due 2 s after the write began would go out before the unit had even received the page.
#include "device/firmware_transfer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

#include "device/engine.h"
#include "device/format_text.h"
#include "link/link.h"
#include "platform/control_ids.h"

namespace vrk::device {

using namespace link::messages;

namespace {

constexpr std::size_t NARROW_HEADER = 2;  // type, 8-bit page
constexpr std::size_t WIDE_HEADER = 4;    // type, 0x00, 16-bit page
constexpr std::int32_t FIRST_WIDE_PAGE = 256;
constexpr std::uint8_t FILL_BYTE = 0xFF;  // what erased flash holds: a short last page's tail

void show(Engine& e, std::string_view text) {
    e.events.status_changed(text);
}

// Shows format with its "%d" replaced by page + 1 (pages count down to 1 on the screen), and
// an optional mark after it. Built in the reused status string: no allocation per page.
void show_page_text(Engine& e, std::string_view format, std::int32_t page,
                    std::string_view mark = {}) {
    std::array<char, 12> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), page + 1);
    const std::string_view number(digits.data(),
                                  static_cast<std::size_t>(result.ptr - digits.data()));
    std::string& text = e.transfer.status_text;
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
    show(e, text);
}

void enable_transfer_controls(Engine& e, bool enabled) {
    e.main_window.enable(ids::APPLICATION, enabled);
    e.main_window.enable(ids::DOWNLOAD, enabled);
    e.main_window.enable(ids::COMPARE, enabled);
    e.main_window.enable(ids::VERIFY, enabled);
}

std::int32_t last_page(const TransferState& t) {
    return last_page_of(t.image_size);
}
std::uint32_t page_count(const TransferState& t) {
    return static_cast<std::uint32_t>(last_page(t) + 1);
}

bool page_in_image(const TransferState& t, std::int32_t page) {
    return image_loaded(t) && page >= 0 && page <= last_page(t);
}

PageKind kind_of(Phase phase) {
    return phase == Phase::programming ? PageKind::program : PageKind::compare;
}

std::string_view first_text(Phase phase) {
    switch (phase) {
        case Phase::programming:
            return PROGRAMMING_TEXT;
        case Phase::verifying:
            return VERIFYING_TEXT;
        default:
            return COMPARING_TEXT;
    }
}

std::string_view retry_text(Phase phase) {
    switch (phase) {
        case Phase::programming:
            return RETRYING_TEXT;
        case Phase::verifying:
            return REVERIFYING_TEXT;
        default:
            return RECOMPARING_TEXT;
    }
}

void reset_page_states(TransferState& t) {
    std::fill(t.page_states.begin(), t.page_states.end(), PageState::waiting);
    t.pages_done = 0;
}

void tell_progress(Engine& e) {
    e.events.progress({e.transfer.phase, e.transfer.pages_done, page_count(e.transfer)});
}

// Enters a page phase with every page still to do.
void enter_page_phase(Engine& e, Phase phase) {
    e.transfer.phase = phase;
    reset_page_states(e.transfer);
    tell_progress(e);
}

// A reply that arrived while no operation ran takes up the operation it answers, in the phase
// the time limit or the lost link ended.
void resume(Engine& e, Phase phase) {
    TransferState& t = e.transfer;
    t.phase = phase;
    t.resumable = Phase::idle;
    // Running again, as after a start: a second start (an erase in the middle of programming)
    // must not be offered.
    enable_transfer_controls(e, false);
    e.events.operation_started(
        {t.kind, phase, t.image_name, t.image_size, page_count(t), /*resumed=*/true});
}

// Whether a reply moved the operation on: only then does the 30-second limit start over.
enum class Moved { on, not_on };

// Moves the operation on to `page`: records the progress, shows the text, then sends. The send
// comes last so that everything the request stands for is in place before any byte leaves; the
// time stamps then move on to when the request will have left.
void advance_to(Engine& e, std::int32_t page, std::string_view mark = {},
                Moved moved = Moved::on) {
    TransferState& t = e.transfer;
    t.current_page = static_cast<std::int16_t>(page);
    t.compare_replies = 0;
    show_page_text(e, first_text(t.phase), page, mark);
    const std::uint32_t now = e.clock.tick_ms();
    if (moved == Moved::on) t.operation_start_time = now;
    t.page_sent_time = now;
    auto& state = t.page_states[static_cast<std::size_t>(page)];
    if (state == PageState::waiting) state = PageState::sent;
    const std::uint32_t left = send_page(e, kind_of(t.phase), t.current_page);
    if (moved == Moved::on) t.operation_start_time = left;
    t.page_sent_time = left;
    t.request_departure = left;
    e.events.page_sent({t.phase, page, /*retry=*/false});
}

// Why the current page goes again: no reply within the retry time (the reply may still answer
// the first sending), or a reply that asked for it (a compare asked again: only this sending
// can be answered now).
enum class Again { retry, asked };

// Sends the current page again; the 30-second limit keeps counting from the last progress.
void resend_current(Engine& e, Again why) {
    TransferState& t = e.transfer;
    if (!page_in_image(t, t.current_page)) return;
    show_page_text(e, retry_text(t.phase), t.current_page);
    t.page_sent_time = send_page(e, kind_of(t.phase), t.current_page);
    if (why == Again::asked) t.request_departure = t.page_sent_time;
    e.events.page_sent({t.phase, t.current_page, /*retry=*/true});
}

// A reply has been accepted for the request in flight: the request has left by now. Where the
// model had it leaving later, the link takes that lead off its line time, and the stamps of the
// request that still stand at the old departure move with it, so that the limits count from
// when the request really left.
void believe_reply(Engine& e) {
    TransferState& t = e.transfer;
    if (!t.request_departure) return;
    const std::uint32_t modelled = *t.request_departure;
    const std::uint32_t left = link::reply_received(e.link, modelled);
    if (left == modelled) return;
    t.request_departure = left;
    if (t.page_sent_time == modelled) t.page_sent_time = left;
    if (t.operation_start_time == modelled) t.operation_start_time = left;
}

PageState state_of(const TransferState& t, std::int32_t page) {
    return t.page_states[static_cast<std::size_t>(page)];
}

// Counts the page a reply named, when it was sent in this phase and not yet done: the one
// thing that is progress. Moved::not_on for a page never sent (or done already).
Moved mark_done(Engine& e, std::int32_t reported) {
    TransferState& t = e.transfer;
    PageState& state = t.page_states[static_cast<std::size_t>(reported)];
    if (state != PageState::sent) return Moved::not_on;
    state = PageState::done;
    ++t.pages_done;
    tell_progress(e);
    return Moved::on;
}

// The page to send after a reply that named `reported`: the highest page below it not yet
// done (the page below, for a unit that answers in order); when none is left below, the
// highest page not yet done, skipped earlier. -1 when every page is done.
std::int32_t next_page(const TransferState& t, std::int32_t reported) {
    if (t.pages_done >= page_count(t)) return -1;
    for (std::int32_t page = reported - 1; page >= 0; --page)
        if (state_of(t, page) != PageState::done) return page;
    for (std::int32_t page = last_page(t); page > reported; --page)
        if (state_of(t, page) != PageState::done) return page;
    return -1;
}

// Whether a reply while none runs answers the page that was in flight when the operation of
// one of `phases` was ended by the time limit or a lost link.
bool answers_page_left_in_flight(const TransferState& t, std::int32_t reported,
                                 std::initializer_list<Phase> phases) {
    if (std::find(phases.begin(), phases.end(), t.resumable) == phases.end()) return false;
    return reported == t.current_page && page_in_image(t, reported) &&
           state_of(t, reported) == PageState::sent;
}

enum class Tell { text_and_beep, silently };

// The one place where an operation ends.
void end_operation(Engine& e, Result result, std::string_view text, Tell tell) {
    TransferState& t = e.transfer;
    if (tell == Tell::text_and_beep) {
        show(e, text);
        e.host.beep();
    }
    const OperationKind kind = t.kind;
    // Only an end the unit or the user did not decide leaves something a late reply may answer.
    const bool undecided = result == Result::not_responding || result == Result::link_lost ||
                           result == Result::port_lost;
    t.resumable = undecided ? t.phase : Phase::idle;
    t.phase = Phase::idle;
    t.operation_start_time.reset();
    t.page_sent_time.reset();
    enable_transfer_controls(e, true);
    e.events.operation_finished({kind, result, t.image_name, text, t.pages_done, page_count(t)});
}

void end_with(Engine& e, Result result, const char* format) {
    end_operation(e, result, format_text(format, e.transfer.image_name), Tell::text_and_beep);
}

void finish_programming(Engine& e) {
    if (e.transfer.kind == OperationKind::download_and_verify) {
        enter_page_phase(e, Phase::verifying);
        advance_to(e, last_page(e.transfer));
        return;
    }
    e.transfer.current_page = -1;
    end_with(e, Result::success, DOWNLOADED_TEXT);
}

std::uint16_t read_u16(std::span<const std::uint8_t> message, std::size_t at) {
    return static_cast<std::uint16_t>(message[at] | (message[at + 1] << 8));
}

void on_erase_done(Engine& e) {
    TransferState& t = e.transfer;
    if (!image_loaded(t)) return;
    switch (t.phase) {
        case Phase::erasing:
            believe_reply(e);
            break;
        case Phase::idle:
            // The erase answered after the time limit: programming starts all the same.
            if (t.resumable != Phase::erasing) return;
            believe_reply(e);
            resume(e, Phase::programming);
            break;
        case Phase::programming:
            // Erased already: a second answer (or a garbled reply that reads as one) must not
            // throw away every page done and start again.
        case Phase::comparing:
        case Phase::verifying:
            return;  // a compare sent no erase
    }
    // The flash has just been erased: every page is to be programmed.
    enter_page_phase(e, Phase::programming);
    advance_to(e, last_page(t));
}

void on_page_programmed(Engine& e, std::uint32_t reported_number, bool wide) {
    TransferState& t = e.transfer;
    if (!image_loaded(t) || reported_number > static_cast<std::uint32_t>(last_page(t))) return;
    const auto reported = static_cast<std::int32_t>(reported_number);
    if (t.phase == Phase::idle) {
        if (!answers_page_left_in_flight(t, reported, {Phase::programming})) return;
        resume(e, Phase::programming);
    }
    // Before ERASE_DONE no page is outstanding, and during a compare none was programmed: an
    // acknowledgement then belongs to another operation.
    if (t.phase != Phase::programming) return;
    // A page done already (a late answer to a request sent twice) or above the page in flight
    // (sent before it, or a garbled number) tells nothing new: the page in flight waits for
    // its own answer, or its retry.
    if (reported > t.current_page || state_of(t, reported) == PageState::done) return;
    believe_reply(e);
    // Below the page in flight and not done: the unit took another page than the one sent. Its
    // word decides where the download goes on; the mark tells the person watching. A page it
    // names that was never sent is no progress: a unit that keeps naming one (off by one in
    // its acknowledgements) must meet the time limit, not hold it off for ever.
    const bool other_page = reported != t.current_page;
    const Moved moved = mark_done(e, reported);
    const std::int32_t next = next_page(t, reported);
    if (next < 0) {
        finish_programming(e);
        return;
    }
    // Without progress only a page never sent goes out at once (so at most one per page of
    // the image); a page sent and not answered waits for its retry, and the page in flight
    // for its own answer.
    if (moved == Moved::not_on && state_of(t, next) != PageState::waiting) return;
    advance_to(e, next, wide && other_page ? WRONG_PAGE_MARK : "", moved);
}

// The verdict on the page in flight once the flags reported for it so far are known: none yet
// (ask again), a match or a difference.
enum class Verdict { ask_again, match, different };

Verdict compare_verdict(const TransferState& t) {
    const auto flags = std::span(t.compare_flags).first(t.compare_replies);
    if (flags.size() == 1 && flags[0] == MATCH_FLAG) return Verdict::match;
    if (flags.size() >= 2 && flags[flags.size() - 1] == flags[flags.size() - 2])
        return flags.back() == DIFFERENT_FLAG ? Verdict::different : Verdict::match;
    return flags.size() < MAX_COMPARE_REPLIES ? Verdict::ask_again : Verdict::different;
}

void on_page_compared(Engine& e, std::uint8_t flag, std::uint32_t reported_number) {
    TransferState& t = e.transfer;
    if (!image_loaded(t) || reported_number > static_cast<std::uint32_t>(last_page(t))) return;
    const auto reported = static_cast<std::int32_t>(reported_number);
    if (t.phase == Phase::idle) {
        // Only a plain match of the page left in flight, before it was ever asked again, is
        // something to take up; whatever else is an old question's answer.
        if (flag != MATCH_FLAG || t.compare_replies != 0 ||
            !answers_page_left_in_flight(t, reported, {Phase::comparing, Phase::verifying}))
            return;
        resume(e, t.resumable);
    }
    if (t.phase != Phase::comparing && t.phase != Phase::verifying) return;  // a download's
    // Another page than the one asked: an old answer or a garbled number.
    if (reported != t.current_page) return;
    believe_reply(e);
    t.compare_flags[t.compare_replies++] = flag;
    switch (compare_verdict(t)) {
        case Verdict::ask_again:
            // Asked again at once; the time limit goes on counting from the last page decided.
            resend_current(e, Again::asked);
            return;
        case Verdict::different:
            end_with(e, Result::mismatch, MISMATCH_TEXT);
            return;
        case Verdict::match:
            break;
    }
    mark_done(e, reported);
    const std::int32_t next = next_page(t, reported);
    if (next < 0) {
        t.current_page = -1;
        end_with(e, Result::success,
                 t.kind == OperationKind::download_and_verify ? VERIFIED_TEXT : MATCHED_TEXT);
        return;
    }
    advance_to(e, next);
}

struct OpenedImage {
    std::unique_ptr<platform::InputFile> file;
    std::uint64_t size = 0;
    Result result = Result::success;
};

// Opens an image and checks its size; the file is open only when the result is success.
OpenedImage open_image(platform::FileSystem& files, const std::string& path) {
    OpenedImage opened;
    platform::FileError error = platform::FileError::none;
    opened.file = files.open_read(path, &error);
    if (!opened.file) {
        // Only a file that is not there is "not found"; one that is there but cannot be opened
        // (no permission, a directory of that name, an I/O error) is unreadable.
        opened.result = error == platform::FileError::not_found ? Result::file_not_found
                                                                : Result::file_unreadable;
        return opened;
    }
    const auto size = opened.file->size();
    if (!size) {
        opened.result = Result::file_unreadable;
    } else if (*size == 0) {
        // An empty image has no page: erasing the unit for it would destroy the application
        // and put nothing in its place, and a compare would "match" without reading anything.
        opened.result = Result::file_empty;
    } else if (*size > MAX_IMAGE_SIZE) {
        // Past 32,768 pages the page number no longer fits the unit's 16-bit field (and past
        // 255 blocks the erase count wraps): such an image cannot be sent correctly at all.
        opened.result = Result::file_too_large;
    }
    if (opened.result != Result::success) {
        opened.file.reset();
        return opened;
    }
    opened.size = *size;
    return opened;
}

std::vector<std::uint8_t> default_allocate(std::size_t size) {
    return std::vector<std::uint8_t>(size);
}

}  // namespace

ImageRead read_image(platform::FileSystem& files, const std::string& path,
                     ImageAllocator allocate) {
    ImageRead read;
    OpenedImage opened = open_image(files, path);
    if (opened.result != Result::success) {
        read.result = opened.result;
        return read;
    }
    const auto length = static_cast<std::size_t>(opened.size);
    // Read into a fresh block and take it only when complete: a download must never report
    // success for bytes it did not read.
    try {
        read.bytes = allocate != nullptr ? allocate(length) : default_allocate(length);
    } catch (const std::bad_alloc&) {
        read.bytes.clear();
    }
    if (read.bytes.size() != length) {
        read.result = Result::file_too_large;
        read.out_of_memory = true;
        std::vector<std::uint8_t>().swap(read.bytes);
        return read;
    }
    std::size_t got = 0;
    while (got < length) {
        const auto n = opened.file->read(std::span<std::uint8_t>(read.bytes).subspan(got));
        if (!n || *n == 0) break;
        got += std::min(*n, length - got);
    }
    if (got != length) {
        read.result = Result::file_unreadable;
        std::vector<std::uint8_t>().swap(read.bytes);
    }
    return read;
}

namespace {

// A start that cannot go ahead: the reason shown, a beep, the observers told; the previous
// image and the controls stay as they were.
bool refuse_start(Engine& e, OperationKind kind, const std::string& name, const ImageRead& read) {
    const char* format = CANT_READ_TEXT;
    switch (read.result) {
        case Result::file_not_found:
            format = CANT_FIND_TEXT;
            break;
        case Result::file_empty:
            format = EMPTY_TEXT;
            break;
        case Result::file_too_large:
            format = read.out_of_memory ? NO_MEMORY_TEXT : TOO_LARGE_TEXT;
            break;
        default:
            break;
    }
    const Result result = read.result == Result::file_not_found ||
                                  read.result == Result::file_empty ||
                                  read.result == Result::file_too_large
                              ? read.result
                              : Result::file_unreadable;
    const std::string text = format_text(format, name);
    show(e, text);
    e.host.beep();
    e.events.operation_refused({kind, result, name, text, 0, 0});
    return false;
}

// Makes `bytes` the image; then disables the list, both transfer buttons and Verify and
// focuses Run Application.
void take_image(Engine& e, std::vector<std::uint8_t> bytes, const std::string& name) {
    TransferState& t = e.transfer;
    t.image_buffer = std::move(bytes);
    t.image_size = static_cast<std::uint32_t>(t.image_buffer.size());
    t.image_name = name;
    t.page_states.assign(page_count(t), PageState::waiting);
    t.pages_done = 0;
    // The progress texts never outgrow this; reserving now keeps the pages free of allocation.
    t.status_text.reserve(64);

    enable_transfer_controls(e, false);
    e.main_window.set_focus(ids::RUN_APPLICATION);
}

void begin_operation(Engine& e, OperationKind kind);

}  // namespace

bool load_image(Engine& e, const std::string& path, const std::string& name, OperationKind kind) {
    ImageRead read = read_image(e.files, path, e.transfer.allocate_image);
    if (read.result != Result::success) return refuse_start(e, kind, name, read);
    take_image(e, std::move(read.bytes), name);
    return true;
}

Result check_image(platform::FileSystem& files, const std::string& path) {
    return open_image(files, path).result;
}

void start_operation(Engine& e, OperationKind kind, const std::string& path,
                     const std::string& name) {
    // One operation at a time: a second erase in the middle of programming would wipe what
    // the first has written.
    if (operation_running(e.transfer)) return;
    if (!load_image(e, path, name, kind)) return;
    begin_operation(e, kind);
}

void start_operation(Engine& e, OperationKind kind, std::span<const std::uint8_t> image,
                     const std::string& name) {
    if (operation_running(e.transfer)) return;
    ImageRead copy;
    if (image.empty()) {
        copy.result = Result::file_empty;
    } else if (image.size() > MAX_IMAGE_SIZE) {
        copy.result = Result::file_too_large;
    } else {
        try {
            copy.bytes = e.transfer.allocate_image != nullptr
                             ? e.transfer.allocate_image(image.size())
                             : default_allocate(image.size());
        } catch (const std::bad_alloc&) {
            copy.bytes.clear();
        }
        if (copy.bytes.size() != image.size()) {
            copy.result = Result::file_too_large;
            copy.out_of_memory = true;
        }
    }
    if (copy.result != Result::success) {
        refuse_start(e, kind, name, copy);
        return;
    }
    std::copy(image.begin(), image.end(), copy.bytes.begin());
    take_image(e, std::move(copy.bytes), name);
    begin_operation(e, kind);
}

namespace {

// The image is in place: the compare's first page, or the download's erase, goes out.
void begin_operation(Engine& e, OperationKind kind) {
    TransferState& t = e.transfer;
    t.kind = kind;
    t.current_page = static_cast<std::int16_t>(last_page(t));
    if (kind == OperationKind::compare) {
        // A compare has no erase step and starts at once.
        e.events.operation_started(
            {kind, Phase::comparing, t.image_name, t.image_size, page_count(t)});
        enter_page_phase(e, Phase::comparing);
        advance_to(e, last_page(t));
        return;
    }
    std::array<std::uint8_t, REQUEST_LENGTH> erase{ERASE, 0x00};
    if (t.image_size > ERASE_BLOCK_SIZE) {
        const std::uint32_t blocks = (t.image_size + ERASE_BLOCK_SIZE - 1) / ERASE_BLOCK_SIZE;
        erase = {ERASE_BLOCKS, static_cast<std::uint8_t>(blocks & 0xFFu)};
    }
    t.phase = Phase::erasing;
    e.events.operation_started({kind, t.phase, t.image_name, t.image_size, page_count(t)});
    reset_page_states(t);
    show(e, ERASING_TEXT);
    // The erase is never sent again: only the no-progress limit watches it, from the moment
    // the request has left.
    t.operation_start_time = e.clock.tick_ms();
    t.page_sent_time.reset();
    link::send_message(e.link, erase);
    t.operation_start_time = e.link.line_free;
    t.request_departure = t.operation_start_time;
}

}  // namespace

void start_download(Engine& e) {
    const std::string name = e.main_window.text(ids::APPLICATION);
    const OperationKind kind = e.main_window.is_checked(ids::VERIFY)
                                   ? OperationKind::download_and_verify
                                   : OperationKind::download;
    start_operation(e, kind, name, name);
}

void start_compare(Engine& e) {
    const std::string name = e.main_window.text(ids::APPLICATION);
    start_operation(e, OperationKind::compare, name, name);
}

void cancel_operation(Engine& e) {
    if (!operation_running(e.transfer)) return;
    end_with(e, Result::interrupted, INTERRUPTED_TEXT);
}

void forget_operation(Engine& e) {
    cancel_operation(e);
    e.transfer.resumable = Phase::idle;
}

void on_transfer_reply(Engine& e, std::span<const std::uint8_t> message) {
    if (message.empty()) return;
    switch (message[0]) {
        case ERASE_DONE:
            if (message.size() == REQUEST_LENGTH) on_erase_done(e);
            break;
        case PAGE_PROGRAMMED:
            if (message.size() == PAGE_PROGRAMMED_LENGTH) on_page_programmed(e, message[1], false);
            break;
        case PAGE_PROGRAMMED_WIDE:
            if (message.size() == PAGE_PROGRAMMED_WIDE_LENGTH)
                on_page_programmed(e, read_u16(message, 2), true);
            break;
        case PAGE_COMPARED:
            if (message.size() == PAGE_COMPARED_LENGTH)
                on_page_compared(e, message[1], read_u16(message, 2));
            break;
        default:
            break;
    }
}

std::uint32_t send_page(Engine& e, PageKind kind, std::int16_t page) {
    TransferState& t = e.transfer;
    if (!page_in_image(t, page)) return e.link.line_free;
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
    link::send_message(e.link, std::span<const std::uint8_t>(m.data(), header + PAGE_SIZE));
    return e.link.line_free;
}

void transfer_watchdog(Engine& e) {
    TransferState& t = e.transfer;
    if (!operation_running(t) || !t.operation_start_time) return;
    const std::uint32_t now = e.clock.tick_ms();
    // By signed difference: a stamp still ahead (the request is still on the line) is not
    // overdue, where an unsigned one would read it as some 49 days old.
    const auto past = [now](std::uint32_t stamp, std::uint32_t limit) {
        return static_cast<std::int32_t>(now - stamp) > static_cast<std::int32_t>(limit);
    };
    if (past(*t.operation_start_time, NO_PROGRESS_LIMIT_MS)) {
        // Nothing more is sent to the unit; no retry in this cycle.
        end_with(e, Result::not_responding, NOT_RESPONDING_TEXT);
        return;
    }
    if (!t.page_sent_time || !past(*t.page_sent_time, PAGE_RETRY_MS)) return;
    resend_current(e, Again::retry);
}

void end_by_link_loss(Engine& e, link::LinkLoss why) {
    if (!operation_running(e.transfer)) return;
    if (why == link::LinkLoss::port_lost) {
        end_operation(e, Result::port_lost, format_text(PORT_GONE_TEXT, e.port_name),
                      Tell::text_and_beep);
        return;
    }
    // The unit has gone; a transfer in flight cannot finish. End it without a word: the
    // status line already says what happened.
    end_operation(e, Result::link_lost, ESTABLISHING_LINK_TEXT, Tell::silently);
}

void free_image(Engine& e) {
    TransferState& t = e.transfer;
    std::vector<std::uint8_t>().swap(t.image_buffer);
    std::vector<PageState>().swap(t.page_states);
    t.image_size = 0;
}

}  // namespace vrk::device
