// Frames for the tests: the wire form of a message and the messages in a stream of wire bytes,
// through the program's own codec.
#pragma once

#include <vector>

#include "tests/support/fakes.h"

namespace vrk::test {

// The wire form of a message.
Bytes frame(const Bytes& message);
// The messages in a stream of wire bytes.
std::vector<Bytes> unframe(const Bytes& wire);

}  // namespace vrk::test
