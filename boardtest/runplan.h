// Everything a board run needs, said once by the program that starts it: the
// board, which points in which order, how the probe comes, the settings of
// the session, who tests which board where, and which outputs go where. The
// window, zem_bench, zemctl and Python each fill a plan; BoardTest does the
// rest.
#pragma once

#include "session.h"
#include "signature.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace motion {
struct GantryLine;
}

namespace sig {

struct RunPlan
{
    // Learn: the curves become references. Test: they are judged. Measure:
    // learned into the run's own copy only, for comparing pins with each other.
    enum class Kind { Learn, Test, Measure };
    Kind kind = Kind::Test;

    Signature signature;
    // The file the signature came from ("" for none): the record names it,
    // and no output of the run may be written over it.
    QString signaturePath;

    // The points asked for, in order (positions in signature.points); empty:
    // every point not marked skip. Either way points marked skip are left
    // out; a run over fewer than the board's points is partial.
    std::vector<int> points;
    // A run resumed: begin at this point of the order (its name), the points
    // before it are not probed.
    QString from;
    // The points this board type failed most often, first (from the history).
    std::optional<QStringList> likelyFirst;

    // How a point is measured once the probe is there.
    enum class Trigger {
        Now, // at once: a script, a machine
        Key, // when the program calls trigger(): Space, a foot switch, Enter
        Button, // the probe's own button
        OnContact, // once the curve under the probe holds still (or Button)
    };
    Trigger trigger = Trigger::Now;
    // A machine that brings the probe (a prober URL: grbl:..., grbl-tcp://...);
    // empty: a hand. A machine says itself when the probe is down.
    QString prober;
    // With a machine: the points in the order of its least move time
    // (probeorder.h).
    bool pathOrder = false;
    // A machine held open across runs (motion/gantryline.h): homed once,
    // not again while it keeps its place. Null: the run opens its own line
    // and closes it at its end.
    std::shared_ptr<motion::GantryLine> machineLine;
    // Captures that read open before a machine gives a point up as no contact.
    int contactTries = 3;

    Session::Options session;

    // Who tests which board where: the record's header.
    QString serial;
    QString operatorName;
    QString station; // the host's name when empty
    QString deviceUrl;

    struct Outputs
    {
        QString report; // HTML, "" for none
        QString junit; // JUnit XML, "" for none
        // The history in use (its location text): the run is kept there when
        // `record`, and nothing of the run is ever written over it either way.
        QString history;
        bool record = false;
    };
    Outputs outputs;

    // Stop at the first failure of the device or the machine (a console
    // run, a script); else go on with the point, as a person at the window
    // can try again.
    bool stopOnFailure = true;
};

// The plan's points in the order they would be probed (points marked skip
// left out, the likely failures first), before a machine's path: what
// BoardTest runs, or nothing with *error saying why there is nothing to
// probe.
std::optional<std::vector<int>> plannedOrder(const RunPlan &plan, QString *error);
// Session::Mode of the plan's kind.
Session::Mode sessionMode(RunPlan::Kind kind);

} // namespace sig
