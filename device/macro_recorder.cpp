// The macro recorder.
//
// The unit's BIOS plays a macro back request by request and checks each answer against the
// reply stored with it, so a record is worth something only whole and in order. Each record
// is therefore assembled in one fixed buffer and handed to the file in a single write; when
// the system takes less than all of it, the recording is ended and the person told, rather
// than going on to produce a file that would play back without one of its commands.
#include "device/macro_recorder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "device/engine.h"
#include "device/format_text.h"
#include "platform/control_ids.h"
#include "platform/path_names.h"

namespace vrk::device {

using namespace link::messages;

namespace {

bool is_recorded_type(std::uint8_t type) {
    switch (type) {
        case INTERNAL_DEVICE:
        case EXTERNAL_DEVICE:
        case ERASE:
        case PROGRAM_PAGE:
        case ERASE_BLOCKS:
        case PROGRAM_PAGE_WIDE:
        case COMPARE_PAGE:
            return true;
        default:
            return false;  // GPS_TYPE too: the BIOS player has no use for it
    }
}

void put_u16(std::uint8_t* at, std::size_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFFu);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
}

void error_box(Engine& e, const char* format, std::string_view path) {
    e.host.message_box(format_text(format, path), "", platform::MessageButtons::ok,
                       platform::MessageIcon::error);
}

// Ends the recording. The state is back to idle before any box opens: a box keeps the window
// running, and nothing sent meanwhile may reach a file that is being given up.
enum class Tell { now, after_send };

void stop_recording(Engine& e, bool write_failed, Tell tell = Tell::now) {
    RecorderState& r = e.recorder;
    if (!r.macro_file) return;
    std::unique_ptr<platform::OutputFile> file = std::move(r.macro_file);
    const std::string path = std::move(r.macro_file_name);
    r.macro_file_name.clear();
    // A close that fails may have lost what was written last: as bad as a failed write.
    const bool closed = file->close();
    file.reset();
    e.main_window.set_text(ids::RECORD, RECORD_CAPTION);
    if (!write_failed && closed) return;
    if (tell == Tell::after_send) {
        r.pending_error = format_text(WRITE_ERROR_TEXT, path);
        return;
    }
    error_box(e, WRITE_ERROR_TEXT, path);
}

}  // namespace

std::string propose_macro_path(std::string_view application_text, std::string_view macro_path) {
    std::string name(application_text);
    // Only a period in the file-name part counts; a name without one gets the extension added.
    const auto dot = name.rfind('.');
    if (dot != std::string::npos &&
        dot >= platform::file_name_start(name, platform::PathRule::with_drive_letter))
        name.erase(dot);
    name += MACRO_EXTENSION;
    std::string proposal(
        platform::directory_part(macro_path, platform::PathRule::with_drive_letter));
    proposal += name;
    return proposal;
}

void init_macro_path(Engine& e) {
    std::string path = e.files.current_directory();
    if (!path.empty()) {
        // The root already ends in its separator.
        if (path.back() != e.files.separator()) path += e.files.separator();
    }
    path += MACRO_PATTERN;
    e.recorder.macro_path =
        path.size() <= MACRO_PATH_CAPACITY ? std::move(path) : std::string(MACRO_PATTERN);
}

std::uint16_t expected_reply(std::span<const std::uint8_t> message,
                             std::span<std::uint8_t, 4> reply) {
    const auto byte = [&](std::size_t i) -> std::uint8_t {
        return i < message.size() ? message[i] : 0;
    };
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    switch (byte(0)) {
        case INTERNAL_DEVICE:
        case EXTERNAL_DEVICE:
            // The unit reports the setting it took.
            reply[0] = byte(0);
            reply[1] = byte(1);
            return 2;
        case ERASE:
        case ERASE_BLOCKS:
            reply[0] = ERASE_DONE;
            return REPLY_WORD_FLAG | 2;
        case PROGRAM_PAGE:
            reply[0] = PAGE_PROGRAMMED;
            reply[1] = byte(1);
            return 2;
        case PROGRAM_PAGE_WIDE:
            reply[0] = PAGE_PROGRAMMED_WIDE;
            reply[2] = byte(2);
            reply[3] = byte(3);
            return REPLY_WORD_FLAG | 4;
        case COMPARE_PAGE:
            reply[0] = PAGE_COMPARED;
            reply[1] = 0x01;  // the page matched
            reply[2] = byte(2);
            reply[3] = byte(3);
            return 4;
        default:
            return 0;
    }
}

