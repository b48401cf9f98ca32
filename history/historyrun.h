// A test run as the history keeps it, built from a signature and its
// results, so that the window and the command line record runs alike.
#pragma once

#include "run.h"
#include "session.h"
#include "signature.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace zem::history {

// "pass", "unstable" or "fail" for the points in order, as zemctl's exit
// status judges them: a point not learned fails the board too.
QString runVerdict(const std::vector<sig::PointResult> &results, const std::vector<int> &order);

// The run of the points in order (indices into board.points and results),
// finished now; the operator is left to the caller.
Run historyRun(const sig::Signature &board, const std::vector<sig::PointResult> &results,
    const std::vector<int> &order, const QDateTime &started, const QString &serial,
    const QString &signatureName);

} // namespace zem::history
