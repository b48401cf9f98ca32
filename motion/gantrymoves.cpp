#include "gantrymoves.h"

#include <algorithm>
#include <cmath>

namespace motion {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("motion::GantryProber", text);
}

QByteArray feed(double mmPerMinute)
{
    return QByteArray::number(mmPerMinute, 'g', 6);
}

} // namespace

bool near(const grbl::MachinePoint &a, const grbl::MachinePoint &b, bool withZ)
{
    return std::abs(a.x - b.x) <= kAtTolerance && std::abs(a.y - b.y) <= kAtTolerance
        && (!withZ || std::abs(a.z - b.z) <= kAtTolerance);
}

QString travelProblem(const GantryConfig &c, const MachineFrame &frame, const grbl::MachinePoint &t)
{
    if (!(c.contactFeed > 0) || !(c.xyFeed > 0) || !(c.step > 0) || !(c.travel >= 0))
        return tr("the feeds and the retry step must be positive, the travel not negative");
    if (!(c.safeZ > c.contactZ))
        return tr("the safe height (Z %1) is not above the contact height (Z %2)")
            .arg(c.safeZ)
            .arg(c.contactZ);
    if (const QString problem = frame.problem(t); !problem.isEmpty())
        return problem;
    return frame.problem({ t.x, t.y, c.safeZ });
}

bool needsLift(const std::optional<grbl::MachinePoint> &from, const grbl::MachinePoint &target)
{
    return !from || !near(*from, target, false);
}

double clearanceBetween(const GantryConfig &config, PlanePoint from, PlanePoint to)
{
    if (config.parts.empty())
        return config.clearance.value_or(config.safeZ - config.contactZ);
    // The distance from a part's centre to the segment from-to.
    const double dx = to.x - from.x, dy = to.y - from.y;
    const double squared = dx * dx + dy * dy;
    double tallest = 0;
    for (const PartHeight &p : config.parts) {
        const double t = squared > 0
            ? std::clamp(((p.mm.x - from.x) * dx + (p.mm.y - from.y) * dy) / squared, 0.0, 1.0)
            : 0.0;
        const double off = std::hypot(p.mm.x - (from.x + t * dx), p.mm.y - (from.y + t * dy));
        if (off <= config.partReach)
            tallest = std::max(tallest, p.height);
    }
    return tallest + config.partMargin;
}

double travelZ(
    const GantryConfig &config, const grbl::MachinePoint &from, const std::optional<BoardHop> &hop)
{
    const double wanted
        = hop ? config.contactZ + clearanceBetween(config, hop->first, hop->second) : config.safeZ;
    return std::min(config.safeZ, std::max(wanted, from.z));
}

QList<QByteArray> liftLines(double z, bool setModes)
{
    QList<QByteArray> lines;
    if (setModes)
        lines << "G21 G90"; // a reset sets them back to the machine's defaults
    // Machine coordinates (G53): a work offset left on the machine moves nothing.
    lines << "G53 G0 Z" + grbl::number(z);
    lines << "G4 P0";
    return lines;
}

bool lifted(double z, const grbl::MachinePoint &reported)
{
    return reported.z >= z - kAtTolerance;
}

bool lifted(const GantryConfig &config, const grbl::MachinePoint &reported)
{
    return lifted(config.safeZ, reported);
}

QList<QByteArray> approachLines(const GantryConfig &config, bool moveXY,
    const grbl::MachinePoint &target, double travelZ, bool setModes)
{
    QList<QByteArray> lines;
    if (setModes)
        lines << "G21 G90";
    const double landing = target.z + config.approach;
    if (moveXY) {
        lines << "G53 G1 X" + grbl::number(target.x) + " Y" + grbl::number(target.y) + " F"
                + feed(config.xyFeed);
        if (landing < travelZ)
            lines << "G53 G0 Z" + grbl::number(landing);
    }
    lines << "G53 G1 Z" + grbl::number(target.z) + " F" + feed(config.contactFeed);
    lines << "G4 P0";
    return lines;
}

double liftSeconds(const MachineFrame &frame, const grbl::MachinePoint &from, double z)
{
    return moveSeconds(frame, from, { from.x, from.y, z }, 0);
}

double approachSeconds(const GantryConfig &config, const MachineFrame &frame,
    const grbl::MachinePoint &from, const grbl::MachinePoint &target)
{
    const grbl::MachinePoint above { target.x, target.y, from.z };
    const grbl::MachinePoint landing { target.x, target.y,
        std::min(from.z, target.z + config.approach) };
    return moveSeconds(frame, from, above, config.xyFeed) + moveSeconds(frame, above, landing, 0)
        + moveSeconds(frame, landing, target, config.contactFeed);
}

} // namespace motion

namespace motion {

double hopSeconds(const GantryConfig &config, const MachineFrame &frame,
    const std::optional<PlanePoint> &from, PlanePoint to)
{
    const PlanePoint over = config.transform.map(to);
    const grbl::MachinePoint target { over.x, over.y, config.contactZ };
    if (!from)
        return approachSeconds(config, frame, { 0, 0, config.safeZ }, target);
    const PlanePoint at = config.transform.map(*from);
    const grbl::MachinePoint start { at.x, at.y, config.contactZ };
    const double z = travelZ(config, start, BoardHop { *from, to });
    return liftSeconds(frame, start, z) + approachSeconds(config, frame, { at.x, at.y, z }, target);
}

} // namespace motion
