// Choosing the settings that show a point best, from curves of it measured
// with several candidate settings.
#pragma once

#include "ivcurve.h"
#include "zem.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace sig {

struct Candidate
{
    measurement_settings settings;
    IvCurve curve; // the point measured with them
};

// The base settings with each current range, I_LOW, I_MID and I_HIGH in that
// order; with `voltages`, each range at each of those amplitudes (range by
// range, amplitudes in the order given).
std::vector<measurement_settings> candidateSettings(
    const measurement_settings &base, const std::vector<float> &voltages = {});

// How much a curve shows of its load, from 0 to 1.
//
// The voltage use is the curve's voltage span over the source's swing
// (2 x MaxVoltage), the current use its current span over the range's swing
// (2 x full scale); a use below 1 % is noise and counts as 0. The information
// is the smaller of the two: an open is flat (no current), a short vertical
// (no voltage), and either way the curve shows only the range, not the load;
// a load shows best where it takes a good share of both axes, which is where
// its impedance suits the range's series resistance. A curve that reaches the
// range's full scale is clipped, hides the rest of the load, and counts 0.
double information(const IvCurve &curve, const measurement_settings &settings);

// The candidate with the most information; the first of equals, so order the
// candidates by preference (candidateSettings() puts the most sensitive range
// first, which suits an open). Nothing for no candidates.
std::optional<std::size_t> pickSettings(const std::vector<Candidate> &candidates);

} // namespace sig
