#include "score.h"

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

// The floors keep a flat axis (the current of an open circuit, the voltage of
// a short) from blowing its noise up to full size: a span below them counts
// as that much. The voltage noise is larger against its range, hence the
// larger floor.
constexpr double kVoltageFloor = 0.05; // of the source's swing, 2 x MaxVoltage
constexpr double kCurrentFloor = 0.02; // of the range's swing, 2 x full scale
constexpr double kAbsoluteVoltageFloor = 1e-3; // V, for a source set to 0 V
// The mean distance, in frames, that scores 100%.
constexpr double kFullScore = 0.25;

} // namespace

double fullScaleMilliamps(std::uint32_t mode)
{
    switch (mode) {
    case CURRENT_SENSE_MODE_I_LOW:
        return 1.0;
    case CURRENT_SENSE_MODE_I_MID:
        return 16.0;
    case CURRENT_SENSE_MODE_I_HIGH:
        return 128.0;
    default:
        return 1.0;
    }
}

Scales scales(double voltsSpan, double milliampsSpan, const measurement_settings &s)
{
    const double maxVolts = std::isfinite(s.MaxVoltage) ? std::fabs(double(s.MaxVoltage)) : 0.0;
    return { std::max({ voltsSpan, kVoltageFloor * 2 * maxVolts, kAbsoluteVoltageFloor }),
        std::max(milliampsSpan, kCurrentFloor * 2 * fullScaleMilliamps(s.CurrentSensorMode)) };
}

double scoreOf(double sum, std::size_t n)
{
    const double result = n ? 100.0 * std::sqrt(sum / double(n)) / kFullScore : NAN;
    return std::isfinite(result) ? std::min(result, 100.0) : 100.0;
}

double score(const IvCurve &r, const IvCurve &t, const measurement_settings &s)
{
    const std::size_t n = r.volts.size();
    if (n == 0 || t.volts.size() != n || r.milliamps.size() != n || t.milliamps.size() != n)
        return 100.0;
    const Scales scale = scales(
        std::max(span(r.volts), span(t.volts)), std::max(span(r.milliamps), span(t.milliamps)), s);
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double dv = (t.volts[k] - r.volts[k]) / scale.volts;
        const double di = (t.milliamps[k] - r.milliamps[k]) / scale.milliamps;
        sum += dv * dv + di * di;
    }
    return scoreOf(sum, n);
}

} // namespace sig
