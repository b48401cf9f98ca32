// The circuit a probe sees: two-terminal elements between named nodes, one
// of them the probed node and one the common the instrument returns through.
#pragma once

#include <QString>

#include <vector>

namespace predict {

// A junction as SPICE's diode model has it. A breakdown of 0 is none.
struct Junction
{
    double saturationAmps = 1e-12;
    double emission = 1.0;
    double seriesOhms = 0;
    double breakdownVolts = 0; // a zener's, positive
    double breakdownAmps = 1e-3; // where the breakdown voltage is reached
    bool operator==(const Junction &o) const
    {
        return saturationAmps == o.saturationAmps && emission == o.emission
            && seriesOhms == o.seriesOhms && breakdownVolts == o.breakdownVolts
            && breakdownAmps == o.breakdownAmps;
    }
};

struct Element
{
    enum class Kind { Resistor, Capacitor, Inductor, Diode };
    Kind kind = Kind::Resistor;
    QString part; // the designator it models, for messages
    QString a, b; // nodes; a diode conducts from a (anode) to b
    double value = 0; // ohms, farads or henries
    Junction junction; // of a diode
};

struct Circuit
{
    QString probe; // the node the probe touches
    QString common; // the instrument's return
    std::vector<Element> elements;
};

} // namespace predict
