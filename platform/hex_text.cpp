#include "platform/hex_text.h"

namespace vrk::platform {

namespace {

constexpr char UPPER_DIGITS[] = "0123456789ABCDEF";
constexpr char LOWER_DIGITS[] = "0123456789abcdef";

}  // namespace

void append_hex(std::string& out, std::span<const std::uint8_t> bytes, HexCase letters,
                char separator) {
    const char* digits = letters == HexCase::upper ? UPPER_DIGITS : LOWER_DIGITS;
    out.reserve(out.size() + bytes.size() * (separator != '\0' ? 3 : 2));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && separator != '\0') out += separator;
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
}

std::string hex_text(std::span<const std::uint8_t> bytes, HexCase letters, char separator) {
    std::string out;
    append_hex(out, bytes, letters, separator);
    return out;
}

std::string hex_code(std::uint8_t code) {
    std::string out = "0x";
    append_hex(out, std::span<const std::uint8_t>(&code, 1));
    return out;
}

}  // namespace vrk::platform
