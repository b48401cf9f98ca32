// Figures of references from many boards: comparing a curve with the band of
// twenty good boards, and naming the cause of a difference; prints, asserts
// nothing.
#include "figure.h"

#include "cause.h"
#include "compare.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

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
        const int calls = 50;
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
    // Twenty boards of a lot within ±2 %, and a board whose resistor is 20 % high.
    std::vector<sig::IvCurve> boards;
    for (int b = 0; b < int(sig::kMaxReferences); ++b)
        boards.push_back(resistor(1000.0 * (0.98 + 0.04 * b / (sig::kMaxReferences - 1))));
    const sig::IvCurve test = resistor(1200);
    volatile double sink = 0;

    const double whole = bestMicros([&] { sink = sink + sig::bandScore(boards, test, s); });
    figure("1,000-point curve against 20 boards' references (band built each time), best", "< 1 ms",
        "%.1f µs", whole);
    const sig::Band band = sig::band(boards);
    const double banded = bestMicros([&] { sink = sink + sig::bandScore(band, test, s); });
    figure("1,000-point curve against a band built once, best", "-", "%.1f µs", banded);
    const double naming
        = bestMicros([&] { sink = sink + sig::cause(boards.front(), test, s).value; });
    figure("cause of a difference of 1,000-point curves, best", "-", "%.1f µs", naming);
    return 0;
}
