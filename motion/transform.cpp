#include "transform.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace motion {

bool fitTransform(const std::vector<std::pair<PlanePoint, PlanePoint>> &pairs, BoardSide side,
    TransformFit *fit, QString *error)
{
    auto refuse = [&](const char *why) {
        if (error)
            *error = QCoreApplication::translate("motion::fitTransform", why);
        return false;
    };
    if (pairs.size() < 2)
        return refuse("two taught points or more are needed to place the board");
    const double mirror = side == BoardSide::Bottom ? -1.0 : 1.0;
    // Centroids, then the turn that best lines up the centred points
    // (the two-dimensional case of the orthogonal Procrustes problem).
    PlanePoint board0, machine0;
    for (const auto &[board, machine] : pairs) {
        board0.x += mirror * board.x / double(pairs.size());
        board0.y += board.y / double(pairs.size());
        machine0.x += machine.x / double(pairs.size());
        machine0.y += machine.y / double(pairs.size());
    }
    double dot = 0, cross = 0, spread = 0;
    for (const auto &[board, machine] : pairs) {
        const double bx = mirror * board.x - board0.x, by = board.y - board0.y;
        const double mx = machine.x - machine0.x, my = machine.y - machine0.y;
        dot += bx * mx + by * my;
        cross += bx * my - by * mx;
        spread += bx * bx + by * by;
    }
    if (spread < 1e-12)
        return refuse("the taught board points coincide, so the board's turn is unknown");
    const double angle = std::atan2(cross, dot);
    const double cs = std::cos(angle), sn = std::sin(angle);
    BoardToMachine t;
    t.a = cs * mirror;
    t.b = -sn;
    t.d = sn * mirror;
    t.e = cs;
    t.c = machine0.x - (cs * board0.x - sn * board0.y);
    t.f = machine0.y - (sn * board0.x + cs * board0.y);
    double worst = 0;
    for (const auto &[board, machine] : pairs) {
        const PlanePoint m = t.map(board);
        worst = std::max(worst, std::hypot(m.x - machine.x, m.y - machine.y));
    }
    if (fit)
        *fit = { t, worst, std::hypot(dot, cross) / spread };
    return true;
}

} // namespace motion
