// The moves of a gantry prober, worked out before anything is sent: its
// configuration, whether a target lies within the machine's travel, and the
// G-code that brings the probe there. Plain functions, no I/O.
#pragma once

#include "deadlines.h"
#include "grbl.h"
#include "machineframe.h"
#include "transform.h"

#include <QCoreApplication>
#include <QList>

#include <chrono>
#include <map>
#include <optional>

namespace motion {

// A part of the board a machine keeps clear of: its centre (board mm) and
// its height above the surface (mm).
struct PartHeight
{
    PlanePoint mm;
    double height = 0;
};

struct GantryConfig
{
    QString url; // grbl:/dev/ttyUSB0?baud=115200 or grbl-tcp://host:port
    BoardToMachine transform;
    std::map<int, PlanePoint> targets; // board mm, by the point's position in the signature
    // Machine Z: 0 at the top (after homing), negative downwards.
    double safeZ = -2; // for travel in X and Y
    double contactZ = -30; // the board's surface
    double contactFeed = 100; // mm/min, lowering onto the board
    double xyFeed = 1500; // mm/min
    double step = 0.2; // mm lower on each retry
    double travel = 1.0; // mm below the surface at most
    double approach
        = 1.0; // mm above the surface: down to it at full speed, the rest at the contact feed
    // Every part of the board with its place and height (from the CAD's
    // position file); empty when any part's is unknown. From point to point
    // the probe goes across `partMargin` above the tallest part whose centre
    // lies within `partReach` of the path (`part_margin=`, `part_reach=`).
    std::vector<PartHeight> parts;
    double partReach = 10; // mm
    double partMargin = 1; // mm
    // Without the parts' heights: mm above the surface the probe goes
    // across at from one point of the board to the next (`clearance=`), as
    // the person who sets it knows the board. Unset: the safe height, as
    // for homing, fiducials and jogs. Neither goes above the safe height.
    std::optional<double> clearance;
    // mm/s² on every axis, as the order of the points assumes the machine
    // before it is asked (`accel=`); the moves and their deadlines use the
    // machine's own $120-$122.
    double planAccel = 500;
    bool hover = false; // a dry run: every target at the safe height, never lowered
    Timing timing;
    std::chrono::milliseconds statusPeriod { 100 }; // `?` while moving
    std::chrono::milliseconds pollPeriod { 5 }; // how long a poll waits for replies
};

// How close (mm) a reported position must be to a target to count as there.
constexpr double kAtTolerance = 0.05;
bool near(const grbl::MachinePoint &a, const grbl::MachinePoint &b, bool withZ);

// Why the target (or the safe height above it) cannot be reached, naming
// the axis and the limit; empty when it can. Also refuses a configuration
// that makes no sense (a safe height below the contact height, no feed).
QString travelProblem(
    const GantryConfig &config, const MachineFrame &frame, const grbl::MachinePoint &target);

// Whether the probe must rise before it goes from `from` (unknown: nullopt)
// to `target`: always, unless it is already above the target in X and Y.
bool needsLift(const std::optional<grbl::MachinePoint> &from, const grbl::MachinePoint &target);
// The height (mm above the surface) the probe must go across at from one
// point of the board to another (board mm): over the parts near the path
// when their heights are known, else the clearance, else the safe height.
double clearanceBetween(const GantryConfig &config, PlanePoint from, PlanePoint to);
// The height (machine Z) the probe goes across at from `from`: the one
// above for a hop between two points of the board (`hop`: their board
// positions), the safe height otherwise; never lower than it stands (it
// only rises before a move across), never above the safe height.
using BoardHop = std::pair<PlanePoint, PlanePoint>;
double travelZ(
    const GantryConfig &config, const grbl::MachinePoint &from, const std::optional<BoardHop> &hop);
// The lift to Z `z`, then a dwell, which GRBL acknowledges only once every
// move before it has ended. `setModes` first sets millimetres and absolute
// distances.
QList<QByteArray> liftLines(double z, bool setModes);
// Whether the machine's reported position is at the safe height (or `z`) or above.
bool lifted(const GantryConfig &config, const grbl::MachinePoint &reported);
bool lifted(double z, const grbl::MachinePoint &reported);
// From above the target (lifted to `travelZ`) or on it: the move in X and Y
// when needed, the lowering (at full speed down to the approach height when
// that lies below the travel height, the rest at the contact feed), then a
// dwell.
QList<QByteArray> approachLines(const GantryConfig &config, bool moveXY,
    const grbl::MachinePoint &target, double travelZ, bool setModes);
// How long the lines above take by themselves, from `from`.
double liftSeconds(const MachineFrame &frame, const grbl::MachinePoint &from, double z);
double approachSeconds(const GantryConfig &config, const MachineFrame &frame,
    const grbl::MachinePoint &from, const grbl::MachinePoint &target);
// The least time (s) from resting on the board's surface at board position
// `from` to resting on it at `to`: the lift to the travel height, across,
// down; from nowhere (the first point, after homing) from the machine's
// origin at the safe height. The same both ways between two points: what
// the order of the points sums.
double hopSeconds(const GantryConfig &config, const MachineFrame &frame,
    const std::optional<PlanePoint> &from, PlanePoint to);

} // namespace motion
