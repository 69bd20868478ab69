#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <array>

#include "link/link.h"
#include "tests/support/fakes.h"
#include "tests/support/wire.h"

namespace vrk::test {
namespace {

Bytes repeated(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

struct Vector {
    const char* name;
    Bytes message;
    Bytes wire;
};

// Literal wire vectors, run both ways: the encoder must produce exactly these bytes and the
// decoder must give the message back.
std::vector<Vector> vectors() {
    return {
        {"id query", hex("0B 00"), hex("FF 0B 00 FE")},
        {"one byte", hex("01"), hex("FF 01 FE")},
        {"pair stays literal", hex("41 41"), hex("FF 41 41 FE")},
        {"three make a run", hex("41 41 41"), hex("FF FC 03 41 FE")},
        {"300 split 255+45", repeated(300, 0x41), hex("FF FC FD 30 41 FC 2D 41 FE")},
        {"256 = run + single", repeated(256, 0x41), hex("FF FC FD 30 41 41 FE")},
        {"257 = run + pair", repeated(257, 0x41), hex("FF FC FD 30 41 41 41 FE")},
        {"258 = run + run of 3", repeated(258, 0x41), hex("FF FC FD 30 41 FC 03 41 FE")},
        {"count 252 escaped", repeated(252, 0x41), hex("FF FC FD 33 41 FE")},
        {"count 253 escaped", repeated(253, 0x41), hex("FF FC FD 32 41 FE")},
        {"count 254 escaped", repeated(254, 0x41), hex("FF FC FD 31 41 FE")},
        {"count 255 escaped", repeated(255, 0x41), hex("FF FC FD 30 41 FE")},
        {"run of an escaped value", repeated(4, 0xFE), hex("FF FC 04 FD 31 FE")},
        {"long run of FF", repeated(300, 0xFF), hex("FF FC FD 30 FD 30 FC 2D FD 30 FE")},
        {"all four reserved", hex("15 FC FD FE FF 30"), hex("FF 15 FD 33 FD 32 FD 31 FD 30 30 FE")},
        {"type byte begins a run", hex("2A 2A 2A 01"), hex("FF FC 03 2A 01 FE")},
    };
}

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

struct DecodeCase {
    const char* name;
    Bytes wire;
    std::vector<Bytes> messages;
};

TEST(FrameDecoder, StateMachine) {
    const Bytes m512 = repeated(512, 0x41);
    Bytes wire512 = hex("FF");
    for (int i = 0; i < 512; ++i) wire512.push_back(0x41);
    wire512.push_back(0xFE);
    Bytes wire513 = wire512;
    wire513.insert(wire513.end() - 1, 0x41);
    const std::vector<DecodeCase> cases = {
        {"empty frame yields nothing", hex("FF FE"), {}},
        {"noise before the first start", hex("30 31 32 33 FD FC 41 FE FF 42 FE"), {hex("42")}},
        {"restart inside a frame", hex("FF 41 42 FF 43 FE"), {hex("43")}},
        {"count 0 taken as 1", hex("FF FC 00 41 FE"), {hex("41")}},
        {"count 1", hex("FF FC 01 41 FE"), {hex("41")}},
        {"count 2", hex("FF FC 02 41 FE"), {hex("41 41")}},
        {"escaped FF", hex("FF FD 30 FE"), {hex("FF")}},
        {"plain 30 is data", hex("FF 30 FE"), {hex("30")}},
        {"end acts while escape pending", hex("FF 0B FD FE"), {hex("0B")}},
        {"escape survives REPEAT and applies to the count",
         hex("FF FD FC 30 41 FE"),
         {repeated(255, 0x41)}},
        {"512 delivered bytewise", wire512, {m512}},
        {"513 bytewise dropped up to next start",
         [&] {
             Bytes w = wire513;
             w.push_back(0x42);
             w.push_back(0xFE);
             Bytes t = hex("FF 43 FE");
             w.insert(w.end(), t.begin(), t.end());
             return w;
         }(),
         {hex("43")}},
        {"512 by runs", hex("FF FC 02 41 FC FD 30 41 FC FD 30 41 FE"), {m512}},
        {"run passing 512 dropped", hex("FF FC 03 41 FC FD 30 41 FC FD 30 41 FE"), {}},
        {"escape of a non-digit drops the frame", hex("FF 41 FD 41 42 FE FF 44 FE"), {hex("44")}},
        {"two frames in a row", hex("FF 01 FE FF 02 02 FE"), {hex("01"), hex("02 02")}},
        {"end outside a frame", hex("FE FE FF 05 FE"), {hex("05")}},
    };
    for (const DecodeCase& c : cases) {
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
