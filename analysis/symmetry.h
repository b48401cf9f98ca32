// Points that should look alike (the pins of a bus, the phases of a bridge)
// compared with each other instead of with a known-good board: the odd one
// out is the suspect.
#pragma once

#include "cause.h"
#include "ivcurve.h"
#include "zem.h"

#include <vector>

namespace sig {

struct GroupMember
{
    double score = 0; // against the group's median curve, percent
    bool outlier = false;
    Cause cause; // why it differs from the median, for an outlier
};

// At every sample the median voltage and the median current of the curves of
// the length most of them share, leaving out curves with a non-finite value.
// Empty when no curve is left.
IvCurve medianCurve(const std::vector<IvCurve> &curves);

// Scores each curve against the group's median curve; those above the
// tolerance are outliers. With fewer than three curves there is no majority
// to tell the odd one out, and none is flagged.
std::vector<GroupMember> symmetry(
    const std::vector<IvCurve> &curves, const measurement_settings &settings, double tolerance);

} // namespace sig
