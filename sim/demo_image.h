// A firmware image to try the program with: pseudo-random bytes, the same on every run, so a
// download can be checked against the file byte for byte. Its size (not a multiple of 256 and
// above 64 KiB) makes the download use the block erase, the wide page messages and a short
// last page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrk::sim {

inline constexpr std::size_t DEMO_IMAGE_SIZE = 100'000;
inline constexpr const char* DEMO_IMAGE_NAME = "VRK700-demo.vr4";

// `size` deterministic pseudo-random bytes for `seed`. The last byte is never 0xFF, so the
// image can be told from the erased flash that follows it.
[[nodiscard]] std::vector<std::uint8_t> make_demo_image(std::size_t size, std::uint64_t seed = 700);

// Writes the demo image to `path`; false with a reason in *error when the file cannot be written.
bool write_demo_image(const std::string& path, std::string* error,
                      std::size_t size = DEMO_IMAGE_SIZE);

}  // namespace vrk::sim
