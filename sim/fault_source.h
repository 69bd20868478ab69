// The seeded source of every random fault of the simulated unit, and of the demo image's bytes.
// Its sequence depends only on the seed and the order of the draws, so a failing run can be
// repeated exactly, on every system. Needs nothing but the standard library: the Windows build
// also compiles it for the build machine, to write the demo image its installer carries.
#pragma once

#include <cstdint>

namespace vrk::sim {

class FaultSource {
  public:
    explicit FaultSource(std::uint64_t seed) : state_(seed) {}
    // True with probability p (p <= 0 never draws, so a fault-free run uses no numbers).
    bool chance(double p);
    std::uint64_t next();

  private:
    std::uint64_t state_;
};

}  // namespace vrk::sim
