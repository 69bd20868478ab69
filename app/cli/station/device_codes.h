// The unit's three device settings as the codes exchanged with it: what a recipe asks for and
// what a unit's record holds.
#pragma once

#include <cstdint>
#include <optional>

namespace vrk::cli {

struct DeviceCodes {
    // nullopt: not asked for (a recipe), not known (a record)
    std::optional<std::uint8_t> gps, internal, external;
    friend bool operator==(const DeviceCodes&, const DeviceCodes&) = default;
};

}  // namespace vrk::cli
