// A current-voltage curve as the comparison sees it: the probe voltages (V)
// and currents (mA) of one measurement, point for point.
#pragma once

#include <vector>

namespace sig {

struct IvCurve
{
    std::vector<double> volts;
    std::vector<double> milliamps;

    bool empty() const { return volts.empty(); }
    bool operator==(const IvCurve &o) const { return volts == o.volts && milliamps == o.milliamps; }
};

} // namespace sig
