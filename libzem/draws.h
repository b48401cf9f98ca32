// The virtual instrument's random numbers: each board's own deviations from
// the nominal load, and each capture's noise, the same on every platform and
// run.
#pragma once

#include "options.h"

#include <cstddef>
#include <cstdint>

namespace zemsim {

// Beyond the 32 bits of seed=, so no explicit seed gives the draws of a URL
// without one.
constexpr std::uint64_t kDefaultSeed = std::uint64_t(1) << 32;

// The random numbers of one capture: a splitmix64 stream started from the
// seed, the board, the pin's position and the capture's number on that pin.
// A capture thus draws the same numbers whatever was measured before it, and
// the uniform and normal draws are our own so no standard library's
// distributions can change them.
class CaptureRandom
{
public:
    CaptureRandom(
        std::uint64_t seed, std::uint64_t board, std::size_t position, std::uint64_t capture);

    double symmetric(); // in [-1, 1)
    double normal(); // standard normal

private:
    std::uint64_t next();

    std::uint64_t state_ = 0;
    double spare_ = 0;
    bool hasSpare_ = false;
};

// Each value of the load gets its own factor; a spread of 0 changes none.
Load boardLoad(Load load, std::uint64_t board, std::size_t position, double spread);

} // namespace zemsim
