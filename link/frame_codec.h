// The wire framing, both directions. A frame is FRAME_START, the message's bytes run-length
// coded and escaped, then FRAME_END. The four values 0xFC..0xFF are reserved on the wire: a
// message byte of that value travels as ESCAPE and a digit '0'..'3'. A run of 3 to 255 equal
// bytes travels as REPEAT, count, value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vrk::platform {
class SerialPort;
}

namespace vrk {
struct Context;
}

namespace vrk::link {

inline constexpr std::uint8_t FRAME_START = 0xFF;
inline constexpr std::uint8_t FRAME_END = 0xFE;
inline constexpr std::uint8_t ESCAPE = 0xFD;
inline constexpr std::uint8_t REPEAT = 0xFC;
// ESCAPE is followed by (ESCAPE_BASE - value) mod 256: '0' for 0xFF ... '3' for 0xFC.
inline constexpr std::uint8_t ESCAPE_BASE = 0x2F;

inline constexpr std::size_t TX_BUFFER_SIZE = 512;
inline constexpr std::size_t RX_CHUNK_SIZE = 80;
inline constexpr std::size_t RX_BUFFER_SIZE = 512;
inline constexpr int MAX_RUN = 255;

struct CodecState {
    // Encoder: wire bytes not yet handed to the port; empty between messages.
    std::array<std::uint8_t, TX_BUFFER_SIZE> tx_buffer{};
    int tx_count = 0;
    // Receive block: the bytes of the last read not yet fed to the decoder.
    std::array<std::uint8_t, RX_CHUNK_SIZE> rx_chunk{};
    int rx_chunk_size = 0;
    int rx_chunk_pos = 0;
    // Decoder: message bytes assembled so far, -1 outside a frame.
    std::int16_t rx_length = -1;
    std::uint8_t rx_escape = 0;
    // 0: the next data item is a repeat count; else copies of the next data byte to store.
    std::uint8_t rx_repeat = 0;
    std::array<std::uint8_t, RX_BUFFER_SIZE> rx_buffer{};
};

// Frames one message and hands its wire bytes to the port (the last write flushes). Offers the
// message to the macro recorder first. An empty message sends and records nothing.
void send_message(Context& ctx, std::span<const std::uint8_t> message);

// The framing alone, without the recorder: usable by anything that speaks the wire (the
// simulator). Same contract as send_message otherwise.
void encode_frame(CodecState& codec, platform::SerialPort& port,
                  std::span<const std::uint8_t> message);

// Appends one raw wire byte to the transmit buffer; writes the buffer to the port when flush is
// set or the buffer is full. The write's result is not looked at: the buffer empties anyway.
void port_write_byte(CodecState& codec, platform::SerialPort& port, std::uint8_t byte, bool flush);
// One message byte as a data item (one or two wire bytes). Never flushes.
void write_escaped_byte(CodecState& codec, platform::SerialPort& port, std::uint8_t byte);
// count (1 to 255) copies of value: the byte itself for 1 and 2, REPEAT count value for 3 up.
void write_run(CodecState& codec, platform::SerialPort& port, std::uint8_t value, int count);

// The next received wire byte (0..255), or -1 when nothing is waiting or the read failed. Reads
// the port in blocks of up to 80 bytes.
[[nodiscard]] int port_read_byte(CodecState& codec, platform::SerialPort& port);

// Consumes one wire byte. Returns the length (1..512) of the message this byte completed, or 0.
// After a non-zero result the message is the first that many bytes of rx_buffer; the caller
// hands it on and then sets rx_length to -1 before feeding the next byte.
[[nodiscard]] int frame_decoder(CodecState& codec, std::uint8_t byte);

}  // namespace vrk::link
