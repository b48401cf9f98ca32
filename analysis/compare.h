// Testing a curve against the curves of several good boards: the band their
// spread spans, how far a test curve lies outside it, which points' good
// boards disagree too much to give a useful band, and whether a point's own
// repeated captures agree at all.
#pragma once

#include "ivcurve.h"
#include "zem.h"

#include <cstddef>
#include <vector>

namespace sig {

// References of one point beyond this many are ignored: twenty boards show a
// lot's spread well, and every one more adds to each comparison's cost.
inline constexpr std::size_t kMaxReferences = 20;
// A point is flagged when its boards disagree this many times more than the
// median point's do (and by more than half the tolerance).
inline constexpr double kDisagreementFactor = 3.0;

// At every sample, the lowest and highest voltage and current of any
// reference; and the largest span (max - min) of any one reference per axis.
struct Band
{
    std::vector<double> voltsLow, voltsHigh, milliampsLow, milliampsHigh;
    double voltsSpan = 0, milliampsSpan = 0;

    bool empty() const { return voltsLow.empty(); }
    std::size_t size() const { return voltsLow.size(); }
};

// The band of the first kMaxReferences references. Empty when there is none,
// when their lengths differ or when one holds a non-finite value.
Band band(const std::vector<IvCurve> &references);

// How far the test curve lies outside the band, in percent, measured as
// score() measures two curves apart but with each point's distance taken to
// the nearest edge of the band on each axis (0 inside it). With one
// reference it is score(reference, test, settings), bit for bit. 100 for an
// empty band, or a test curve of another length or with a non-finite value.
double bandScore(const Band &band, const IvCurve &test, const measurement_settings &settings);
double bandScore(const std::vector<IvCurve> &references, const IvCurve &test,
    const measurement_settings &settings);

// How much a point's good boards disagree: the score one edge of their band
// would get against the other. 0 for one board; 100 for an empty band.
double disagreement(const std::vector<IvCurve> &references, const measurement_settings &settings);

// The points whose good boards disagree much more than the others' (a
// potentiometer, a jumper, a floating node): above kDisagreementFactor times
// the median of all points' disagreements and above half the tolerance.
// Indices into `disagreements`, in order.
std::vector<std::size_t> disagreeingPoints(
    const std::vector<double> &disagreements, double tolerance);

// The largest score between any two of a point's repeated captures (the first
// kMaxReferences of them), 0 for fewer than two.
double repeatScore(const std::vector<IvCurve> &captures, const measurement_settings &settings);
// A point whose own captures differ by more than the tolerance cannot be
// compared with anything: it floats or oscillates.
bool isUnstable(
    const std::vector<IvCurve> &captures, const measurement_settings &settings, double tolerance);

} // namespace sig
