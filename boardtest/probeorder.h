// The order a machine probes points in: a short path over their board
// positions, so that a gantry spends its time measuring rather than
// travelling. Nearest neighbour from the start, then 2-opt until no swap of
// two edges shortens the path (an open path: the machine need not return).
#pragma once

#include <QPointF>

#include <vector>

namespace sig {

// Indices into `points` in path order, from the point nearest `start`.
std::vector<int> shortestPath(const std::vector<QPointF> &points, QPointF start = QPointF());

// The length of the path through points in this order, from `start`.
double pathLength(
    const std::vector<QPointF> &points, const std::vector<int> &order, QPointF start = QPointF());

} // namespace sig
