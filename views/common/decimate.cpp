#include "decimate.h"

#include <algorithm>
#include <cmath>

QList<QPointF> decimate(const QPointF *begin, const QPointF *end, double x0, double x1, int columns)
{
    QList<QPointF> out;
    const qsizetype n = end - begin;
    if (n <= 2 * columns || x1 <= x0) {
        out = QList<QPointF>(begin, end);
        return out;
    }
    out.reserve(4 * columns);
    const double width = (x1 - x0) / columns;
    const auto columnOf = [&](const QPointF *p) {
        return int(std::clamp(std::floor((p->x() - x0) / width), -1.0, double(columns)));
    };
    const QPointF *p = begin;
    while (p != end) {
        const int column = columnOf(p);
        const QPointF *first = p, *low = p, *high = p;
        for (; p != end && columnOf(p) == column; ++p) {
            if (p->y() < low->y())
                low = p;
            if (p->y() > high->y())
                high = p;
        }
        // In the line's order, each point once: a rising run is two points.
        const QPointF *kept[] = { first, std::min(low, high), std::max(low, high), p - 1 };
        for (int k = 0; k < 4; ++k)
            if (k == 0 || kept[k] != kept[k - 1])
                out << *kept[k];
    }
    return out;
}
