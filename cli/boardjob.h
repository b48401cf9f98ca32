// zemctl board: the board's picture, the points' places on it and on the
// board (mm), and the fiducials that register one to the other, in a signature
// file. The work is done in the signature module, which reads and writes
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
    std::vector<std::string> sides; // NAME=top|bottom

    // Filled in by the module.
    int exitCode = 0;
    std::string message; // why it failed
    std::string summary; // one JSON line: the board, its picture, its points placed
};

int boardMain(BoardJob &job);

} // namespace zemctl

extern "C" void zemctl_board(zemctl::BoardJob *job);
using ZemctlBoardFunction = void (*)(zemctl::BoardJob *);
