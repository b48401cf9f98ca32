// Fewer points that draw the same line: for charts of many samples.
#pragma once

#include <QList>
#include <QPointF>

// Keeps the first, lowest, highest and last point of each run of consecutive
// points that fall in one of columns equal slices of [x0, x1], so that a line
// of 100,000 samples draws like the full one from a few thousand points. The
// line is followed in its order: x need not be sorted (a sweep goes up and
// down). Points left or right of [x0, x1] fold into one column on each side,
// which draws nothing there but keeps the lines that cross into view.
// Coordinates must be finite.
QList<QPointF> decimate(
    const QPointF *begin, const QPointF *end, double x0, double x1, int columns);
