// Bytes as hexadecimal text: the wire trace and the simulator's log ("FF 0B 00 FE"), digests
// and keys ("9f86d0..."), a device code ("0x2B"), a control character in a message ("\x07").
// One place for the digits, so every text of the program writes them alike.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vrk::platform {

enum class HexCase { upper, lower };

// Appends two digits per byte, `separator` between bytes ('\0': none).
void append_hex(std::string& out, std::span<const std::uint8_t> bytes,
                HexCase letters = HexCase::upper, char separator = ' ');

// The bytes as "FF 0B 00 FE" (or with other letters and separator).
[[nodiscard]] std::string hex_text(std::span<const std::uint8_t> bytes,
                                   HexCase letters = HexCase::upper, char separator = ' ');

// A device code as the lists and messages show it: "0x2B".
[[nodiscard]] std::string hex_code(std::uint8_t code);

}  // namespace vrk::platform
