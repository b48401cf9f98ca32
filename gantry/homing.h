// The gantry's homing cycle as GRBL's default cycles run it: Z clears first,
// then X and Y together, each straight to the home position at the homing
// rate, then a moment of locating the switches.
#pragma once

#include "motion.h"
#include "settings.h"

namespace gantry {

class HomingCycle
{
public:
    bool active() const { return phase_ != Phase::None; }
    void start(Motion &motion, const Settings &settings);
    // Runs it on at machine time `now`; true once it has ended, the
    // position set at home.
    bool advance(Motion &motion, const Settings &settings, double now);
    void abort() { phase_ = Phase::None; }

private:
    enum class Phase { None, SeekingZ, SeekingXY, Locating };
    Phase phase_ = Phase::None;
    double until_ = 0; // end of locating
};

} // namespace gantry
