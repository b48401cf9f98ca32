#include "symmetry.h"

#include "score.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace sig {
namespace {

// A curve the median can take: as many currents as voltages, all finite (a
// NaN would break the ordering the median sorts by).
bool usable(const IvCurve &c)
{
    const auto finite = [](double x) { return std::isfinite(x); };
    return c.milliamps.size() == c.volts.size()
        && std::all_of(c.volts.begin(), c.volts.end(), finite)
        && std::all_of(c.milliamps.begin(), c.milliamps.end(), finite);
}

double median(std::vector<double> &v)
{
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
    if (v.size() % 2)
        return v[mid];
    return 0.5 * (v[mid] + *std::max_element(v.begin(), v.begin() + std::ptrdiff_t(mid)));
}

} // namespace

IvCurve medianCurve(const std::vector<IvCurve> &curves)
{
    std::vector<const IvCurve *> taken;
    std::map<std::size_t, std::size_t> counts;
    std::size_t n = 0, most = 0;
    for (const IvCurve &c : curves) {
        if (!usable(c))
            continue;
        taken.push_back(&c);
        const std::size_t count = ++counts[c.volts.size()];
        if (count > most) {
            most = count;
            n = c.volts.size();
        }
    }
    taken.erase(std::remove_if(taken.begin(), taken.end(),
                    [n](const IvCurve *c) { return c->volts.size() != n; }),
        taken.end());
    IvCurve m;
    std::vector<double> v(taken.size()), i(taken.size());
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t c = 0; c < taken.size(); ++c) {
            v[c] = taken[c]->volts[k];
            i[c] = taken[c]->milliamps[k];
        }
        m.volts.push_back(median(v));
        m.milliamps.push_back(median(i));
    }
    return m;
}

std::vector<GroupMember> symmetry(
    const std::vector<IvCurve> &curves, const measurement_settings &s, double tolerance)
{
    const IvCurve middle = medianCurve(curves);
    std::vector<GroupMember> out(curves.size());
    for (std::size_t p = 0; p < curves.size(); ++p) {
        out[p].score = score(middle, curves[p], s);
        out[p].outlier = curves.size() >= 3 && !(out[p].score <= tolerance);
        if (out[p].outlier)
            out[p].cause = cause(middle, curves[p], s);
    }
    return out;
}

} // namespace sig
