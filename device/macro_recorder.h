// Records the settings and flash commands sent to the unit, each with the reply the unit is
// expected to give, into a macro file that the unit's BIOS plays back. A file is a plain
// sequence of records (16-bit length, 16-bit reply word, message, reply; little-endian) with
// no header and no end marker.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/files.h"

namespace vrk {
struct Context;
}

namespace vrk::device {

inline constexpr std::size_t MACRO_PATH_CAPACITY = 255;  // characters, not counting a terminator
inline constexpr std::uint16_t REPLY_WORD_FLAG = 0x8000;
inline constexpr const char* RECORD_CAPTION = "Re&cord...";
inline constexpr const char* STOP_RECORDING_CAPTION = "&Stop Recording";

struct RecorderState {
    std::unique_ptr<platform::OutputFile> macro_file;  // null when not recording
    std::string macro_file_name;                      // path of the open file, for messages
    std::string macro_path;                           // last name proposed or chosen
};

// Fills macro_path with the current directory and the "*.vbm" pattern (main window start).
void init_macro_path(Context& ctx);

// The send hook: appends one record when recording and the message is of a recorded type.
void record_message(Context& ctx, std::span<const std::uint8_t> message);

// The expected reply to a recorded message (reply must hold 4 bytes); returns the reply word.
[[nodiscard]] std::uint16_t expected_reply(std::span<const std::uint8_t> message,
                                           std::span<std::uint8_t, 4> reply);

// The Record button: stops recording, or asks for a file name and starts.
void toggle_recording(Context& ctx);

// Closes an open macro file (start-up's shutdown).
void close_macro_file(Context& ctx);

}  // namespace vrk::device
