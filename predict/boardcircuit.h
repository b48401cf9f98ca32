// A board's parts as circuit elements, by the models, and the circuit a
// probe on one net sees against the board's common net.
#pragma once

#include "circuit.h"

#include <QStringList>

namespace sig {
struct Signature;
}

namespace predict {

class Models;

struct BoardElements
{
    std::vector<Element> elements;
    QStringList unknown; // parts no rule matches: left open
    QStringList problems; // "R5: ..." for parts a rule matches but that cannot be built: left open
};

BoardElements boardElements(const sig::Signature &board, const Models &models);

// The elements reached from `net` without passing through the common: the
// rest of the board cannot change what the probe reads. *note says when the
// net has no path to the common at all.
Circuit circuitAt(
    const BoardElements &board, const QString &net, const QString &common, QString *note);

} // namespace predict
