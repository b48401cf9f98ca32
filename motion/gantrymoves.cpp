#include "gantrymoves.h"

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

QString travelProblem(const GantryConfig &c, const MachineTravel &travel, const grbl::MachinePoint &t)
{
    if (!(c.contactFeed > 0) || !(c.xyFeed > 0) || !(c.step > 0) || !(c.travel >= 0))
        return tr("the feeds and the retry step must be positive, the travel not negative");
    if (!(c.safeZ > c.contactZ))
        return tr("the safe height (Z %1) is not above the contact height (Z %2)")
            .arg(c.safeZ)
            .arg(c.contactZ);
    const char axes[] = { 'X', 'Y', 'Z' };
    const double values[] = { t.x, t.y, t.z };
    for (int k = 0; k < 3; ++k) {
        const double max = k == 0 ? travel.x : k == 1 ? travel.y : travel.z;
        const double lo = k == 2 ? -max : 0;
        const double hi = k == 2 ? 0 : max;
        for (const double v : { values[k], k == 2 ? c.safeZ : values[k] }) {
            if (!std::isfinite(v) || v < lo - 1e-9 || v > hi + 1e-9)
                return tr("%1 %2 mm is outside the machine's travel, %3 to %4 mm ($%5)")
                    .arg(QLatin1Char(axes[k]))
                    .arg(QString::fromLatin1(grbl::number(v)))
                    .arg(lo)
                    .arg(hi)
                    .arg(130 + k);
        }
    }
    return {};
}

QList<QByteArray> moveLines(const GantryConfig &config, const std::optional<grbl::MachinePoint> &from,
    const grbl::MachinePoint &target, bool setModes)
{
    QList<QByteArray> lines;
    if (setModes)
        lines << "G21 G90"; // a reset sets them back to the machine's defaults
    // Machine coordinates (G53): a work offset left on the machine moves nothing.
    if (!from || !near(*from, target, false)) {
        lines << "G53 G0 Z" + grbl::number(config.safeZ);
        lines << "G53 G1 X" + grbl::number(target.x) + " Y" + grbl::number(target.y) + " F" + feed(config.xyFeed);
    }
    lines << "G53 G1 Z" + grbl::number(target.z) + " F" + feed(config.contactFeed);
    lines << "G4 P0";
    return lines;
}

} // namespace motion
