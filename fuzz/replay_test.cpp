// Every kept input of every fuzz target through the target's body, in the ordinary build and the
// sanitizer build, without libFuzzer: the seeds and what runs found new (fuzz/corpus/<target>/)
// and each crash a run ever found (fuzz/regressions/<target>/), so a mended crash stays mended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace vrk::fuzz {
namespace {

namespace fs = std::filesystem;

// The inputs kept in a folder, in name order; none when it does not exist. Names that begin
// with a dot (.gitkeep) are not inputs.
std::vector<fs::path> inputs_in(const fs::path& folder) {
    std::vector<fs::path> found;
    if (!fs::is_directory(folder)) return found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

Bytes read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class KeptInputs : public testing::TestWithParam<Target> {};

TEST_P(KeptInputs, RunClean) {
    const Target& target = GetParam();
    const fs::path root(VRK_FUZZ_DIR);
    const auto seeds = inputs_in(root / "corpus" / target.name);
    // Without seeds the fuzzer starts from nothing; and a wrong folder here would pass unseen.
    EXPECT_FALSE(seeds.empty()) << "no inputs in " << (root / "corpus" / target.name);
    auto all = seeds;
    const auto regressions = inputs_in(root / "regressions" / target.name);
    all.insert(all.end(), regressions.begin(), regressions.end());
    for (const fs::path& path : all) {
        // A body that finds the program wrong aborts: the last name printed is the input.
        std::printf("%s\n", path.string().c_str());
        std::fflush(stdout);
        const Bytes input = read_all(path);
        target.run(input);
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, KeptInputs, testing::ValuesIn(targets().begin(), targets().end()),
                         [](const testing::TestParamInfo<Target>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace vrk::fuzz
