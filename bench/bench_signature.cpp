// Figures of signatures: scoring and reading curves; prints, asserts nothing.
#include "figure.h"
#include "sigcurves.h"

#include "reading.h"
#include "score.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cmath>

int main()
{
    measurement_settings s = sig::defaultSettings();
    s.NumberPoints = 1000;
    const sig::IvCurve a = resistor(1000), b = resistor(1200);
    volatile double sink = 0;
    const double scoring = bestMicros([&] { sink = sink + sig::score(a, b, s); }, 200);
    figure("score of two 1,000-point curves, best", "< 1 ms", "%.1f µs", scoring);
    const double reading = bestMicros([&] { sink = sink + sig::read(a, s).ohms; }, 200);
    figure("reading of a 1,000-point curve, best", "-", "%.1f µs", reading);
    return 0;
}
