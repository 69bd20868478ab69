#include "link/frame_codec.h"

#include <algorithm>

#include "platform/serial_port.h"

namespace vrk::link {

namespace {

// Appends to the caller's wire buffer; the size was checked once for the whole frame, so every
// put stays inside it.
struct WireWriter {
    std::span<std::uint8_t> wire;
    std::size_t count = 0;

    void put(std::uint8_t byte) { wire[count++] = byte; }

    // One message byte as a data item (one or two wire bytes).
    void escaped(std::uint8_t byte) {
        if (byte >= REPEAT) {
            put(ESCAPE);
            put(static_cast<std::uint8_t>(ESCAPE_BASE - byte));
        } else {
            put(byte);
        }
    }

    // count (1 to 255) copies of value: the byte itself for 1 and 2, REPEAT count value from 3.
    void run(std::uint8_t value, int count_of_value) {
        if (count_of_value <= 2) {
            for (int i = 0; i < count_of_value; ++i) escaped(value);
            return;
        }
        put(REPEAT);
        escaped(static_cast<std::uint8_t>(count_of_value));
        escaped(value);
    }
};

}  // namespace

std::size_t encode_frame(std::span<const std::uint8_t> message, std::span<std::uint8_t> wire) {
    if (message.empty() || wire.size() < max_frame_size(message.size())) return 0;
    WireWriter out{wire};
    out.put(FRAME_START);
    std::uint8_t value = message[0];
    int count = 1;
    for (std::size_t i = 1; i < message.size(); ++i) {
        const std::uint8_t b = message[i];
        if (b == value) {
            if (++count > MAX_RUN) {
                // The 256th equal byte: a run holds at most 255 copies, so close it and open
                // a new run of the same value.
                out.run(value, MAX_RUN);
                count = 1;
            }
        } else {
            out.run(value, count);
            value = b;
            count = 1;
        }
    }
    out.run(value, count);
    out.put(FRAME_END);
    return out.count;
}

int port_read_byte(PortReader& reader, platform::SerialPort& port) {
    if (reader.rx_chunk_pos < reader.rx_chunk_size) {
        return reader.rx_chunk[static_cast<std::size_t>(reader.rx_chunk_pos++)];
    }
    const platform::ReadResult got = port.read(reader.rx_chunk);
    // The count is clamped so that a misbehaving port can never push us past the block. Bytes
    // that came before a failure are handed out; the failure shows at the next read.
    const std::size_t count = got.count < RX_CHUNK_SIZE ? got.count : RX_CHUNK_SIZE;
    if (count == 0) {
        // A failed read counts as nothing waiting; position and size stay, so the next call
        // reads again.
        return got.status == platform::IoStatus::lost ? PORT_LOST : NOTHING_WAITING;
    }
    reader.rx_chunk_size = static_cast<int>(count);
    reader.rx_chunk_pos = 1;
    return reader.rx_chunk[0];
}

std::span<std::uint8_t> frame_decoder(FrameDecoder& decoder, std::uint8_t byte) {
    // Control bytes act in every state, also straight after an ESCAPE: line noise that eats a
    // byte can never hide a frame boundary.
    switch (byte) {
        case FRAME_START:
            decoder.rx_length = 0;
            decoder.rx_escape = 0;
            decoder.rx_repeat = 1;
            return {};
        case FRAME_END: {
            const std::int16_t length = decoder.rx_length;
            // Out of the frame either way; a message stays in rx_buffer until the next frame's
            // first data byte overwrites it.
            decoder.rx_length = -1;
            if (length < 1) return {};
            return std::span<std::uint8_t>(decoder.rx_buffer.data(),
                                           static_cast<std::size_t>(length));
        }
        case ESCAPE:
            decoder.rx_escape = 1;
            return {};
        case REPEAT:
            decoder.rx_repeat = 0;
            return {};
        default:
            break;
    }
    if (decoder.rx_length < 0) return {};  // outside a frame: noise
    std::uint8_t b = byte;
    if (decoder.rx_escape != 0) {
        decoder.rx_escape = 0;
        // Only '0'..'3' stand for a reserved value. Anything else after ESCAPE is a corrupted
        // frame; delivering it would hand the program a byte the unit never sent.
        if (b < 0x30 || b > 0x33) {
            decoder.rx_length = -1;
            return {};
        }
        b = static_cast<std::uint8_t>(ESCAPE_BASE - b);
    }
    if (decoder.rx_repeat == 0) {
        decoder.rx_repeat = b == 0 ? 1 : b;
        return {};
    }
    if (decoder.rx_length + decoder.rx_repeat > static_cast<int>(RX_BUFFER_SIZE)) {
        decoder.rx_length = -1;  // too long: dropped, everything up to the next FRAME_START ignored
        return {};
    }
    std::fill_n(decoder.rx_buffer.begin() + decoder.rx_length, decoder.rx_repeat, b);
    decoder.rx_length = static_cast<std::int16_t>(decoder.rx_length + decoder.rx_repeat);
    decoder.rx_repeat = 1;
    return {};
}

}  // namespace vrk::link
