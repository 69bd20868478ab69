#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <array>

#include "link/link.h"
#include "tests/link/codec_vectors.h"
#include "tests/support/fakes.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

TEST(FrameCodec, VectorsEncodeExactlyAndDecodeBack) {
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(to_hex(frame(v.message)), to_hex(v.wire));
        const auto messages = unframe(v.wire);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], v.message);
    }
}

// A link on a fake port, with a hook that counts what it is offered.
struct LinkRig : link::SendHook {
    FakePort port;
    FakeClock clock;
    link::Link line{port, clock};
    int before = 0;
    int after = 0;
    LinkRig() { link::add_send_hook(line, *this); }
    void before_send(std::span<const std::uint8_t>) override { ++before; }
    void after_send(std::span<const std::uint8_t>, std::span<const std::uint8_t> wire) override {
        ++after;
        EXPECT_EQ(Bytes(wire.begin(), wire.end()), port.written()) << "the frame is out";
    }
};

TEST(FrameCodec, EmptyMessageWritesNothingAndReachesNoHook) {
    LinkRig rig;
    link::send_message(rig.line, {});
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_EQ(rig.before + rig.after, 0);
    link::send_message(rig.line, hex("0B 00"));
    EXPECT_EQ(rig.before, 1);
    EXPECT_EQ(rig.after, 1);
}

TEST(FrameCodec, EachFrameIsOneWriteAndLongFramesSplitAt512) {
    // 260 bytes that never repeat three times and are all reserved values: 2n + 2 wire bytes.
    Bytes message;
    for (int i = 0; i < 260; ++i)
        message.push_back(static_cast<std::uint8_t>(0xFC + (i % 2) + ((i / 2) % 2) * 2));
    LinkRig rig;
    link::send_message(rig.line, message);
    ASSERT_EQ(rig.port.writes.size(), 2u);
    EXPECT_EQ(rig.port.writes[0].size(), 512u);
    EXPECT_EQ(rig.port.writes[0].size() + rig.port.writes[1].size(), 2 * message.size() + 2);
    EXPECT_EQ(unframe(rig.port.written()), std::vector<Bytes>{message});

    rig.port.clear_writes();
    link::send_message(rig.line, hex("0B 00"));
    EXPECT_EQ(rig.port.writes.size(), 1u);
}

TEST(FrameCodec, EncoderRefusesABufferTooSmallForTheWorstCase) {
    // The worst case of a 3-byte message is 8 wire bytes; a buffer that would fit this
    // particular frame (5 bytes) but not the worst case is refused, never overrun.
    std::array<std::uint8_t, 7> small{};
    EXPECT_EQ(link::encode_frame(hex("41 41 41"), small), 0u);
    std::array<std::uint8_t, 8> enough{};
    EXPECT_EQ(link::encode_frame(hex("41 41 41"), enough), 5u);
}

TEST(FrameDecoder, StateMachine) {
    for (const DecodeCase& c : decode_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(unframe(c.wire), c.messages);
    }
}

TEST(FrameDecoder, NeverWritesPastItsBufferWhateverArrives) {
    // Pseudo-random wire bytes rich in control values; the sanitizer build checks the bounds.
    link::FrameDecoder decoder;
    std::uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        const auto b = static_cast<std::uint8_t>((x >> 16) % 7 == 0 ? 0xFC + ((x >> 8) & 3)
                                                                    : (x >> 16) & 0xFF);
        const auto message = link::frame_decoder(decoder, b);
        ASSERT_LE(message.size(), 512u);
        if (!message.empty()) {
            ASSERT_EQ(decoder.rx_length, -1);  // out of the frame by itself
        }
    }
}

TEST(PortReadByte, ReadsInBlocksAndTreatsFailureAsNothing) {
    FakePort port;
    link::PortReader reader;
    port.feed(repeated(100, 0x07));
    int count = 0;
    while (link::port_read_byte(reader, port) == 0x07) ++count;
    EXPECT_EQ(count, 100);  // 80 + 20: the block size caps one read
    port.reads.push_back(std::nullopt);
    port.feed(hex("09"));
    EXPECT_EQ(link::port_read_byte(reader, port), -1);
    EXPECT_EQ(link::port_read_byte(reader, port), 0x09);
}

}  // namespace
}  // namespace vrk::test
