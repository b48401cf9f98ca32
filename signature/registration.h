// The board's photo registered to the board: from fiducials whose position
// is known both in millimetres and on the photo, the map from the photo's
// pixels to board millimetres, fitted by least squares.
//
// The photo's y runs down and the board's up, so a photo of the top side is
// a mirror image of the board's coordinates: two fiducials give a mirrored
// similarity (rotation, one scale, translation). A photo of the bottom side
// is mirrored once more, which makes it an unmirrored similarity; three
// fiducials give a full affine map, which takes either side (and a photo
// taken at a slant) without being told.
#pragma once

#include "signature.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace sig {

// x' = m11 x + m12 y + dx, y' = m21 x + m22 y + dy.
struct Affine
{
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;

    QPointF map(const QPointF &p) const
    {
        return { m11 * p.x() + m12 * p.y() + dx, m21 * p.x() + m22 * p.y() + dy };
    }
    double determinant() const { return m11 * m22 - m12 * m21; }
    // The inverse map; the identity for a map that has none (a fit never
    // returns one).
    Affine inverted() const;
};

struct Registration
{
    Affine toMm; // photo pixels to board millimetres
    Affine toPixels; // and back
    int fiducials = 0; // how many the fit used
    double rmsMm = 0; // the fiducials' distance from where the fit puts them
    double maxMm = 0;
};

// A fiducial's pixel on the photo and its position on the board.
using Correspondence = std::pair<QPointF, QPointF>;

// Two correspondences give a similarity (mirrored for a photo of the top
// side, as `photo` says), three or more an affine map, fitted by least
// squares. Nothing, with *error saying why, for fewer than two or for
// positions that cannot fix a map: two at one place, or all on one line.
// Errors name the fiducials by `names` (else by number).
std::optional<Registration> fitRegistration(const std::vector<Correspondence> &pairs,
    QString *error, Side photo = Side::Top, QStringList names = {});

// The board's registration from its fiducials that have a place on the
// photo. Nothing when fewer than two have one (and *error says so), or the
// fit fails.
std::optional<Registration> registration(const Signature &board, QString *error);

// Where a point is on the photo: its place, else (on a registered board) its
// position in millimetres mapped to the photo. Nothing when neither is known.
std::optional<QPointF> placeOnPhoto(const Point &p, const std::optional<Registration> &r);

// "registered on 3 fiducials: 0.020 mm RMS, 0.031 mm at worst", for people.
QString describe(const Registration &r);

} // namespace sig
