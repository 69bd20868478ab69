// SHA-256 of an image, as the production record carries it: the standard's test messages,
// including the lengths whose padding takes a second block.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vrk::test {
namespace {

TEST(Sha256, StandardTestMessages) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const std::vector<Case> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.message.data());
        EXPECT_EQ(platform::sha256_hex({bytes, c.message.size()}), c.digest)
            << c.message.size() << " bytes";
    }
}

}  // namespace
}  // namespace vrk::test
