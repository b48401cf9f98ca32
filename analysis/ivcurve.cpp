#include "ivcurve.h"

#include "curve.h"

namespace sig {

IvCurve ivCurveOf(const Curve &measured)
{
    IvCurve out;
    out.volts.assign(measured.voltage.begin(), measured.voltage.end());
    out.milliamps.assign(measured.current.begin(), measured.current.end());
    return out;
}

} // namespace sig
