// Figures of references from many boards: comparing a curve with the band of
// twenty good boards, and naming the cause of a difference; prints, asserts
// nothing.
#include "figure.h"
#include "sigcurves.h"

#include "cause.h"
#include "compare.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

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

    const double whole = bestMicros([&] { sink = sink + sig::bandScore(boards, test, s); }, 50);
    figure("1,000-point curve against 20 boards' references (band built each time), best", "< 1 ms",
        "%.1f µs", whole);
    const sig::Band band = sig::band(boards);
    const double banded = bestMicros([&] { sink = sink + sig::bandScore(band, test, s); }, 50);
    figure("1,000-point curve against a band built once, best", "-", "%.1f µs", banded);
    const double naming
        = bestMicros([&] { sink = sink + sig::cause(boards.front(), test, s).value; }, 50);
    figure("cause of a difference of 1,000-point curves, best", "-", "%.1f µs", naming);
    return 0;
}
