#include "app/cli/station/station_store.h"

#include <random>

namespace vrk::cli {

std::string new_run_key() {
    // The system's entropy source: keys made at the same moment on two stations, or by two
    // processes of one, must not meet.
    static constexpr char digits[] = "0123456789abcdef";
    std::random_device source;
    std::string key;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = source();
        for (int nibble = 0; nibble < 8; ++nibble, bits >>= 4) key += digits[bits & 0x0F];
    }
    return key;
}

std::string_view id_state_name(IdState state) {
    switch (state) {
        case IdState::reserved:
            return "reserved";
        case IdState::bound:
            return "bound";
        case IdState::spent:
            break;
    }
    return "spent";
}

}  // namespace vrk::cli
