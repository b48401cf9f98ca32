#include "compare.h"

#include "score.h"

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

bool allFinite(const std::vector<double> &v)
{
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

// How far x lies outside [lo, hi]; NaN stays NaN. For lo == hi it is
// exactly |x - lo|, which keeps one reference's score that of score().
double outside(double x, double lo, double hi)
{
    return std::max(x - hi, 0.0) + std::max(lo - x, 0.0);
}

} // namespace

Band band(const std::vector<IvCurve> &references)
{
    Band b;
    if (references.empty() || references.front().volts.empty())
        return b;
    const std::size_t n = references.front().volts.size();
    const std::size_t count = std::min(references.size(), kMaxReferences);
    for (std::size_t r = 0; r < count; ++r) {
        const IvCurve &c = references[r];
        if (c.volts.size() != n || c.milliamps.size() != n || !allFinite(c.volts)
            || !allFinite(c.milliamps))
            return Band();
    }
    const IvCurve &first = references.front();
    b.voltsLow = b.voltsHigh = first.volts;
    b.milliampsLow = b.milliampsHigh = first.milliamps;
    for (std::size_t r = 0; r < count; ++r) {
        const IvCurve &c = references[r];
        for (std::size_t k = 0; k < n; ++k) {
            b.voltsLow[k] = std::min(b.voltsLow[k], c.volts[k]);
            b.voltsHigh[k] = std::max(b.voltsHigh[k], c.volts[k]);
            b.milliampsLow[k] = std::min(b.milliampsLow[k], c.milliamps[k]);
            b.milliampsHigh[k] = std::max(b.milliampsHigh[k], c.milliamps[k]);
        }
        b.voltsSpan = std::max(b.voltsSpan, span(c.volts));
        b.milliampsSpan = std::max(b.milliampsSpan, span(c.milliamps));
    }
    return b;
}

double bandScore(const Band &b, const IvCurve &t, const measurement_settings &s)
{
    const std::size_t n = b.size();
    if (n == 0 || t.volts.size() != n || t.milliamps.size() != n)
        return 100.0;
    const Scales scale = scales(
        std::max(b.voltsSpan, span(t.volts)), std::max(b.milliampsSpan, span(t.milliamps)), s);
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double dv = outside(t.volts[k], b.voltsLow[k], b.voltsHigh[k]) / scale.volts;
        const double di
            = outside(t.milliamps[k], b.milliampsLow[k], b.milliampsHigh[k]) / scale.milliamps;
        sum += dv * dv + di * di;
    }
    return scoreOf(sum, n);
}

double bandScore(
    const std::vector<IvCurve> &references, const IvCurve &test, const measurement_settings &s)
{
    return bandScore(band(references), test, s);
}

double disagreement(const std::vector<IvCurve> &references, const measurement_settings &s)
{
    const Band b = band(references);
    const std::size_t n = b.size();
    if (n == 0)
        return 100.0;
    const Scales scale = scales(b.voltsSpan, b.milliampsSpan, s);
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double dv = (b.voltsHigh[k] - b.voltsLow[k]) / scale.volts;
        const double di = (b.milliampsHigh[k] - b.milliampsLow[k]) / scale.milliamps;
        sum += dv * dv + di * di;
    }
    return scoreOf(sum, n);
}

std::vector<std::size_t> disagreeingPoints(
    const std::vector<double> &disagreements, double tolerance)
{
    std::vector<double> known;
    for (double d : disagreements)
        if (std::isfinite(d))
            known.push_back(d);
    std::vector<std::size_t> flagged;
    if (known.empty())
        return flagged;
    const std::size_t mid = known.size() / 2;
    std::nth_element(known.begin(), known.begin() + std::ptrdiff_t(mid), known.end());
    double median = known[mid];
    if (known.size() % 2 == 0)
        median = 0.5
            * (median + *std::max_element(known.begin(), known.begin() + std::ptrdiff_t(mid)));
    const double limit = std::max(kDisagreementFactor * median, 0.5 * tolerance);
    for (std::size_t p = 0; p < disagreements.size(); ++p)
        if (disagreements[p] > limit)
            flagged.push_back(p);
    return flagged;
}

double repeatScore(const std::vector<IvCurve> &captures, const measurement_settings &s)
{
    const std::size_t count = std::min(captures.size(), kMaxReferences);
    double worst = 0;
    for (std::size_t a = 0; a < count; ++a)
        for (std::size_t b = a + 1; b < count; ++b)
            worst = std::max(worst, score(captures[a], captures[b], s));
    return worst;
}

bool isUnstable(
    const std::vector<IvCurve> &captures, const measurement_settings &s, double tolerance)
{
    return repeatScore(captures, s) > tolerance;
}

} // namespace sig
