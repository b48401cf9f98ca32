// Points on the board's picture: the pins of a component, placed from a few
// clicks, as a technician sees a part (a row of pins, or a two-row package).
#pragma once

#include <QPointF>
#include <QStringList>

#include <vector>

namespace sig {

// The names of a component's pins, "U1.1" to "U1.<pins>".
QStringList pinNames(const QString &component, int pins);

// Pins 1 to `pins` evenly along the line from pin 1 to the last pin.
std::vector<QPointF> rowOfPins(QPointF first, QPointF last, int pins);

// A two-row package, numbered around it (down one row, back up the other):
// pin 1 faces the last pin, and `endOfFirstRow` is pin pins/2. An odd count
// gives the first row the extra pin.
std::vector<QPointF> twoRowsOfPins(QPointF first, QPointF last, QPointF endOfFirstRow, int pins);

} // namespace sig
