// Inside the signature file reader and writer: the board positions (a
// point's millimetres and side, the fiducials) and the pair of finite numbers
// they share with a point's place on the picture.
#pragma once

#include "signature.h"

#include <QStringList>

#include <nlohmann/json.hpp>

namespace sig::detail {

using Json = nlohmann::ordered_json;

// Thrown inside the reader only, with the path of the offending field.
struct ParseError
{
    QString where;
    QString what;
};

[[noreturn]] void failAt(const QString &where, const QString &what);

// [x, y] of two finite numbers. Older programs wrote a number that was none
// (NaN, infinity) as null: such a pair is read as none, with a warning
// (`dropped` says what becomes of it), rather than the file refused with
// every reference in it. Any other shape is refused, `expected` saying what
// belongs there.
std::optional<QPointF> finitePair(const Json &a, const QString &where, const QString &expected,
    const QString &dropped, QStringList &warnings);
Json pairToJson(const QPointF &p);

// A point's "mm", "side" and "expect", read into p; written only when it has them.
void readBoardPosition(const Json &point, const QString &where, Point &p, QStringList &warnings);
void writeBoardPosition(const Point &p, Json &point);

// The file's "fiducials", when it has them.
std::vector<Fiducial> readFiducials(const Json &list, QStringList &warnings);
Json fiducialsToJson(const std::vector<Fiducial> &fiducials);

// The file's "outline": [[x, y], ...] in mm, at least 3 corners.
std::vector<QPointF> readOutline(const Json &list, QStringList &warnings);
Json outlineToJson(const std::vector<QPointF> &outline);

} // namespace sig::detail
