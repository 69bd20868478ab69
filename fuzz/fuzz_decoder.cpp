// Any byte stream through the frame decoder: it must never store past its 512-byte buffer and
// every message it reports must re-encode to a frame that decodes to the same message.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/frame_codec.h"
#include "tests/support/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::link::FrameDecoder decoder;
    for (std::size_t i = 0; i < size; ++i) {
        const auto span = vrk::link::frame_decoder(decoder, data[i]);
        if (span.size() > 512) std::abort();
        if (!span.empty()) {
            const vrk::test::Bytes message(span.begin(), span.end());
            const auto back = vrk::test::unframe(vrk::test::frame(message));
            if (back.size() != 1 || back[0] != message) std::abort();
        }
    }
    return 0;
}
