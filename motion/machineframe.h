// The machine's frame as it reports it: which way each axis homes ($23),
// whether homing sets the origin ($I's option Z), the travel ($130-$132),
// the pull-off ($27), the limits ($20, $21), the rates and accelerations
// ($110-$112, $120-$122) and the homing feeds ($24, $25). GRBL 1.1 puts an
// axis in negative space (from 0 down to -travel) unless the build forces
// the origin at home and the axis homes towards its negative end, which
// gives positive space (0 up to travel). Every target is checked here
// before anything is sent.
#pragma once

#include "grbl.h"

#include <QCoreApplication>
#include <QString>

#include <map>
#include <optional>

namespace motion {

struct AxisRange
{
    double lo = 0;
    double hi = 0;
};

class MachineFrame
{
    Q_DECLARE_TR_FUNCTIONS(motion::MachineFrame)

public:
    // Takes a line of `$$` or `$I`; others are ignored.
    void take(const grbl::Reply &reply);
    // A machine not yet asked, as a plan assumes it: every axis at this rate
    // (mm/s) and acceleration (mm/s²).
    static MachineFrame assumed(double rate, double acceleration);
    // The travel of every axis is known.
    bool complete() const;

    AxisRange range(int axis) const;
    bool negative(int axis) const;
    bool softLimits() const { return value(20) != 0; }
    bool hardLimits() const { return value(21) != 0; }
    double pullOff() const { return value(27, 1); }
    double maxRate(int axis) const; // mm/s
    double acceleration(int axis) const; // mm/s²
    double homingSeek() const { return value(25, 500) / 60; } // mm/s
    double homingFeed() const { return value(24, 25) / 60; } // mm/s
    // Where homing leaves the machine.
    grbl::MachinePoint home() const;

    // Why the point lies outside the travel, naming the axis and its range;
    // empty when inside.
    QString problem(const grbl::MachinePoint &p) const;
    // "X 0 to 300, Y 0 to 200, Z -50 to 0 mm"
    QString describe() const;
    // Said once per connection when the machine would not refuse a move
    // beyond its travel by itself.
    QString softLimitsWarning() const;

private:
    double value(int n, double fallback = 0) const;
    std::map<int, double> m_settings;
    bool m_forceOrigin = false;
};

// Why a relative jog cannot be sent now: the machine in alarm or busy, its
// position unknown, or the target beyond its travel. Empty when it can.
QString jogProblem(
    const MachineFrame &frame, const grbl::Status &status, double dx, double dy, double dz);

} // namespace motion
