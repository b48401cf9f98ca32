// The difference score between a test curve and a reference measured with the
// same settings, in percent (see the README, "Signatures", for the formula).
#pragma once

#include "curve.h"
#include "zem.h"

#include <cstdint>

namespace sig {

// The full scale in mA of a current sensing range; 1 for the isolated path,
// which measures no current.
double fullScaleMilliamps(std::uint32_t currentSensorMode);

// 0 for identical curves, up to 100. Curves of different lengths (which the
// same settings never give) score 100; so does a curve with a non-finite value.
double score(const IvCurve &reference, const IvCurve &test, const measurement_settings &settings);

} // namespace sig
