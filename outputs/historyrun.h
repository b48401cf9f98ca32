// A board run's record as the history keeps it, so that every program
// records runs alike.
#pragma once

#include "run.h"
#include "runrecord.h"

namespace sig {

// The tested points in the order probed, the board's verdict and coverage,
// and the header. The history names the station by the host when the
// record does not.
zem::history::Run historyRun(const RunRecord &record);

} // namespace sig
