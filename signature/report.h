// A self-contained HTML report of a board test: the board, the date, the
// settings and a table of points with score and verdict; each point that is
// different or not learned also gets an inline SVG plot of its curves.
#pragma once

#include "session.h"

#include <QDateTime>

namespace sig {

QByteArray htmlReport(
    const Signature &signature, const std::vector<PointResult> &results, const QDateTime &when);

// An SVG plot of the reference (if any) and the test curve, in a frame that
// holds both, with its axes and their ranges.
QString svgPlot(const IvCurve *reference, const IvCurve &test);

// Writes the report atomically.
bool writeReport(const Signature &signature, const std::vector<PointResult> &results,
    const QDateTime &when, const QString &path, QString *error);

} // namespace sig
