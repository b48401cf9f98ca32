#include "machineframe.h"

#include <cmath>

namespace motion {

namespace {

constexpr double kSlack = 1e-6; // mm: a target at the very end is inside
constexpr char kAxes[] = { 'X', 'Y', 'Z' };

QString mm(double v)
{
    return QString::number(v == 0 ? 0 : v);
}

} // namespace

void MachineFrame::take(const grbl::Reply &reply)
{
    if (reply.kind == grbl::Reply::Setting)
        m_settings[reply.code] = reply.value;
    else if (reply.kind == grbl::Reply::Options)
        m_forceOrigin = reply.text.contains(QLatin1Char('Z'));
}

bool MachineFrame::complete() const
{
    for (int n : { 130, 131, 132 })
        if (!(value(n) > 0))
            return false;
    return true;
}

MachineFrame MachineFrame::assumed(double rate, double acceleration)
{
    MachineFrame frame;
    for (int axis = 0; axis < 3; ++axis) {
        frame.m_settings[110 + axis] = rate * 60;
        frame.m_settings[120 + axis] = acceleration;
    }
    return frame;
}

double MachineFrame::value(int n, double fallback) const
{
    const auto it = m_settings.find(n);
    return it == m_settings.end() ? fallback : it->second;
}

bool MachineFrame::negative(int axis) const
{
    const bool towardsNegative = (int(value(23)) >> axis) & 1;
    return !(m_forceOrigin && towardsNegative);
}

AxisRange MachineFrame::range(int axis) const
{
    const double travel = value(130 + axis);
    return negative(axis) ? AxisRange { -travel, 0 } : AxisRange { 0, travel };
}

double MachineFrame::maxRate(int axis) const
{
    return std::max(value(110 + axis, 500), 1e-3) / 60;
}

double MachineFrame::acceleration(int axis) const
{
    return std::max(value(120 + axis, 10), 1e-3);
}

grbl::MachinePoint MachineFrame::home() const
{
    double p[3];
    for (int k = 0; k < 3; ++k) {
        const bool towardsNegative = (int(value(23)) >> k) & 1;
        p[k] = m_forceOrigin ? 0 : towardsNegative ? -value(130 + k) + pullOff() : -pullOff();
    }
    return { p[0], p[1], p[2] };
}

QString MachineFrame::problem(const grbl::MachinePoint &p) const
{
    const double values[] = { p.x, p.y, p.z };
    for (int k = 0; k < 3; ++k) {
        const AxisRange r = range(k);
        if (!std::isfinite(values[k]) || values[k] < r.lo - kSlack || values[k] > r.hi + kSlack)
            return tr("%1 %2 mm is outside the machine's travel, %3 to %4 mm ($%5)")
                .arg(QLatin1Char(kAxes[k]))
                .arg(QString::fromLatin1(grbl::number(values[k])))
                .arg(mm(r.lo), mm(r.hi))
                .arg(130 + k);
    }
    return {};
}

QString MachineFrame::describe() const
{
    QStringList axes;
    for (int k = 0; k < 3; ++k)
        axes << tr("%1 %2 to %3").arg(QLatin1Char(kAxes[k])).arg(mm(range(k).lo), mm(range(k).hi));
    return tr("%1 mm").arg(axes.join(QStringLiteral(", ")));
}

QString MachineFrame::softLimitsWarning() const
{
    if (softLimits())
        return {};
    return tr("soft limits are off on the machine ($20=0): only this program keeps it within %1; "
              "set $20=1 (with homing on) so that the machine refuses too")
        .arg(describe());
}

QString jogProblem(
    const MachineFrame &frame, const grbl::Status &status, double dx, double dy, double dz)
{
    const QString state = status.base();
    if (state == QLatin1String("Alarm"))
        return MachineFrame::tr("the machine is in alarm: unlock or home");
    if (state == QLatin1String("Door"))
        return MachineFrame::tr("the safety door is open: close it first");
    if (state != QLatin1String("Idle") && state != QLatin1String("Jog"))
        return MachineFrame::tr("the machine is busy (%1): wait until it is idle")
            .arg(status.state);
    if (!status.mpos)
        return MachineFrame::tr("the machine has not said where it is yet");
    if (!frame.complete())
        return MachineFrame::tr("the machine has not reported its travel ($130 to $132)");
    const grbl::MachinePoint to { status.mpos->x + dx, status.mpos->y + dy, status.mpos->z + dz };
    if (const QString problem = frame.problem(to); !problem.isEmpty())
        return MachineFrame::tr("that jog would leave the machine's travel: %1").arg(problem);
    return {};
}

} // namespace motion
