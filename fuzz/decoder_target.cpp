// The frame codec against any byte stream a line can bring. Nothing here allocates: the
// buffers are fixed and on the stack, so a long run costs no memory per input.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_targets.h"
#include "link/frame_codec.h"

namespace vrk::fuzz {

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_decoder: %s\n", what);
    std::abort();
}

// Encodes a message and decodes the frame again: the encoder's frame must be well formed
// (FRAME_START, no frame byte inside, FRAME_END, at most 2n + 2 bytes) and give the message
// back whole, as the only message, on its last byte.
void round_trip(std::span<const std::uint8_t> message) {
    // Not cleared: the encoder writes what it reports, and only that is read.
    std::array<std::uint8_t, link::max_frame_size(link::RX_BUFFER_SIZE)> wire;
    const std::size_t size = link::encode_frame(message, wire);
    if (message.empty()) {
        if (size != 0) fail("an empty message was framed");
        return;
    }
    if (size < 3 || size > link::max_frame_size(message.size())) fail("frame of a wrong size");
    if (wire[0] != link::FRAME_START || wire[size - 1] != link::FRAME_END)
        fail("frame not opened and closed");
    const auto inside = std::span<const std::uint8_t>(wire).subspan(1, size - 2);
    if (std::any_of(inside.begin(), inside.end(),
                    [](std::uint8_t b) { return b == link::FRAME_START || b == link::FRAME_END; }))
        fail("a frame byte inside the frame");

    // Kept from frame to frame, as on the line: FRAME_START puts it back to its start whatever
    // came before, and it costs no clearing per message.
    static link::FrameDecoder decoder;
    for (std::size_t i = 0; i < size; ++i) {
        const auto back = link::frame_decoder(decoder, wire[i]);
        if (back.empty()) continue;
        if (i != size - 1) fail("a message before the frame's end");
        if (!std::equal(back.begin(), back.end(), message.begin(), message.end()))
            fail("the message did not survive encoding and decoding");
        return;
    }
    fail("the frame gave no message");
}

}  // namespace

void decoder_input(Input input) {
    link::FrameDecoder decoder;
    for (const std::uint8_t byte : input) {
        const auto message = link::frame_decoder(decoder, byte);
        if (message.empty()) continue;
        if (message.size() > link::RX_BUFFER_SIZE) fail("a message longer than the buffer");
        if (decoder.rx_length != -1) fail("still inside a frame after handing out a message");
        // Every message, whatever bytes it holds (the escapes let a line carry any), must
        // survive the encoder: this is how the encoder meets every kind of message.
        round_trip(message);
    }
}

}  // namespace vrk::fuzz
