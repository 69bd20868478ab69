#include "link/frame_codec.h"

#include "device/context.h"
#include "device/macro_recorder.h"
#include "platform/serial_port.h"

namespace vrk::link {

void send_message(Context& ctx, std::span<const std::uint8_t> message) {
    if (message.empty()) return;
    // The recorder sees the message as the program built it, before any wire byte goes out.
    device::record_message(ctx, message);
    encode_frame(ctx.codec, ctx.port, message);
    // A recording that this message ended is told only now, with the frame on its way: the
    // box's event loop keeps the program running, and the message must not change under us.
    device::report_recording_failure(ctx);
}

void encode_frame(CodecState& codec, platform::SerialPort& port,
                  std::span<const std::uint8_t> message) {
    if (message.empty()) return;
    port_write_byte(codec, port, FRAME_START, false);
    std::uint8_t value = message[0];
    int count = 1;
    for (std::size_t i = 1; i < message.size(); ++i) {
        const std::uint8_t b = message[i];
        if (b == value) {
            if (++count > MAX_RUN) {
                // The 256th equal byte: a run holds at most 255 copies, so close it and open
                // a new run of the same value.
                write_run(codec, port, value, MAX_RUN);
                count = 1;
            }
        } else {
            write_run(codec, port, value, count);
            value = b;
            count = 1;
        }
    }
    write_run(codec, port, value, count);
    port_write_byte(codec, port, FRAME_END, true);
}

void port_write_byte(CodecState& codec, platform::SerialPort& port, std::uint8_t byte, bool flush) {
    codec.tx_buffer[static_cast<std::size_t>(codec.tx_count)] = byte;
    ++codec.tx_count;
    if (flush || codec.tx_count >= static_cast<int>(TX_BUFFER_SIZE)) {
        // A short or failed write is not made good here: lost frames are recovered by the
        // probe repetition and the page retry, which is how the unit's protocol is built.
        (void)port.write(std::span<const std::uint8_t>(codec.tx_buffer.data(),
                                                       static_cast<std::size_t>(codec.tx_count)));
        codec.tx_count = 0;
    }
}

void write_escaped_byte(CodecState& codec, platform::SerialPort& port, std::uint8_t byte) {
    if (byte >= REPEAT) {
        port_write_byte(codec, port, ESCAPE, false);
        port_write_byte(codec, port, static_cast<std::uint8_t>(ESCAPE_BASE - byte), false);
    } else {
        port_write_byte(codec, port, byte, false);
    }
}

void write_run(CodecState& codec, platform::SerialPort& port, std::uint8_t value, int count) {
    if (count <= 0) return;
    if (count <= 2) {
        for (int i = 0; i < count; ++i) write_escaped_byte(codec, port, value);
        return;
    }
    if (count > MAX_RUN) count = MAX_RUN;
    port_write_byte(codec, port, REPEAT, false);
    write_escaped_byte(codec, port, static_cast<std::uint8_t>(count));
    write_escaped_byte(codec, port, value);
}

int port_read_byte(CodecState& codec, platform::SerialPort& port) {
    if (codec.rx_chunk_pos < codec.rx_chunk_size) {
        return codec.rx_chunk[static_cast<std::size_t>(codec.rx_chunk_pos++)];
    }
    const auto got =
        port.read(std::span<std::uint8_t>(codec.rx_chunk.data(), codec.rx_chunk.size()));
    // A failed read counts as nothing waiting; position and size stay, so the next call reads
    // again. The count is clamped so that a misbehaving port can never push us past the block.
    if (!got || *got == 0) return -1;
    codec.rx_chunk_size = static_cast<int>(*got < RX_CHUNK_SIZE ? *got : RX_CHUNK_SIZE);
    codec.rx_chunk_pos = 1;
    return codec.rx_chunk[0];
}

int frame_decoder(CodecState& codec, std::uint8_t byte) {
    // Control bytes act in every state, also straight after an ESCAPE: line noise that eats a
    // byte can never hide a frame boundary.
    switch (byte) {
        case FRAME_START:
            codec.rx_length = 0;
            codec.rx_escape = 0;
            codec.rx_repeat = 1;
            return 0;
        case FRAME_END:
            if (codec.rx_length >= 1) return codec.rx_length;
            codec.rx_length = -1;
            return 0;
        case ESCAPE:
            codec.rx_escape = 1;
            return 0;
        case REPEAT:
            codec.rx_repeat = 0;
            return 0;
        default:
            break;
    }
    if (codec.rx_length < 0) return 0;  // outside a frame: noise
    std::uint8_t b = byte;
    if (codec.rx_escape != 0) {
        codec.rx_escape = 0;
        // Only '0'..'3' stand for a reserved value. Anything else after ESCAPE is a corrupted
        // frame; delivering it would hand the program a byte the unit never sent.
        if (b < 0x30 || b > 0x33) {
            codec.rx_length = -1;
            return 0;
        }
        b = static_cast<std::uint8_t>(ESCAPE_BASE - b);
    }
    if (codec.rx_repeat == 0) {
        codec.rx_repeat = b == 0 ? 1 : b;
        return 0;
    }
    if (codec.rx_length + codec.rx_repeat > static_cast<int>(RX_BUFFER_SIZE)) {
        codec.rx_length = -1;  // too long: dropped, everything up to the next FRAME_START ignored
        return 0;
    }
    for (int i = 0; i < codec.rx_repeat; ++i) {
        codec.rx_buffer[static_cast<std::size_t>(codec.rx_length + i)] = b;
    }
    codec.rx_length = static_cast<std::int16_t>(codec.rx_length + codec.rx_repeat);
    codec.rx_repeat = 1;
    return 0;
}

}  // namespace vrk::link
