// The wire framing, both directions. A frame is FRAME_START, the message's bytes run-length
// coded and escaped, then FRAME_END. The four values 0xFC..0xFF are reserved on the wire: a
// message byte of that value travels as ESCAPE and a digit '0'..'3'. A run of 3 to 255 equal
// bytes travels as REPEAT, count, value.
//
// The encoder writes into a buffer its caller gives; the decoder is a byte-driven state machine
// that hands out each message it completes and is outside a frame again at once. Neither
// touches a port: PortReader reads the port in blocks for the decoder, and the link writes the
// encoder's frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vrk::platform {
class SerialPort;
}

namespace vrk::link {

inline constexpr std::uint8_t FRAME_START = 0xFF;
inline constexpr std::uint8_t FRAME_END = 0xFE;
inline constexpr std::uint8_t ESCAPE = 0xFD;
inline constexpr std::uint8_t REPEAT = 0xFC;
// ESCAPE is followed by (ESCAPE_BASE - value) mod 256: '0' for 0xFF ... '3' for 0xFC.
inline constexpr std::uint8_t ESCAPE_BASE = 0x2F;

inline constexpr std::size_t RX_CHUNK_SIZE = 80;
inline constexpr std::size_t RX_BUFFER_SIZE = 512;
inline constexpr int MAX_RUN = 255;

// The most wire bytes a message of `length` bytes can take: every byte escaped, no run, and the
// two frame bytes.
[[nodiscard]] constexpr std::size_t max_frame_size(std::size_t length) {
    return 2 * length + 2;
}

// Frames one message into `wire`; returns the number of wire bytes written. Writes nothing and
// returns 0 for an empty message, or when `wire` holds fewer than max_frame_size(message.size())
// bytes (so no message can ever be written past the buffer's end).
[[nodiscard]] std::size_t encode_frame(std::span<const std::uint8_t> message,
                                       std::span<std::uint8_t> wire);

struct FrameDecoder {
    // Message bytes assembled so far, -1 outside a frame.
    std::int16_t rx_length = -1;
    std::uint8_t rx_escape = 0;
    // 0: the next data item is a repeat count; else copies of the next data byte to store.
    std::uint8_t rx_repeat = 0;
    std::array<std::uint8_t, RX_BUFFER_SIZE> rx_buffer{};
};

// Consumes one wire byte. Returns the message this byte completed (1 to 512 bytes, a view of
// rx_buffer that stays valid until the next byte is fed), or an empty span. The decoder is
// outside a frame again as soon as it hands a message out: the next byte needs no reset by the
// caller.
[[nodiscard]] std::span<std::uint8_t> frame_decoder(FrameDecoder& decoder, std::uint8_t byte);

// The receive block: the bytes of the last read not yet fed to the decoder. It survives from one
// poll cycle to the next, as does a partly assembled frame.
struct PortReader {
    std::array<std::uint8_t, RX_CHUNK_SIZE> rx_chunk{};
    int rx_chunk_size = 0;
    int rx_chunk_pos = 0;
};

inline constexpr int NOTHING_WAITING = -1;
inline constexpr int PORT_LOST = -2;

// The next received wire byte (0..255); NOTHING_WAITING when nothing is waiting or the read
// failed; PORT_LOST when the port reported the device gone. Reads the port in blocks of up to
// 80 bytes.
[[nodiscard]] int port_read_byte(PortReader& reader, platform::SerialPort& port);

}  // namespace vrk::link
