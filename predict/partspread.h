// How far a good board's parts are from their BOM values when the BOM names
// no tolerance: resistors 1 %, capacitors and inductors 10 %, a junction's
// saturation current within a factor of 1.5 either way, its emission 2 %
// and its series resistance 10 %, each uniform. Settings are chosen so that
// a fault shows beyond this spread, and the detection bench makes its good
// boards by it.
#pragma once

#include "circuit.h"

#include <cmath>
#include <random>
#include <vector>

namespace predict {

inline void drawWithinTolerance(std::vector<Element> &elements, std::mt19937_64 &random)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (Element &e : elements) {
        switch (e.kind) {
        case Element::Kind::Resistor:
            e.value *= 1 + 0.01 * unit(random);
            break;
        case Element::Kind::Capacitor:
        case Element::Kind::Inductor:
            e.value *= 1 + 0.10 * unit(random);
            break;
        case Element::Kind::Diode:
            e.junction.saturationAmps *= std::pow(1.5, unit(random));
            e.junction.emission *= 1 + 0.02 * unit(random);
            e.junction.seriesOhms *= 1 + 0.10 * unit(random);
            break;
        }
    }
}

} // namespace predict