void record_message(Engine& e, std::span<const std::uint8_t> message) {
    RecorderState& r = e.recorder;
    if (!r.macro_file || message.empty() || !is_recorded_type(message[0])) return;
    if (message.size() > LONGEST_SENT_MESSAGE) {
        // No request of this program is that long. Leaving it out would make a macro that
        // plays back without one of its commands, so the recording ends as on a failed write.
        stop_recording(e, true, Tell::after_send);
        return;
    }
    std::array<std::uint8_t, MAX_REPLY_SIZE> reply{};
    const std::uint16_t reply_word = expected_reply(message, reply);
    const std::size_t reply_size = std::min<std::size_t>(reply_word & 0x7FFFu, MAX_REPLY_SIZE);

    std::array<std::uint8_t, MAX_RECORD_SIZE> record{};
    put_u16(record.data(), message.size());
    put_u16(record.data() + 2, reply_word);
    std::copy(message.begin(), message.end(), record.begin() + RECORD_HEADER_SIZE);
    const auto reply_at =
        record.begin() + static_cast<std::ptrdiff_t>(RECORD_HEADER_SIZE + message.size());
    std::copy_n(reply.begin(), reply_size, reply_at);
    const std::size_t size = RECORD_HEADER_SIZE + message.size() + reply_size;

    if (!r.macro_file->write(std::span<const std::uint8_t>(record.data(), size)))
        stop_recording(e, true, Tell::after_send);
}

void report_recording_failure(Engine& e) {
    if (e.recorder.pending_error.empty()) return;
    const std::string text = std::move(e.recorder.pending_error);
    e.recorder.pending_error.clear();
    (void)e.host.message_box(text, "", platform::MessageButtons::ok, platform::MessageIcon::error);
}

void toggle_recording(Engine& e) {
    RecorderState& r = e.recorder;
    if (r.macro_file) {
        stop_recording(e, false);
        return;
    }

    const std::string application = e.main_window.text(ids::APPLICATION);
    if (!application.empty()) {
        // A proposal that does not fit is not cut: a cut name would be some other file.
        std::string proposal = propose_macro_path(application, r.macro_path);
        if (proposal.size() <= MACRO_PATH_CAPACITY) r.macro_path = std::move(proposal);
    }

    platform::SaveFileRequest request;
    request.initial_path = r.macro_path;
    request.filter_description = MACRO_FILTER_DESCRIPTION;
    request.filter_pattern = MACRO_PATTERN;
    request.default_extension = MACRO_DEFAULT_EXTENSION;
    request.overwrite_prompt = true;
    const std::optional<std::string> chosen = e.host.save_file_dialog(request);
    if (!chosen) return;
    if (chosen->size() <= MACRO_PATH_CAPACITY) r.macro_path = *chosen;

    platform::FileError error = platform::FileError::none;
    if (!start_recording(e, *chosen, &error)) error_box(e, CREATE_ERROR_TEXT, *chosen);
}

bool start_recording(Engine& e, const std::string& path, platform::FileError* error) {
    RecorderState& r = e.recorder;
    if (r.macro_file) stop_recording(e, false);
    auto file = e.files.create(path, error);
    if (!file) return false;
    r.macro_file = std::move(file);
    r.macro_file_name = path;
    e.main_window.set_text(ids::RECORD, STOP_RECORDING_CAPTION);
    return true;
}

void RecorderHook::before_send(std::span<const std::uint8_t> message) {
    record_message(*engine, message);
}

void RecorderHook::after_send(std::span<const std::uint8_t>, std::span<const std::uint8_t>) {
    report_recording_failure(*engine);
}

void close_macro_file(Engine& e) {
    stop_recording(e, false);
}

}  // namespace vrk::device
