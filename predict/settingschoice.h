// Settings chosen from the circuit: a point whose faults its settings hide
// (a pull-down behind an IC pin the protection diodes clamp, a capacitor a
// large amplitude swamps) gets a measurement or two more, at the range and
// amplitude that show them. For each point's net, every single fault and a
// few good boards drawn within the parts' tolerances are simulated at each
// candidate setting; a fault is shown at a setting when it scores against
// the good board by the test's tolerance and a margin beyond how far good
// boards spread there. Settings are added greedily over the whole board,
// each the one that shows the most faults not yet shown at any point, every
// point's own first setting kept first where good boards pass at it.
#pragma once

#include "zem.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <vector>

namespace sig {
struct Signature;
}

namespace predict {

class Models;
class Simulator;

struct ChoiceOptions
{
    double tolerance = 10; // percent: what the points will be tested at
    int most = 3; // measurements a point at most, its first one among them
    bool replaceLearned = false; // else points learned from a board keep their settings
    int threads = 1;
    const std::atomic<bool> *cancelled = nullptr;
};

struct PointChoice
{
    QString point;
    bool changed = false; // its measurements are now the chosen ones
    QString message; // why it was left, when it was
    int faults = 0; // single faults that change its net
    int shownBefore = 0; // of those, shown by its first setting
    int shown = 0; // shown by the chosen ones
};

struct SettingsChoice
{
    QString error; // the board cannot be simulated at all; nothing was changed
    std::vector<PointChoice> points; // the points probed, in the board's order
    int simulations = 0;
    int faults = 0; // the board's single faults on the nets of the points
    int shownBefore = 0; // of those, shown at some point by its first setting
    int shown = 0; // shown at some point by the chosen settings
    QStringList hidden; // "R12 value x2": shown by no candidate at any point

    // The points given other measurements.
    int changed() const
    {
        return int(std::count_if(
            points.begin(), points.end(), [](const PointChoice &c) { return c.changed; }));
    }
};

// The candidates tried after a point's own settings: each current range at
// the point's amplitude and at 1, 0.5 and 0.25 V below it; for a net with a
// capacitor or an inductor, also at a tenth of the frequency (the same
// samples a cycle), at the point's amplitude and at 0.5 V.
std::vector<measurement_settings> choiceCandidates(const measurement_settings &base, bool reactive);

// Chooses each probed point's measurements. A point given new ones keeps its
// first measurement (with its reference) unless good boards differ there by
// more than 70 % of the tolerance (it would fail good boards); the others are
// replaced, without references, for a learn or a prediction to fill. Points with variants,
// and those learned from a board unless asked, are left as they are.
SettingsChoice chooseSettings(sig::Signature &board, const Models &models, Simulator &simulator,
    const ChoiceOptions &options = {});

} // namespace predict
