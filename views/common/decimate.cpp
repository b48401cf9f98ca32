#include "decimate.h"

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
    const QPointF *p = begin;
    while (p != end) {
        const int column = int((p->x() - x0) / width);
        const QPointF *first = p, *low = p, *high = p;
        for (; p != end && int((p->x() - x0) / width) == column; ++p) {
            if (p->y() < low->y())
                low = p;
            if (p->y() > high->y())
                high = p;
        }
        const QPointF *last = p - 1;
        out << *first;
        if (low < high)
            out << *low << *high;
        else if (high < low)
            out << *high << *low;
        if (last != first && last != low && last != high)
            out << *last;
    }
    return out;
}
