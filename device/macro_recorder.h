// Records the settings and flash commands sent to the unit, each with the reply the unit is
// expected to give, into a macro file that the unit's BIOS plays back. A file is a plain
// sequence of records (16-bit length, 16-bit reply word, message, reply; little-endian) with
// no header and no end marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "link/link.h"
#include "link/messages.h"
#include "platform/files.h"

namespace vrk::device {

struct Engine;

inline constexpr std::size_t MACRO_PATH_CAPACITY = 255;  // characters, not counting a terminator
inline constexpr std::uint16_t REPLY_WORD_FLAG = 0x8000;
inline constexpr const char* RECORD_CAPTION = "Re&cord...";
inline constexpr const char* STOP_RECORDING_CAPTION = "&Stop Recording";
inline constexpr const char* MACRO_PATTERN = "*.vbm";
inline constexpr const char* MACRO_EXTENSION = ".vbm";
inline constexpr const char* MACRO_FILTER_DESCRIPTION = "VRK BIOS Macro Files (*.vbm)";
inline constexpr const char* MACRO_DEFAULT_EXTENSION = "vbm";
inline constexpr const char* CREATE_ERROR_TEXT = "Error creating '%s'";
inline constexpr const char* WRITE_ERROR_TEXT = "Error writing '%s'";

// A record: 16-bit length, 16-bit reply word, the message (at most 260 bytes as sent), the
// reply (at most 4 bytes).
inline constexpr std::size_t RECORD_HEADER_SIZE = 4;
inline constexpr std::size_t MAX_REPLY_SIZE = 4;
inline constexpr std::size_t MAX_RECORD_SIZE =
    RECORD_HEADER_SIZE + link::messages::LONGEST_SENT_MESSAGE + MAX_REPLY_SIZE;

// The recorder's place on the link: offered every message before it is framed, and told when
// the frame is out (a failed write is reported only then).
struct RecorderHook final : link::SendHook {
    Engine* engine = nullptr;
    void before_send(std::span<const std::uint8_t> message) override;
    void after_send(std::span<const std::uint8_t> message,
                    std::span<const std::uint8_t> wire) override;
};

struct RecorderState {
    std::unique_ptr<platform::OutputFile> macro_file;  // null when not recording
    std::string macro_file_name;                       // path of the open file, for messages
    std::string macro_path;                            // last name proposed or chosen
    // A write failure found while a message was being sent, told once the frame is out.
    std::string pending_error;
    RecorderHook hook;
};

// Fills macro_path with the current directory and the "*.vbm" pattern (main window start);
// just the pattern when the two together would exceed MACRO_PATH_CAPACITY.
void init_macro_path(Engine& engine);

// The name proposed for a macro of the image `application_text`: its last period and what
// follows become ".vbm" (".vbm" is appended when it has no period), placed in the directory
// of `macro_path`.
[[nodiscard]] std::string propose_macro_path(std::string_view application_text,
                                             std::string_view macro_path);

// The send hook: appends one record when recording and the message is of a recorded type.
// A record that cannot be written whole (full disk, removed medium) ends the recording: the
// file is closed, the Record caption restored and "Error writing '<path>'" shown, so a macro
// that lacks a command is never taken for a complete one.
void record_message(Engine& engine, std::span<const std::uint8_t> message);

// The expected reply to a recorded message (reply must hold 4 bytes); returns the reply word:
// the reply's length, with REPLY_WORD_FLAG for ERASE, ERASE_BLOCKS and PROGRAM_PAGE_WIDE.
// Unrecorded types give 0 and an all-zero reply. Reads only bytes the message has.
[[nodiscard]] std::uint16_t expected_reply(std::span<const std::uint8_t> message,
                                           std::span<std::uint8_t, 4> reply);

// Shows the error of a recording that a failed write ended during the last send. Called by
// send_message once the frame has gone out: the box runs an event loop that keeps the timer
// and the handlers going, and none of them may run in the middle of a send.
void report_recording_failure(Engine& engine);

// The Record button: stops recording, or asks for a file name and starts.
void toggle_recording(Engine& engine);

// Starts recording into `path` (created, or truncated when it exists) without asking; the Record
// caption becomes "&Stop Recording". False, with the reason in *error, when the file cannot be
// created; nothing is shown then.
[[nodiscard]] bool start_recording(Engine& engine, const std::string& path,
                                   platform::FileError* error);
[[nodiscard]] inline bool recording(const RecorderState& r) {
    return r.macro_file != nullptr;
}

// Closes an open macro file (start-up's shutdown, the Record button). A close that may have
// lost data is reported as a write error.
void close_macro_file(Engine& engine);

}  // namespace vrk::device
