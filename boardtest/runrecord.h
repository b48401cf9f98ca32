// What a board run leaves, whichever program ran it: the header (who, which
// board, where, with what, when), every point's result, the board's verdict
// and the run's coverage. The report, JUnit, the history, zemctl's summary
// and Python all write or show this one record.
#pragma once

#include "boardverdict.h"
#include "runplan.h"
#include "session.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

namespace sig {

struct RunHeader
{
    QUuid uuid = QUuid::createUuid();
    QString boardType;
    QString serial; // the board's
    QString operatorName;
    QString station; // the host name when empty
    QString deviceUrl;
    QString instrument; // "serial 1234567, firmware 1.2.3"; empty when unread
    QString instrumentSerial;
    QString signatureName; // the signature's file name, else the board's name
    QDateTime started; // UTC
    QDateTime finished;
};

// Which of the board's points the run tested. A run that tested fewer than
// every point not marked skip is partial: a subset, a resumed run, one
// stopped by a person or by a failure of the device or the machine.
struct Coverage
{
    bool complete = false;
    std::vector<int> tested; // in the order probed
    std::vector<int> untested; // in the board's order
    // Why the run stopped before its end ("" when it reached it), and the
    // point it stopped at (-1 for none).
    QString stopReason;
    int stoppedAt = -1;
    // The stop was a failure of the device or the machine, not a person's.
    bool failed = false;
    // The plan asked for fewer points than the board has.
    bool subset = false;
};

struct RunRecord
{
    RunPlan::Kind kind = RunPlan::Kind::Test;
    RunHeader header;
    // The board as the run left it: a learn's references in it.
    Signature signature;
    // The points in the order the run probes them.
    std::vector<int> order;
    // One per point of the signature; NotTested where the run did not reach.
    std::vector<PointResult> results;
    // Each point's wall time from the probe sent to it to its verdict (or to
    // the failure that stopped the run there).
    std::vector<double> seconds;
    // Over every point of the board not marked skip: a point not tested makes
    // the verdict Partial unless another failed.
    BoardVerdict verdict;
    Coverage coverage;
    // With a machine: how far a fiducial was found from where it was taught
    // after the run, in mm.
    std::optional<double> driftMm;
    // Learn: the points that read open though the signature does not expect
    // an open pin, and whether every point learned did (nothing to learn from).
    std::vector<int> learnedOpen;
    bool learnedNothing = false;

    // The untested points' names, joined by ", ".
    QString untestedNames() const;
};

// A record of no run: the board as it is, every point not tested, for a
// report of the board alone.
RunRecord boardRecord(const Signature &board);

// The message for a learn that found nothing but open pins, naming what
// probably happened.
QString learnedNothingText(const RunRecord &record);

} // namespace sig
