#include "tests/support/rig.h"

namespace vrk::test {

namespace {

// Collects what the encoder writes.
class CapturePort : public FakePort {};

}  // namespace

Bytes frame(const Bytes& message) {
    link::CodecState codec;
    CapturePort sink;
    link::encode_frame(codec, sink, message);
    return sink.written();
}

std::vector<Bytes> unframe(const Bytes& wire) {
    link::CodecState codec;
    std::vector<Bytes> out;
    for (std::uint8_t b : wire) {
        const int n = link::frame_decoder(codec, b);
        if (n > 0) {
            out.emplace_back(codec.rx_buffer.begin(), codec.rx_buffer.begin() + n);
            codec.rx_length = -1;
        }
    }
    return out;
}

void Rig::feed_message(const Bytes& message) {
    port.feed(frame(message));
}

std::vector<Bytes> Rig::take_sent() {
    auto messages = unframe(port.written());
    port.clear_writes();
    return messages;
}

}  // namespace vrk::test
