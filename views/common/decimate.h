// Fewer points that draw the same line: for charts of many samples.
#pragma once

#include <QList>
#include <QPointF>

// Keeps the first, lowest, highest and last point of each of columns equal
// slices of [x0, x1], so that a line of 100,000 samples draws like the full
// one from a few thousand points. The points are sorted by x.
QList<QPointF> decimate(
    const QPointF *begin, const QPointF *end, double x0, double x1, int columns);
