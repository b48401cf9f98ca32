#include "board.h"

namespace sig {
namespace {

// `count` points from a to b, both ends included; one point sits at a.
void along(std::vector<QPointF> &out, QPointF a, QPointF b, int count)
{
    for (int k = 0; k < count; ++k)
        out.push_back(count == 1 ? a : a + (b - a) * (double(k) / (count - 1)));
}

} // namespace

QStringList pinNames(const QString &component, int pins)
{
    QStringList names;
    for (int k = 1; k <= pins; ++k)
        names << QStringLiteral("%1.%2").arg(component).arg(k);
    return names;
}

std::vector<QPointF> rowOfPins(QPointF first, QPointF last, int pins)
{
    std::vector<QPointF> out;
    along(out, first, last, pins);
    return out;
}

std::vector<QPointF> twoRowsOfPins(QPointF first, QPointF last, QPointF endOfFirstRow, int pins)
{
    const int firstRow = (pins + 1) / 2;
    std::vector<QPointF> out;
    along(out, first, endOfFirstRow, firstRow);
    // The second row runs back, beside the first: its end lies across from
    // pin 1, its start across from the first row's end.
    const QPointF across = last - first;
    const int secondRow = pins - firstRow;
    if (secondRow > 0) {
        const QPointF rowEnd = firstRow == secondRow
            ? endOfFirstRow
            : first + (endOfFirstRow - first) * (double(secondRow - 1) / (firstRow - 1));
        along(out, rowEnd + across, last, secondRow);
    }
    return out;
}

} // namespace sig
