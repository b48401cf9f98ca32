#include "probeorder.h"

#include "boardprober.h"

#include <algorithm>
#include <cmath>

namespace sig {

namespace {

double distance(QPointF a, QPointF b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// Hop times under the configuration's assumed machine between the points'
// board positions `at`: -1 is the machine's origin.
std::function<double(int, int)> hopCost(
    const motion::GantryConfig &config, const std::vector<motion::PlanePoint> &at)
{
    const double rate = std::max(config.xyFeed, config.contactFeed) / 60;
    const motion::MachineFrame frame = motion::MachineFrame::assumed(rate, config.planAccel);
    return [&config, &at, frame](int from, int to) {
        const std::optional<motion::PlanePoint> start
            = from < 0 ? std::nullopt : std::optional(at[std::size_t(from)]);
        return motion::hopSeconds(config, frame, start, at[std::size_t(to)]);
    };
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

std::vector<int> cheapestPath(std::size_t n, const std::function<double(int, int)> &cost)
{
    std::vector<int> order;
    order.reserve(n);
    std::vector<bool> taken(n, false);
    int at = -1;
    for (std::size_t step = 0; step < n; ++step) {
        std::size_t best = n;
        double bestCost = INFINITY;
        for (std::size_t k = 0; k < n; ++k)
            if (!taken[k]) {
                const double c = cost(at, int(k));
                if (c < bestCost || best == n) {
                    best = k;
                    bestCost = c;
                }
            }
        taken[best] = true;
        order.push_back(int(best));
        at = int(best);
    }
    // 2-opt on the open path from the start: reversing order[i..j] replaces
    // the hops (i-1, i) and (j, j+1) by (i-1, j) and (i, j+1); the hops
    // within are the same both ways, the start stays fixed and the last
    // point has no hop after it.
    bool better = true;
    for (int rounds = 0; better && rounds < 100; ++rounds) {
        better = false;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const int before = i == 0 ? -1 : order[i - 1];
            for (std::size_t j = i + 1; j < n; ++j) {
                const double now
                    = cost(before, order[i]) + (j + 1 < n ? cost(order[j], order[j + 1]) : 0);
                const double swapped
                    = cost(before, order[j]) + (j + 1 < n ? cost(order[i], order[j + 1]) : 0);
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

std::vector<int> shortestPath(const std::vector<QPointF> &points, QPointF start)
{
    return cheapestPath(points.size(), [&](int from, int to) {
        return distance(from < 0 ? start : points[std::size_t(from)], points[std::size_t(to)]);
    });
}

namespace {

std::vector<motion::PlanePoint> boardTargets(
    const motion::GantryConfig &config, const std::vector<int> &points)
{
    std::vector<motion::PlanePoint> at;
    for (int k : points) {
        const auto found = config.targets.find(k);
        at.push_back(found == config.targets.end() ? motion::PlanePoint() : found->second);
    }
    return at;
}

} // namespace

std::vector<int> machineOrder(const motion::GantryConfig &config, const std::vector<int> &points)
{
    const std::vector<motion::PlanePoint> at = boardTargets(config, points);
    std::vector<int> order;
    for (int k : cheapestPath(points.size(), hopCost(config, at)))
        order.push_back(points[std::size_t(k)]);
    return order;
}

double machineSeconds(const motion::GantryConfig &config, const std::vector<int> &points)
{
    const std::vector<motion::PlanePoint> at = boardTargets(config, points);
    const auto cost = hopCost(config, at);
    double seconds = 0;
    for (std::size_t k = 0; k < points.size(); ++k)
        seconds += cost(k == 0 ? -1 : int(k) - 1, int(k));
    return seconds;
}

} // namespace sig
