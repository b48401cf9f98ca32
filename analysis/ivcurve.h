// A current-voltage curve as the comparison sees it: the probe voltages (V)
// and currents (mA) of one measurement, point for point.
#pragma once

#include <vector>

struct Curve;

namespace sig {

struct IvCurve
{
    std::vector<double> volts;
    std::vector<double> milliamps;

    bool empty() const { return volts.empty(); }
    bool operator==(const IvCurve &o) const { return volts == o.volts && milliamps == o.milliamps; }
};

// The curve a measurement delivered, as the comparison sees it.
IvCurve ivCurveOf(const Curve &measured);

// Largest minus smallest value; 0 for none.
double span(const std::vector<double> &values);

} // namespace sig
