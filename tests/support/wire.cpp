#include "tests/support/wire.h"

#include "link/frame_codec.h"

namespace vrk::test {

Bytes frame(const Bytes& message) {
    Bytes wire(link::max_frame_size(message.size()));
    wire.resize(link::encode_frame(message, wire));
    return wire;
}

std::vector<Bytes> unframe(const Bytes& wire) {
    link::FrameDecoder decoder;
    std::vector<Bytes> out;
    for (std::uint8_t b : wire) {
        const auto message = link::frame_decoder(decoder, b);
        if (!message.empty()) out.emplace_back(message.begin(), message.end());
    }
    return out;
}

bool has_message(const std::vector<Bytes>& messages, std::uint8_t type, std::size_t length) {
    for (const Bytes& m : messages)
        if (!m.empty() && m[0] == type && m.size() == length) return true;
    return false;
}

}  // namespace vrk::test
