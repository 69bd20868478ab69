// The fuzz targets' bodies. libFuzzer's entry points (fuzz_*.cpp, built with clang and
// -DVRK_BUILD_FUZZ=ON) call them, and so does the test that replays every kept input
// (fuzz/corpus/<target>/, fuzz/regressions/<target>/) in every ordinary and sanitizer build.
//
// A body takes any bytes whatever. It returns normally when the program held up; when one of
// its checks finds the program wrong it says which on stderr and aborts, which libFuzzer
// reports as a crash and the replay test as a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vrk::fuzz {

using Input = std::span<const std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

// The frame codec: the input as wire bytes through the decoder. Every message it hands out is at
// most 512 bytes, and goes through the encoder (a well-formed frame of at most 2n + 2 bytes) and
// the decoder again unchanged.
void decoder_input(Input input);

// A whole session on fakes, kept from input to input and restarted before each: the input is a
// sequence of steps (see DispatcherInput) that the unit, the line, the clock and the person
// take. Checks that every frame the program writes is whole and carries a message of the
// catalogue at its exact length, and that every page it sends holds the image's bytes.
void dispatcher_input(Input input);

// The station's texts: the first byte says what the rest is (by its value modulo 3: a recipe
// file, an ID template with a station number or none, a fixed ID). Checks that nothing crashes,
// that every refusal says why (a recipe file's names the file and the line), and that every ID
// a template gives or a fixed ID becomes is one the unit can store, recognised by its template.
void recipe_input(Input input);

struct Target {
    std::string_view name;  // the libFuzzer program's name and its folders' name
    void (*run)(Input input);
};

// Every target.
[[nodiscard]] std::span<const Target> targets();

// The dispatcher target's input: one step after another, each opened by one byte whose top two
// bits say what the step is and whose low six bits are its argument.
namespace step {
inline constexpr std::uint8_t KIND_MASK = 0xC0;
inline constexpr std::uint8_t ARG_MASK = 0x3F;
// The most bytes one step carries: a message of arg + 1 bytes.
inline constexpr std::size_t MAX_STEP_BYTES = ARG_MASK + 1;
// The unit sends a message of arg + 1 bytes (they follow); it arrives framed, and one tick runs.
inline constexpr std::uint8_t MESSAGE = 0x00;
// arg x WAIT_UNIT_MS pass on the clock, then one tick runs.
inline constexpr std::uint8_t WAIT = 0x40;
inline constexpr std::uint32_t WAIT_UNIT_MS = 250;
// The person (or the cable) does something: arg is an Action; some take the next byte too.
inline constexpr std::uint8_t ACTION = 0x80;
// arg + 1 raw bytes (they follow) arrive on the line as they are, and one tick runs.
inline constexpr std::uint8_t RAW = 0xC0;
}  // namespace step

enum class Action : std::uint8_t {
    pick_image,       // next byte: which item of the application list
    download,         // the Download button
    compare,          // the Compare button
    download_verify,  // a download with verify of the picked image (the command-line tool's)
    cancel,           // what the command-line tool does on Ctrl-C
    record,           // the Record button; the save dialog answers with a file name
    type_id,          // next byte: a text typed into the ID box (see type_id_text)
    send_id,          // the Send ID button
    choose_internal,  // next byte: an item of the internal-device list
    choose_external,  // next byte: an item of the external-device list
    choose_gps,       // next byte: an item of the GPS list
    qb7_mode,         // the QB7 Mode button
    run_application,  // the Run Application button
    answer_yes,       // the next yes/no question is answered Yes (else No)
    cable_out,        // CTS and DSR drop
    cable_in,         // CTS and DSR come back
    count,
};

// What the dispatcher target's world holds: two images in the current folder.
inline constexpr std::string_view SMALL_IMAGE = "SMALL.vr4";  // 3 pages, the last one short
inline constexpr std::size_t SMALL_IMAGE_SIZE = 700;
inline constexpr std::string_view LARGE_IMAGE = "WIDE.vr4";  // 257 pages: wide pages, erase blocks
inline constexpr std::size_t LARGE_IMAGE_SIZE = 257 * 256;

// Builders of the dispatcher target's inputs, for seeds.
void add_message(Bytes& input, std::span<const std::uint8_t> message);  // split past 64 bytes
void add_wait(Bytes& input, std::uint32_t ms);                          // rounded up to the unit
void add_action(Bytes& input, Action action);
void add_action(Bytes& input, Action action, std::uint8_t argument);
void add_raw(Bytes& input, std::span<const std::uint8_t> wire);

// What the program did on the line while the dispatcher target ran one input: for recording the
// replies a seed needs.
struct Recording {
    std::vector<Bytes> sent;  // every message the program sent, in order
    Bytes wire;               // and the wire bytes it wrote
};
// Runs one input like dispatcher_input, and records.
void record_dispatcher_input(Input input, Recording& recording);

}  // namespace vrk::fuzz
