// A run's summary line, the one zemctl prints after the points and Python
// gives as BoardResults.summary: the board, its verdict and counts, who and
// when, and the coverage, under the same keys everywhere.
#pragma once

#include "runrecord.h"

#include <string>

namespace sig {

// One JSON object, on one line: board, serial, verdict, the counts
// (boardVerdictCounts), operator, started and finished (local time with its
// offset), coverage ("complete" or "partial"), then for a partial run
// untested (names) and stopped (why, when it was stopped), and drift_mm
// after a machine's run.
std::string runSummaryJson(const RunRecord &record);

} // namespace sig
