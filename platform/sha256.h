// SHA-256, for the production record of a download: which image, byte for byte, went into a
// unit. Pure code, the same on every platform.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vrk::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

[[nodiscard]] Sha256Digest sha256(std::span<const std::uint8_t> bytes);
// The digest as 64 lower-case hex digits.
[[nodiscard]] std::string sha256_hex(std::span<const std::uint8_t> bytes);

}  // namespace vrk::platform
