// The board on the gantry's bed: the millimetre places of a signature file's
// points, read straight from its JSON ("mm": [x, y], "side"), and which point
// lies under the tip.
#pragma once

#include "motion.h"

#include <optional>
#include <string>
#include <vector>

namespace gantry {

struct BoardPoint
{
    bool placed = false; // has "mm"
    double x = 0, y = 0; // board mm, from the lower-left corner, y up
    bool top = true;
};

struct Board
{
    std::vector<BoardPoint> points; // in the file's order
    double originX = 20, originY = 20; // the board's lower-left corner, machine mm
    double surface = -40; // machine Z of the board's top

    // The index of the top-side point within reach of a lowered tip at p
    // (the nearest, if several), or -1.
    int pointUnder(const Axes &p) const;
};

// Reads the points of a signature file; on failure nothing, with a reason
// that names the file in `error`.
std::optional<std::vector<BoardPoint>> readPoints(const std::string &path, std::string &error);

} // namespace gantry
