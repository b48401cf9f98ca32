// Likely faults: for a point that fails, the single faults of the parts on
// its net (open, short, half and double the value, a diode reversed, one of
// an IC pin's protection diodes open), each simulated and ranked by how well
// it explains the measured curves.
#pragma once

#include "circuit.h"
#include "ivcurve.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace sig {
struct Signature;
}

namespace predict {

class FaultCache;
class Models;
class Simulator;

struct LikelyFault
{
    QString part; // "R12"
    QString fault; // "open", "short", "value x0.5", "reversed", "diode to VCC open"
    double match = 0; // percent: 100 less the score of its curves against the measured ones
};

// One single fault of a circuit, and the circuit with it.
struct SingleFault
{
    LikelyFault fault; // its match 0
    std::vector<Element> elements;
    QStringList nodes; // the ends of the elements it changes
};

// Each single fault of each part with an element among `elements`, part by
// part in the order they first appear.
std::vector<SingleFault> singleFaults(const std::vector<Element> &elements);

// The `most` faults that best explain `measured` (one curve a measurement of
// the point), best first, a fault on the point's own net before one
// elsewhere that explains them about as well; none when the board has no
// parts or nothing on the point's net can be simulated (a missing library:
// none). With a cache, the faults' curves are simulated only when it has
// none for the net.
std::vector<LikelyFault> likelyFaults(const sig::Signature &board, const Models &models,
    Simulator &simulator, int point, const std::vector<sig::IvCurve> &measured,
    std::size_t most = 3, FaultCache *cache = nullptr);

// "R12 open: matches 96 %".
QString faultText(const LikelyFault &fault);

} // namespace predict
