// Figures of signatures: scoring and reading curves; prints, asserts nothing.
#include "figure.h"

#include "reading.h"
#include "score.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>

using Clock = std::chrono::steady_clock;

namespace {

// A resistor's curve behind the 1 kOhm range, 1,000 points over ten periods.
sig::IvCurve resistor(double ohms)
{
    sig::IvCurve c;
    for (int k = 0; k < 1000; ++k) {
        const double source = 5.0 * std::sin(2 * 3.14159265358979 * k / 100.0);
        c.volts.push_back(source * ohms / (ohms + 1000.0));
        c.milliamps.push_back(1000.0 * source / (ohms + 1000.0));
    }
    return c;
}

// Best time of one call of f over a few rounds, in microseconds.
template <class F> double bestMicros(F &&f)
{
    double best = 1e30;
    for (int round = 0; round < 20; ++round) {
        const int calls = 200;
        const auto t0 = Clock::now();
        for (int k = 0; k < calls; ++k)
            f();
        best = std::min(
            best, std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / calls);
    }
    return best;
}

} // namespace

int main()
{
    measurement_settings s = sig::defaultSettings();
    s.NumberPoints = 1000;
    const sig::IvCurve a = resistor(1000), b = resistor(1200);
    volatile double sink = 0;
    const double scoring = bestMicros([&] { sink = sink + sig::score(a, b, s); });
    figure("score of two 1,000-point curves, best", "< 1 ms", "%.1f µs", scoring);
    const double reading = bestMicros([&] { sink = sink + sig::read(a, s).ohms; });
    figure("reading of a 1,000-point curve, best", "-", "%.1f µs", reading);
    return 0;
}
