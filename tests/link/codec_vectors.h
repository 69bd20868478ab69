// The frame codec's literal byte vectors: the tables its tests run and the seeds its fuzz
// target starts from (fuzz/make_seeds.cpp), kept in one place so the two cannot drift apart.
#pragma once

#include <vector>

#include "tests/support/fakes.h"

namespace vrk::test {

inline Bytes repeated(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

struct Vector {
    const char* name;
    Bytes message;
    Bytes wire;
};

// Literal wire vectors, run both ways: the encoder must produce exactly these bytes and the
// decoder must give the message back.
inline std::vector<Vector> vectors() {
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

struct DecodeCase {
    const char* name;
    Bytes wire;
    std::vector<Bytes> messages;
};

// Wire bytes and the messages the decoder must make of them.
inline std::vector<DecodeCase> decode_cases() {
    const Bytes m512 = repeated(512, 0x41);
    Bytes wire512 = hex("FF");
    for (int i = 0; i < 512; ++i) wire512.push_back(0x41);
    wire512.push_back(0xFE);
    Bytes wire513 = wire512;
    wire513.insert(wire513.end() - 1, 0x41);
    return {
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
         [=] {
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
}

}  // namespace vrk::test
