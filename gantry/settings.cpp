#include "settings.h"

#include "gcode.h"

#include <algorithm>
#include <cmath>

namespace gantry {
namespace {

// GRBL 1.1's settings with their defaults, but for the rates, accelerations
// and travels of this machine.
const std::pair<int, double> kDefaults[] = { { 0, 10 }, { 1, 25 }, { 2, 0 }, { 3, 0 }, { 4, 0 },
    { 5, 0 }, { 6, 0 }, { 10, 1 }, { 11, 0.010 }, { 12, 0.002 }, { 13, 0 }, { 20, 1 }, { 21, 0 },
    { 22, 1 }, { 23, 3 }, { 24, 25 }, { 25, 500 }, { 26, 250 }, { 27, 1 }, { 30, 1000 },
    { 31, 0 }, { 32, 0 }, { 100, 250 }, { 101, 250 }, { 102, 250 }, { 110, 0 }, { 111, 0 },
    { 112, 0 }, { 120, 500 }, { 121, 500 }, { 122, 500 }, { 130, 300 }, { 131, 200 },
    { 132, 50 } };

// Integers print without decimals.
bool isFloatSetting(int n)
{
    return n == 11 || n == 12 || n == 24 || n == 25 || n == 27 || n >= 100;
}

} // namespace

Settings::Settings(double feed, bool stock)
    : forceOrigin_(!stock)
{
    for (const auto &[n, v] : kDefaults)
        values_[n] = v;
    if (stock)
        values_[23] = 0, values_[20] = 0;
    for (int n : { 110, 111, 112, 25 })
        values_[n] = feed * 60;
}

Axes Settings::triple(int first, double scale) const
{
    // A rate or acceleration of 0 would never end a move.
    return { std::max(values_.at(first) * scale, 1e-3), std::max(values_.at(first + 1) * scale, 1e-3),
        std::max(values_.at(first + 2) * scale, 1e-3) };
}

std::pair<double, double> Settings::range(std::size_t axis) const
{
    const double travel = values_.at(130 + int(axis));
    const bool towardsNegative = (int(values_.at(23)) >> axis) & 1;
    if (forceOrigin_ && towardsNegative)
        return { 0, travel };
    return { -travel, 0 };
}

Axes Settings::home() const
{
    Axes p {};
    for (std::size_t k = 0; k < 3; ++k) {
        const bool towardsNegative = (int(values_.at(23)) >> k) & 1;
        p[k] = forceOrigin_ ? 0 : towardsNegative ? -values_.at(130 + int(k)) + pullOff() : -pullOff();
    }
    return p;
}

int Settings::set(const QByteArray &line)
{
    const int eq = line.indexOf('=');
    bool nOk = false, valueOk = false;
    const int n = line.mid(1, eq - 1).toInt(&nOk);
    const double value = line.mid(eq + 1).toDouble(&valueOk);
    if (eq < 2 || !nOk || !values_.count(n))
        return error::kInvalidStatement;
    if (!valueOk || !std::isfinite(value))
        return error::kBadNumber;
    if (value < 0)
        return error::kNegativeValue;
    if (n == 20 && value != 0 && !homing())
        return error::kSoftLimitsNeedHoming;
    values_[n] = isFloatSetting(n) ? value : std::floor(value);
    return 0;
}

QList<QByteArray> Settings::listing() const
{
    QList<QByteArray> lines;
    for (const auto &[n, v] : values_)
        lines << "$" + QByteArray::number(n) + "="
                + (isFloatSetting(n) ? QByteArray::number(v, 'f', 3)
                                     : QByteArray::number(std::lround(v)));
    return lines;
}

} // namespace gantry
