// A board's references predicted as every program asks for them: which
// models (the built-in ones, or a user's file read over them), the board's
// prediction tolerance and common net, which points, and what came of it.
// zemctl, the window, the bench and Python build a request and show the
// report; none of them predicts on its own.
#pragma once

#include "predictor.h"
#include "settingschoice.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace predict {

class Simulator;

struct PredictRequest
{
    QString models; // a file of models read over the built-in ones; empty for these alone
    std::optional<double> tolerance; // the board's prediction tolerance, percent
    QString common; // the net the probe's return is on (blank: GND); empty keeps the board's
    QStringList points; // only these are predicted, the others left as they were; empty: all
    // Before predicting, give each point the measurements that show its
    // net's faults (chosen for the board's tolerance, what a board learned
    // later is tested at).
    bool chooseSettings = false;
    int threads = 0; // simulations at once; 0 for one a core
    // Set from another thread to stop early: the board is then left as it was.
    const std::atomic<bool> *cancelled = nullptr;
};

struct PredictReport
{
    // Why nothing was predicted: the request names what the board lacks (a
    // point), or the input is bad (the models' file, a board without parts).
    enum class Refusal { None, Request, Input, Cancelled };
    Refusal refusal = Refusal::None;
    QString error; // with a refusal: why; the board is as it was
    int unknownPoint = -1; // Request: the index in the request's points of one not on the board
    Prediction prediction; // every point asked for, in the board's order
    std::optional<SettingsChoice> choice; // when the request asked for one
    int predicted = 0; // points whose references are now predicted
    int kept = 0; // learned from a board, and left so
    double seconds = 0;

    bool ok() const { return refusal == Refusal::None; }
    // Points neither predicted nor kept: each has its reason in prediction.
    int missing() const { return int(prediction.points.size()) - predicted - kept; }
    // "7 of 9 points predicted with models board-7"
    QString summary() const;
    // Parts left open: "unknown parts, left open: U3, Q1", then each part
    // a model matches that could not be built.
    QStringList partNotes() const;
    // "2 of 9 points not predicted", empty when none is missing.
    QString missingText() const;
    // "settings chosen: 12 points given more measurements; 110 of 120 faults
    // shown (87 before)", then the faults no setting shows; empty without a choice.
    QStringList choiceNotes() const;
};

// Predicts the references the request asks for into the board: its points
// asked for get their curves (those learned from a board keep theirs), and
// the request's tolerance and common net are set. On a refusal the board is
// left as it was. A simulator given is used instead of ngspice's library.
PredictReport predictReferences(
    sig::Signature &board, const PredictRequest &request, Simulator *simulator = nullptr);

// Whether a board can be predicted at all: it keeps its parts from a netlist.
bool canPredict(const sig::Signature &board);

} // namespace predict
