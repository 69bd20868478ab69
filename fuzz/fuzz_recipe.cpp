// libFuzzer's entry for the station's recipe files, ID templates and fixed IDs; the body is
// fuzz/recipe_target.cpp.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vrk::fuzz::recipe_input({data, size});
    return 0;
}
