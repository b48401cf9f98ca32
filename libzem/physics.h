// The electrical behaviour of the loads a virtual probe can touch.
#pragma once

#include "options.h"

#include <cstdint>
#include <vector>

namespace zemsim {

struct Sample
{
    double volts = 0; // across the load
    double milliamps = 0; // through the load
};

// One measurement without noise or clipping: a sine of amplitude `amplitude`
// volts at `frequency` Hz behind `seriesOhms`, sampled `points` times at
// `samplingRate` Hz starting at phase 0. Reactive loads are in steady state.
std::vector<Sample> sweep(const Load &load, double amplitude, double frequency, double samplingRate,
    std::uint32_t points, double seriesOhms);

// Current in amperes of the load's static characteristic at `volts`; not
// defined for a short or a capacitor.
double loadAmps(const Load &load, double volts);

} // namespace zemsim
