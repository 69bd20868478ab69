// Any byte stream through the frame decoder: it must never store past its 512-byte buffer and
// every message it reports must re-encode to a frame that decodes to the same message.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/frame_codec.h"
#include "tests/support/rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::link::CodecState codec;
    for (std::size_t i = 0; i < size; ++i) {
        const int n = vrk::link::frame_decoder(codec, data[i]);
        if (n < 0 || n > 512) std::abort();
        if (n > 0) {
            const vrk::test::Bytes message(codec.rx_buffer.begin(), codec.rx_buffer.begin() + n);
            const auto back = vrk::test::unframe(vrk::test::frame(message));
            if (back.size() != 1 || back[0] != message) std::abort();
            codec.rx_length = -1;
        }
    }
    return 0;
}
