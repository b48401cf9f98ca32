// The controller's $ settings: GRBL 1.1's numbers and defaults, listed by $$
// and set by $N=V. The rates, accelerations and travels shape the motion;
// the rest are kept and listed only.
#pragma once

#include "motion.h"

#include <QByteArray>
#include <QList>

#include <map>

namespace gantry {

class Settings
{
public:
    // feed: every axis' max rate (and the homing rate), mm/s. stock: GRBL's
    // own build and defaults (homing towards +X, +Y, +Z, $23=0, every axis
    // from 0 down; soft limits off); else a build that sets the origin at
    // home, homing towards -X and -Y ($23=3): X and Y from 0 up.
    explicit Settings(double feed, bool stock = false);

    // Parses "$N=V" and sets it; returns 0 or GRBL's error number.
    int set(const QByteArray &line);
    QList<QByteArray> listing() const; // "$N=V" lines, as $$ shows them

    bool softLimits() const { return values_.at(20) != 0; }
    bool homing() const { return values_.at(22) != 0; }
    double homingRate() const { return values_.at(25) / 60; } // mm/s
    Axes maxRates() const { return triple(110, 1.0 / 60); } // mm/s
    Axes accelerations() const { return triple(120, 1.0); } // mm/s²
    Axes travels() const { return triple(130, 1.0); } // mm
    double pullOff() const { return values_.at(27); }
    // An axis' travel in machine mm, as GRBL 1.1 places it.
    std::pair<double, double> range(std::size_t axis) const;
    // Where homing leaves the machine.
    Axes home() const;
    // The build's option letters, as $I shows them.
    QByteArray options() const { return forceOrigin_ ? "VZ" : "V"; }

private:
    Axes triple(int first, double scale) const;
    std::map<int, double> values_;
    bool forceOrigin_ = true;
};

} // namespace gantry
