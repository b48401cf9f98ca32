#include "cause.h"

#include "score.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sig {
namespace {

// Below this score two curves differ by the noise of two captures of one load
// (0.1 to 1 % on the virtual instrument).
constexpr double kNoDifference = 1.5;
// A shift along the voltage axis is the cause when, undone, it leaves at most
// this share of the score: what remains is noise, not a changed load.
constexpr double kShiftExplains = 0.25;
// For a resistor across a diode, a resistance change below this (percent) is
// the fit's noise; the knee is the cause then.
constexpr double kResistanceNoise = 5.0;

using K = Reading::Kind;

bool comparable(const IvCurve &r, const IvCurve &t)
{
    const std::size_t n = r.volts.size();
    if (n == 0 || r.milliamps.size() != n || t.volts.size() != n || t.milliamps.size() != n)
        return false;
    for (const std::vector<double> *v : { &r.volts, &r.milliamps, &t.volts, &t.milliamps })
        for (double x : *v)
            if (!std::isfinite(x))
                return false;
    return true;
}

double mean(const std::vector<double> &v)
{
    return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

double percentChange(double before, double after)
{
    return 100.0 * (after / before - 1.0);
}

// A value changed by `percent`: one kind when higher, the other when lower.
Cause::Kind higherOrLower(double percent, Cause::Kind higher, Cause::Kind lower)
{
    return percent >= 0 ? higher : lower;
}

// Both curves read as the same kind of load: what changed in its values, or
// nothing found.
bool sameKind(const Reading &before, const Reading &now, Cause &c)
{
    const bool sameSide = std::signbit(before.forwardVolts) == std::signbit(now.forwardVolts);
    switch (before.kind) {
    case K::Resistor:
        c.value = percentChange(before.ohms, now.ohms);
        c.kind
            = higherOrLower(c.value, Cause::Kind::ResistanceHigher, Cause::Kind::ResistanceLower);
        return true;
    case K::Capacitor:
        c.value = percentChange(before.farads, now.farads);
        c.kind
            = higherOrLower(c.value, Cause::Kind::CapacitanceHigher, Cause::Kind::CapacitanceLower);
        return true;
    case K::ResistorDiode:
        c.value = percentChange(before.ohms, now.ohms);
        if (std::fabs(c.value) >= kResistanceNoise) {
            c.kind = higherOrLower(
                c.value, Cause::Kind::ResistanceHigher, Cause::Kind::ResistanceLower);
            return true;
        }
        [[fallthrough]];
    case K::Diode:
        if (!sameSide)
            return false; // turned round: a shape of its own
        c.kind = Cause::Kind::KneeShifted;
        c.value = now.forwardVolts - before.forwardVolts;
        return true;
    default:
        return false;
    }
}

QString percentText(double percent)
{
    const double p = std::fabs(percent);
    return QString::number(p, 'f', p >= 9.95 ? 0 : 1);
}

} // namespace

Cause cause(const IvCurve &r, const IvCurve &t, const measurement_settings &s)
{
    Cause c;
    c.kind = Cause::Kind::ShapeChanged;
    if (!comparable(r, t))
        return c;
    c.now = read(t, s);
    const Reading before = read(r, s);
    const double difference = score(r, t, s);
    if (difference < kNoDifference) {
        c.kind = Cause::Kind::None;
        return c;
    }
    if (c.now.kind != before.kind && (c.now.kind == K::Open || c.now.kind == K::Short)) {
        c.kind = c.now.kind == K::Open ? Cause::Kind::Open : Cause::Kind::Short;
        return c;
    }
    IvCurve moved = r;
    const double shift = mean(t.volts) - mean(r.volts);
    for (double &v : moved.volts)
        v += shift;
    if (score(moved, t, s) <= kShiftExplains * difference) {
        c.kind = Cause::Kind::Offset;
        c.value = shift;
        return c;
    }
    if (before.kind == c.now.kind) {
        if (!sameKind(before, c.now, c)) {
            c.kind = Cause::Kind::ShapeChanged;
            c.value = 0;
        }
        return c;
    }
    // A conductance across what was there: an open that now reads as a
    // resistor, a diode that now has a resistor beside it.
    if ((before.kind == K::Open && c.now.kind == K::Resistor)
        || (before.kind == K::Diode && c.now.kind == K::ResistorDiode)) {
        c.kind = Cause::Kind::Leakage;
        c.value = 1.0 / c.now.ohms;
    }
    return c;
}

const char *Cause::kindName() const
{
    switch (kind) {
    case Kind::None:
        return "none";
    case Kind::Open:
        return "open";
    case Kind::Short:
        return "short";
    case Kind::ResistanceHigher:
        return "resistance_higher";
    case Kind::ResistanceLower:
        return "resistance_lower";
    case Kind::Leakage:
        return "leakage";
    case Kind::KneeShifted:
        return "knee_shifted";
    case Kind::CapacitanceHigher:
        return "capacitance_higher";
    case Kind::CapacitanceLower:
        return "capacitance_lower";
    case Kind::Offset:
        return "offset";
    default:
        return "shape_changed";
    }
}

QString Cause::text() const
{
    const QString volts = QString::number(std::fabs(value), 'f', 2);
    switch (kind) {
    case Kind::None:
        return QCoreApplication::translate("sig::Cause", "no difference");
    case Kind::Open:
        return QCoreApplication::translate("sig::Cause", "open circuit");
    case Kind::Short:
        return QCoreApplication::translate("sig::Cause", "short circuit");
    case Kind::ResistanceHigher:
        return QCoreApplication::translate("sig::Cause", "resistance %1 % higher")
            .arg(percentText(value));
    case Kind::ResistanceLower:
        return QCoreApplication::translate("sig::Cause", "resistance %1 % lower")
            .arg(percentText(value));
    case Kind::Leakage:
        return QCoreApplication::translate("sig::Cause", "leakage of %1 in parallel (%2)")
            .arg(withPrefix(value, QStringLiteral("S")),
                withPrefix(1.0 / value, QStringLiteral("Ω")));
    case Kind::KneeShifted:
        return (value >= 0 ? QCoreApplication::translate("sig::Cause", "knee voltage %1 V higher")
                           : QCoreApplication::translate("sig::Cause", "knee voltage %1 V lower"))
            .arg(volts);
    case Kind::CapacitanceHigher:
        return QCoreApplication::translate("sig::Cause", "capacitance %1 % higher")
            .arg(percentText(value));
    case Kind::CapacitanceLower:
        return QCoreApplication::translate("sig::Cause", "capacitance %1 % lower")
            .arg(percentText(value));
    case Kind::Offset:
        return (value >= 0 ? QCoreApplication::translate("sig::Cause", "voltage offset of +%1 V")
                           : QCoreApplication::translate("sig::Cause", "voltage offset of -%1 V"))
            .arg(volts);
    default:
        return QCoreApplication::translate("sig::Cause", "shape changed: now %1").arg(now.text());
    }
}

} // namespace sig
