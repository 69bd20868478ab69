// libFuzzer's entry for the frame codec; the body is fuzz/decoder_target.cpp.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::fuzz::decoder_input({data, size});
    return 0;
}
