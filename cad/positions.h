// Component position files: a part's centre, rotation, side and, where the
// file gives one, its height. KiCad's .pos
// in its ASCII form ("# Ref Val Package PosX PosY Rot Side" under a
// "## Unit = mm" line) and its CSV form, and the usual pick-and-place CSV
// whose columns are found by their header names (Designator, Mid X, Layer...).
#pragma once

#include "cadtext.h"

#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

namespace cad {

struct Placement
{
    int line = 0;
    QString refdes;
    QString value; // as the file gives it, or empty
    QString package;
    QPointF mm; // the part's centre
    double rotation = 0; // degrees
    Side side = Side::Top;
    // mm above the board, when the file has a height column ("Height",
    // "Height(mm)") and the row a value in it.
    std::optional<double> height;
};

// Units come from the file (a "## Unit" line, "(mm)" in a header, a suffix
// on the values such as "12.5mm"); else unitsIfUnsaid; else millimetres.
std::optional<std::vector<Placement>> readPositions(const QByteArray &bytes, const QString &file,
    QString *error, std::optional<Unit> unitsIfUnsaid = std::nullopt);
std::optional<std::vector<Placement>> readPositionsFile(
    const QString &path, QString *error, std::optional<Unit> unitsIfUnsaid = std::nullopt);

} // namespace cad
