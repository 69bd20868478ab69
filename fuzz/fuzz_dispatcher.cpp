// libFuzzer's entry for a whole session fed by a hostile unit; the body is
// fuzz/dispatcher_target.cpp.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::fuzz::dispatcher_input({data, size});
    return 0;
}
