#include "probeorder.h"

#include <algorithm>
#include <cmath>

namespace sig {

namespace {

double distance(QPointF a, QPointF b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

double pathLength(const std::vector<QPointF> &points, const std::vector<int> &order, QPointF start)
{
    double length = 0;
    QPointF at = start;
    for (int k : order) {
        length += distance(at, points[std::size_t(k)]);
        at = points[std::size_t(k)];
    }
    return length;
}

std::vector<int> shortestPath(const std::vector<QPointF> &points, QPointF start)
{
    const std::size_t n = points.size();
    std::vector<int> order;
    order.reserve(n);
    std::vector<bool> taken(n, false);
    QPointF at = start;
    for (std::size_t step = 0; step < n; ++step) {
        std::size_t best = n;
        double bestDistance = INFINITY;
        for (std::size_t k = 0; k < n; ++k)
            if (!taken[k] && distance(at, points[k]) < bestDistance) {
                best = k;
                bestDistance = distance(at, points[k]);
            }
        taken[best] = true;
        order.push_back(int(best));
        at = points[best];
    }
    // 2-opt on the open path from the start: reversing order[i..j] replaces
    // the edges (i-1, i) and (j, j+1) by (i-1, j) and (i, j+1); the start
    // stays fixed and the last point has no edge after it.
    const auto place = [&](std::size_t i) { return points[std::size_t(order[i])]; };
    bool better = true;
    for (int rounds = 0; better && rounds < 100; ++rounds) {
        better = false;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const QPointF before = i == 0 ? start : place(i - 1);
            for (std::size_t j = i + 1; j < n; ++j) {
                const double now = distance(before, place(i))
                    + (j + 1 < n ? distance(place(j), place(j + 1)) : 0);
                const double swapped = distance(before, place(j))
                    + (j + 1 < n ? distance(place(i), place(j + 1)) : 0);
                if (swapped < now - 1e-9) {
                    std::reverse(
                        order.begin() + std::ptrdiff_t(i), order.begin() + std::ptrdiff_t(j) + 1);
                    better = true;
                }
            }
        }
    }
    return order;
}

} // namespace sig
