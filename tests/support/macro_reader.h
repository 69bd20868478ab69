// Reads a macro file back into its records, for the tests: the format is written by the
// program and played by the unit's BIOS, and nothing else in the program reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace vrk::test {

struct MacroRecord {
    Bytes message;
    std::uint16_t reply_word = 0;  // reply length in bits 0-14, the player's flag in bit 15
    Bytes reply;

    // Bytes the record takes in the file.
    [[nodiscard]] std::size_t size() const { return 4 + message.size() + reply.size(); }
    bool operator==(const MacroRecord&) const = default;
};

struct MacroParse {
    std::vector<MacroRecord> records;
    // Empty when the file is a whole number of records; otherwise says where and why not.
    std::string error;
    [[nodiscard]] bool ok() const { return error.empty(); }
};

// Splits a macro file into records. A record cut off anywhere (in its header, message or
// reply) is reported as an error; the records before it are kept.
[[nodiscard]] MacroParse read_macro(const Bytes& file);

}  // namespace vrk::test
