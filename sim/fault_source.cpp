#include "sim/fault_source.h"

namespace vrk::sim {

std::uint64_t FaultSource::next() {
    // splitmix64: tiny, fast, and the same numbers on every platform and library, unlike the
    // standard distributions.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool FaultSource::chance(double p) {
    if (!(p > 0)) return false;
    if (p >= 1) return true;
    const double u = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);  // [0, 1)
    return u < p;
}

}  // namespace vrk::sim
