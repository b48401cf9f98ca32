// The order a machine probes points in, one rule for every program: the
// least total move time of the machine from point to point, rest to rest at
// its rates and accelerations, each hop's lift and lowering included
// (motion::hopSeconds), so that a gantry spends its time measuring rather
// than travelling. Nearest first from the start, then 2-opt until no
// reversal of a stretch lowers the total (an open path: the machine need
// not return).
#pragma once

#include <QPointF>

#include <functional>
#include <vector>

namespace motion {
struct GantryConfig;
}

namespace sig {

// Indices 0..n-1 in the order of least total cost, cost(-1, k) from the
// start to k; cost(i, j) must be the same both ways between two points.
std::vector<int> cheapestPath(std::size_t n, const std::function<double(int, int)> &cost);

// The machine's order of `points` (indices into the signature, each with a
// target in the configuration): the least total move time from the
// machine's origin, with the rates and accelerations the configuration
// assumes (its feeds, `accel=`).
std::vector<int> machineOrder(const motion::GantryConfig &config, const std::vector<int> &points);
// The total move time (s) of the machine over `points` in that order.
double machineSeconds(const motion::GantryConfig &config, const std::vector<int> &points);

// By length alone: indices into `points` in path order, from the point
// nearest `start`.
std::vector<int> shortestPath(const std::vector<QPointF> &points, QPointF start = QPointF());

// The length of the path through points in this order, from `start`.
double pathLength(
    const std::vector<QPointF> &points, const std::vector<int> &order, QPointF start = QPointF());

} // namespace sig
