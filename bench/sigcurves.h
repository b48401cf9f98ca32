// What the signature figures share: a known curve, and the best time of a
// call.
#pragma once

#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>

// A resistor's curve behind the 1 kOhm range, 1,000 points over ten periods.
inline sig::IvCurve resistor(double ohms)
{
    sig::IvCurve c;
    for (int k = 0; k < 1000; ++k) {
        const double source = 5.0 * std::sin(2 * 3.14159265358979 * k / 100.0);
        c.volts.push_back(source * ohms / (ohms + 1000.0));
        c.milliamps.push_back(1000.0 * source / (ohms + 1000.0));
    }
    return c;
}

// Best time of one call of f over 20 rounds of calls, in microseconds.
template <class F> double bestMicros(F &&f, int calls)
{
    using Clock = std::chrono::steady_clock;
    double best = 1e30;
    for (int round = 0; round < 20; ++round) {
        const auto t0 = Clock::now();
        for (int k = 0; k < calls; ++k)
            f();
        best = std::min(
            best, std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / calls);
    }
    return best;
}
