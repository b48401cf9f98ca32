// How long each step of a machine may take before it counts as lost: a
// line's acknowledgement and a status reply by the link, a move by its own
// length, speed and acceleration, homing by the travel it may search, each
// with a margin. Plain arithmetic, no I/O.
#pragma once

#include "grbl.h"

#include <chrono>
#include <optional>

namespace motion {

class MachineFrame;

struct Timing
{
    using ms = std::chrono::milliseconds;
    // A status reply or a line's ok not heard within this is asked for again
    // (a status), or counts as lost (a line); also the halt's budget.
    ms reply { 1000 };
    // No status reply at all within this, asked again meanwhile: the
    // machine no longer answers.
    ms status { 5000 };
    double margin = 0.5; // a move may take its own time times 1 + margin...
    ms slack { 2000 }; // ...plus this, plus the reply time
    std::optional<ms> homing; // else from the travel and the homing feeds
};

// The time (s) of one straight move at `feed` mm/min (0: rapid), from rest
// to rest, within every axis' rate and acceleration.
double moveSeconds(const MachineFrame &frame, const grbl::MachinePoint &from,
    const grbl::MachinePoint &to, double feed);
// The deadline of moves that take `seconds` by themselves.
std::chrono::milliseconds motionDeadline(const Timing &timing, double seconds);
// The deadline of a homing cycle: Z, then X and Y, each searching up to
// 1.5 times its travel at the seek rate, then locating at the feed rate.
std::chrono::milliseconds homingDeadline(const Timing &timing, const MachineFrame &frame);

} // namespace motion
