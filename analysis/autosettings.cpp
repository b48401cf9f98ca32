#include "autosettings.h"

#include "score.h"

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

// A use below this share of the swing is the noise of a flat axis.
constexpr double kNoiseUse = 0.01;
// The instrument clips currents at full scale; a curve this close to it is clipped.
constexpr double kClipped = 0.99;

// Span over swing, 0 for noise, a swing of 0 or a non-finite value.
double use(const std::vector<double> &v, double swing)
{
    if (v.empty() || !(swing > 0) || !std::isfinite(swing))
        return 0;
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    const double u = (*hi - *lo) / swing;
    return std::isfinite(u) && u >= kNoiseUse ? std::min(u, 1.0) : 0.0;
}

} // namespace

std::vector<measurement_settings> candidateSettings(
    const measurement_settings &base, const std::vector<float> &voltages)
{
    std::vector<measurement_settings> out;
    for (std::uint32_t mode :
        { CURRENT_SENSE_MODE_I_LOW, CURRENT_SENSE_MODE_I_MID, CURRENT_SENSE_MODE_I_HIGH }) {
        measurement_settings s = base;
        s.CurrentSensorMode = mode;
        if (voltages.empty())
            out.push_back(s);
        for (float v : voltages) {
            s.MaxVoltage = v;
            out.push_back(s);
        }
    }
    return out;
}

double information(const IvCurve &c, const measurement_settings &s)
{
    if (c.milliamps.size() != c.volts.size() || s.CurrentSensorMode == CURRENT_SENSE_MODE_ISOLATED)
        return 0;
    const double fullScale = fullScaleMilliamps(s.CurrentSensorMode);
    for (std::size_t k = 0; k < c.volts.size(); ++k)
        if (!std::isfinite(c.volts[k]) || !(std::fabs(c.milliamps[k]) < kClipped * fullScale))
            return 0; // unreadable or clipped
    return std::min(use(c.volts, 2.0 * double(s.MaxVoltage)), use(c.milliamps, 2.0 * fullScale));
}

std::optional<std::size_t> pickSettings(const std::vector<Candidate> &candidates)
{
    std::optional<std::size_t> best;
    double most = -1;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const double info = information(candidates[k].curve, candidates[k].settings);
        if (info > most) {
            most = info;
            best = k;
        }
    }
    return best;
}

} // namespace sig
