// Predicted references: every point's expected curve at each of its
// settings, simulated from the board's parts and the models, written into
// the signature as references marked predicted.
#pragma once

#include "ivcurve.h"
#include "stimulus.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

namespace sig {
struct Point;
struct Signature;
} // namespace sig

namespace predict {

class Models;
class Simulator;
struct Simulation;

struct PointPrediction
{
    QString point;
    bool predicted = false; // its references are now the prediction
    bool kept = false; // learned from a board, and left so
    QString message; // why it is not, or a note on what was predicted
    // Neither predicted nor kept: the message says why.
    bool missing() const { return !predicted && !kept; }
};

struct Prediction
{
    QString error; // the board cannot be predicted at all; nothing was changed
    QString models; // the models' version
    std::vector<PointPrediction> points;
    QStringList unknown; // parts no model matches, left open
    QStringList problems; // parts a model matches that could not be built, left open
    int simulations = 0;
};

struct PredictOptions
{
    int threads = 1; // simulations at once
    bool replaceLearned = false; // else points learned from a board keep their references
    // Set from another thread: no more simulations start, and the board is
    // left as it was, with the error "cancelled".
    const std::atomic<bool> *cancelled = nullptr;
};

// Predicts the board's points (all but those marked to skip) and gives each
// predicted point its curves as its references. A point that cannot be
// predicted is left as it was, with the reason.
Prediction predictBoard(sig::Signature &board, const Models &models, Simulator &simulator,
    const PredictOptions &options = {});

// The node a point's probe touches: its net, or its own pad when on none.
QString nodeOf(const sig::Point &p);

// What the instrument would read of a simulated curve: the bare source when
// its sensing path is isolated, and both channels clipped at full scale.
sig::IvCurve asMeasured(const sig::IvCurve &simulated, const zem::Stimulus &stimulus);

} // namespace predict
