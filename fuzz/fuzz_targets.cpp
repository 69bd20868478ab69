#include "fuzz/fuzz_targets.h"

#include <algorithm>
#include <array>

#include "link/frame_codec.h"

namespace vrk::fuzz {

namespace {

constexpr std::array<Target, 3> all_targets = {{
    {"fuzz_decoder", decoder_input},
    {"fuzz_dispatcher", dispatcher_input},
    {"fuzz_recipe", recipe_input},
}};

}  // namespace

std::span<const Target> targets() {
    return all_targets;
}

void add_message(Bytes& input, std::span<const std::uint8_t> message) {
    if (message.empty()) return;
    if (message.size() > step::MAX_STEP_BYTES) {
        // Longer than a step holds: its frame arrives in pieces.
        Bytes wire(link::max_frame_size(message.size()));
        wire.resize(link::encode_frame(message, wire));
        add_raw(input, wire);
        return;
    }
    input.push_back(static_cast<std::uint8_t>(step::MESSAGE | (message.size() - 1)));
    input.insert(input.end(), message.begin(), message.end());
}

void add_wait(Bytes& input, std::uint32_t ms) {
    std::uint32_t units = (ms + step::WAIT_UNIT_MS - 1) / step::WAIT_UNIT_MS;
    do {
        const std::uint32_t now = std::min<std::uint32_t>(units, step::ARG_MASK);
        input.push_back(static_cast<std::uint8_t>(step::WAIT | now));
        units -= now;
    } while (units > 0);
}

void add_action(Bytes& input, Action action) {
    input.push_back(static_cast<std::uint8_t>(step::ACTION | static_cast<std::uint8_t>(action)));
}

void add_action(Bytes& input, Action action, std::uint8_t argument) {
    add_action(input, action);
    input.push_back(argument);
}

void add_raw(Bytes& input, std::span<const std::uint8_t> wire) {
    for (std::size_t at = 0; at < wire.size(); at += step::MAX_STEP_BYTES) {
        const auto piece = wire.subspan(at, std::min(step::MAX_STEP_BYTES, wire.size() - at));
        input.push_back(static_cast<std::uint8_t>(step::RAW | (piece.size() - 1)));
        input.insert(input.end(), piece.begin(), piece.end());
    }
}

}  // namespace vrk::fuzz
