#include "ivcurve.h"

#include "curve.h"

#include <algorithm>

namespace sig {

IvCurve ivCurveOf(const Curve &measured)
{
    IvCurve out;
    out.volts.assign(measured.voltage.begin(), measured.voltage.end());
    out.milliamps.assign(measured.current.begin(), measured.current.end());
    return out;
}

double span(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    return *hi - *lo;
}

} // namespace sig
