// A self-contained HTML report of a board test: the board, the date, the
// settings and a table of points with score and verdict; each point that is
// different or not learned also gets an inline SVG plot of its curves, and
// a board with a picture shows it with every point's marker.
#pragma once

#include "runrecord.h"

#include <QDateTime>

namespace sig {

// A time as the report shows it: local, with its offset and zone name.
QString reportTime(const QDateTime &when);

// The report of a run's record; a record of no run (runrecord.h) reports the
// board without results.
QByteArray htmlReport(const RunRecord &record);

// An SVG plot of the reference (if any) and the test curve, in a frame that
// holds both, with its axes and their ranges.
QString svgPlot(const IvCurve *reference, const IvCurve &test);

// The board's picture with a marker on every placed point in its verdict's
// colour, each flagged marker a link to the point's plot; empty without a
// picture.
QString svgBoard(const Signature &signature, const std::vector<PointResult> &results);

} // namespace sig
