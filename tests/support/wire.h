// Frames for the tests: the wire form of a message and the messages in a stream of wire bytes,
// through the program's own codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/fakes.h"

namespace vrk::test {

// The wire form of a message.
Bytes frame(const Bytes& message);
// The messages in a stream of wire bytes.
std::vector<Bytes> unframe(const Bytes& wire);
// Whether `messages` hold one of `type` that is `length` bytes long.
bool has_message(const std::vector<Bytes>& messages, std::uint8_t type, std::size_t length);

}  // namespace vrk::test
