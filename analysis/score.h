// The difference score between a test curve and a reference measured with the
// same settings, in percent (see docs/test-engineer.md, "The score", for the formula).
#pragma once

#include "ivcurve.h"
#include "zem.h"

#include <cstddef>
#include <cstdint>

namespace sig {

// The full scale in mA of a current sensing range; 1 for the isolated path,
// which measures no current.
double fullScaleMilliamps(std::uint32_t currentSensorMode);

// What score() divides voltage and current by, from the largest span (max -
// min) of the curves compared on each axis: the span, or the floor of the
// settings' ranges when that is larger.
struct Scales
{
    double volts = 1;
    double milliamps = 1;
};
Scales scales(double voltsSpan, double milliampsSpan, const measurement_settings &settings);

// The score of n points whose squared distances, in scales, sum to `sum`:
// 100 for a non-finite sum or no points.
double scoreOf(double sum, std::size_t n);

// 0 for identical curves, up to 100. Curves of different lengths (which the
// same settings never give) score 100; so does a curve with a non-finite value.
double score(const IvCurve &reference, const IvCurve &test, const measurement_settings &settings);

} // namespace sig
