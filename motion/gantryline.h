// One line to a GRBL 1.1 machine and what is known of the machine through
// it: its frame, whether it was homed on this line and has kept its place
// since, the modes set, where the last move ended. A run's prober makes one
// and closes it when the run lets go of the machine; a program that holds
// the machine open across runs (a bench, a script) keeps one and hands it to
// each run's prober, so that a machine homed once is not homed again.
//
// What decides that no homing is needed: homed on this very line (a `$H`
// acknowledged), and since then no banner (a reset, a restart), no alarm
// other than a soft limit's (which keeps the position and is unlocked with
// `$X`), no halt that was not a feed hold first, no lost line; and the
// machine reports Idle before the next move. A new line always homes: a
// machine cannot say whether it was unlocked without homing meanwhile.
#pragma once

#include "grbllink.h"
#include "machineframe.h"
#include "statuspoll.h"
#include "transform.h"

#include <memory>
#include <optional>

namespace motion {

struct GantryLine
{
    std::unique_ptr<GrblLink> link;
    MachineFrame frame; // read once per line
    StatusPoll poll;
    bool homed = false;
    bool unlock = false; // alarmed with the position kept: $X, not $H
    bool modal = false; // G21 G90 sent since the last reset
    bool expectBanner = false; // after our own reset
    bool warned = false; // soft limits off: said once
    std::optional<grbl::MachinePoint> at; // where the last move ended, seen there
    // ...on this board position of a point, lowered: the next hop to a point
    // may go across at the clearance between them.
    std::optional<PlanePoint> atBoard;

    // A new line, or a machine that may have been reset: nothing is known.
    void forget()
    {
        homed = modal = false;
        at.reset();
        atBoard.reset();
    }
    // Feed hold, then a soft reset (GrblLink::halt); the place is kept only
    // when the hold stopped the machine first or it was already unlocking.
    void halt(std::chrono::milliseconds budget)
    {
        if (!link)
            return;
        const bool held = link->halt(budget);
        if (link->lost())
            link.reset();
        else
            expectBanner = true;
        homed = homed && (held || unlock);
        modal = false;
        poll.reset();
        at.reset();
        atBoard.reset();
    }
    void close()
    {
        const bool said = warned;
        *this = GantryLine();
        warned = said;
    }
};

} // namespace motion
