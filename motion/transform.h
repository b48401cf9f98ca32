// Where a board point lies on the machine: board millimetres (origin at the
// board's lower left, y up, as seen from the side probed) to machine X and Y.
#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace motion {

struct PlanePoint
{
    double x = 0;
    double y = 0;
};

enum class BoardSide { Top, Bottom };

// machine x = a * board x + b * board y + c
// machine y = d * board x + e * board y + f
struct BoardToMachine
{
    double a = 1, b = 0, c = 0;
    double d = 0, e = 1, f = 0;

    PlanePoint map(PlanePoint board) const
    {
        return { a * board.x + b * board.y + c, d * board.x + e * board.y + f };
    }
    // Machine X and Y back to the board; a fitted transform is a turn (and
    // a mirror), so it always has an inverse.
    PlanePoint unmap(PlanePoint machine) const
    {
        const double det = a * e - b * d;
        if (det == 0)
            return machine;
        const double x = machine.x - c;
        const double y = machine.y - f;
        return { (e * x - b * y) / det, (a * y - d * x) / det };
    }
};

struct TransformFit
{
    BoardToMachine transform;
    // The largest distance between a taught machine point and where the
    // transform puts its board point: a mis-taught point or a board that
    // moved shows here.
    double residualMm = 0;
    // Machine mm per board mm, had a stretch been fitted too: a board does
    // not stretch, so far from 1 a point was taught at the wrong place.
    double scale = 1;
};

// Fits the transform to taught pairs (board point, machine XY) by least
// squares. Both sides are millimetres, so only a turn and a shift are
// fitted (a board does not stretch); a board probed from its bottom side is
// seen mirrored in x. Needs two pairs or more with distinct board points;
// false with the reason otherwise.
bool fitTransform(const std::vector<std::pair<PlanePoint, PlanePoint>> &pairs, BoardSide side,
    TransformFit *fit, QString *error);

} // namespace motion
