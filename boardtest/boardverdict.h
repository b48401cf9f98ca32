// What a test run says of the board as a whole, from its points' verdicts:
// the one judgement the window's banner, zemctl's summary line, the report
// and the history share, so that they never disagree.
#pragma once

#include "session.h"
#include "verdict.h"

#include <QString>

#include <utility>
#include <vector>

namespace sig {

struct BoardVerdict
{
    // See BoardVerdictKind for which wins.
    using Kind = BoardVerdictKind;

    Kind kind = Kind::Partial;
    int points = 0;
    int passed = 0;
    int different = 0;
    int unstable = 0;
    int noContact = 0;
    int notLearned = 0;
    int notTested = 0;
    int netDisagrees = 0;
    // Points marked "info" whose verdict is anything but pass: shown, never
    // failing the board, and counted here instead of under their verdict.
    int info = 0;

    // The points the verdict's word is about: "FAIL, 2 of 11".
    int flagged() const;
};

// Over the points in order (indices into results); points past the results
// count as not tested.
BoardVerdict boardVerdict(const std::vector<PointResult> &results, const std::vector<int> &order);
// Over every point of a board with `points` points.
BoardVerdict boardVerdict(const std::vector<PointResult> &results, int points);

// The counts under the names zemctl's summary line and Python give them,
// in that order: points, passed, different, unstable, no_contact, not_learned,
// net_disagrees, info.
std::vector<std::pair<const char *, int>> boardVerdictCounts(const BoardVerdict &verdict);

// What the word is about: "2 of 11 points different", "11 of 11 points pass".
QString boardVerdictDetail(const BoardVerdict &verdict);
// The word and its detail on one line, for text output and the report.
QString boardVerdictHeadline(const BoardVerdict &verdict);

} // namespace sig
