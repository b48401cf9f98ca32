// zemctl board: the board's picture, the points' places on it and on the
// board (mm), and the fiducials that register one to the other, in a signature
// file; or its points taken from the board's CAD outputs. The work is done in the signature module, which reads and writes
// signature files with Qt Core; no device is needed.
#pragma once

#include <string>
#include <vector>

namespace zemctl {

struct BoardJob
{
    std::string file; // the signature file, changed in place
    std::string image; // a PNG or JPEG to embed, "" to keep the one there
    std::vector<std::string> places; // NAME=X,Y in the picture's pixels
    std::vector<std::string> fiducials; // NAME=X,Y[,PX,PY]: board mm, and pixels on the picture
    std::vector<std::string> mms; // NAME=X,Y: a point's position on the board, mm
    std::vector<std::string> sides; // NAME=top|bottom; a bare top|bottom filters the import
    // A board's CAD output to take points from: an IPC-D-356 netlist or a
    // component position file; FILE is created when missing.
    std::string import;
    std::string nets; // N1,N2*: only the points on these nets
    std::string refdes; // U1,R*: only these parts' points
    std::string units; // mm|in|mil, for a CAD file that does not say
    std::string bom; // a BOM CSV: two-pin parts' expected values

    // Filled in by the module.
    int exitCode = 0;
    std::string message; // why it failed
    std::string summary; // one JSON line: the board, its picture, its points placed
    std::string note; // the summary in words, for stderr
};

int boardMain(BoardJob &job);

} // namespace zemctl

extern "C" void zemctl_board(zemctl::BoardJob *job);
using ZemctlBoardFunction = void (*)(zemctl::BoardJob *);
