#include "curvefigures.h"

#include "curve.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CurveFigures", text);
}

} // namespace

CurveFigures figuresOf(const Curve &curve)
{
    CurveFigures f;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Centred sums: numerically stable for large offsets.
    double meanV = 0, meanI = 0;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        if (!curve.hasPoint(i))
            continue;
        ++f.points;
        meanV += curve.voltage[i];
        meanI += curve.current[i];
        if (std::abs(curve.current[i]) > std::abs(f.peakCurrentMa))
            f.peakCurrentMa = curve.current[i];
    }
    if (f.points < 2) {
        f.resistanceOhms = nan;
        f.rSquared = nan;
        return f;
    }
    meanV /= double(f.points);
    meanI /= double(f.points);
    double svv = 0, sii = 0, svi = 0;
    for (std::size_t i = 0; i < curve.size(); ++i) {
        if (!curve.hasPoint(i))
            continue;
        const double dv = curve.voltage[i] - meanV;
        const double di = curve.current[i] - meanI;
        svv += dv * dv;
        sii += di * di;
        svi += dv * di;
    }
    if (svv <= 0) {
        f.resistanceOhms = nan;
        f.rSquared = nan;
        return f;
    }
    const double conductance = svi / svv; // mA per V
    f.resistanceOhms
        = conductance == 0 ? std::numeric_limits<double>::infinity() : 1000.0 / conductance;
    f.rSquared = sii > 0 ? (svi * svi) / (svv * sii) : nan;
    return f;
}

QString siText(double value, const QString &unit)
{
    if (std::isnan(value))
        return QStringLiteral("-");
    if (std::isinf(value))
        return tr("%1∞ %2").arg(value < 0 ? QStringLiteral("-") : QString(), unit);
    static const char *const prefixes[] = { "p", "n", "µ", "m", "", "k", "M", "G", "T" };
    constexpr int unitIndex = 4;
    int exponent = 0;
    if (value != 0)
        exponent = int(std::floor(std::log10(std::abs(value)) / 3));
    exponent = std::clamp(exponent, -unitIndex, int(std::size(prefixes)) - 1 - unitIndex);
    double scaled = value / std::pow(1000.0, exponent);
    // Rounding to three digits can carry into the next prefix (999.7 -> 1.00 k).
    if (std::abs(QString::number(scaled, 'g', 3).toDouble()) >= 1000
        && exponent + unitIndex + 1 < int(std::size(prefixes))) {
        ++exponent;
        scaled /= 1000;
    }
    int decimals = 2;
    if (std::abs(scaled) >= 100)
        decimals = 0;
    else if (std::abs(scaled) >= 10)
        decimals = 1;
    return tr("%1 %2%3").arg(QString::number(scaled, 'f', decimals),
        QString::fromUtf8(prefixes[exponent + unitIndex]), unit);
}

QString figuresText(const Curve &curve)
{
    const CurveFigures f = figuresOf(curve);
    const QString rSquared
        = std::isnan(f.rSquared) ? QStringLiteral("-") : QString::number(f.rSquared, 'f', 4);
    QString text = tr("%1 points · slope %2 (R² %3) · peak %4")
                       .arg(f.points)
                       .arg(siText(f.resistanceOhms, QStringLiteral("Ω")), rSquared,
                           siText(f.peakCurrentMa / 1000.0, QStringLiteral("A")));
    if (curve.duration.count() > 0)
        text = tr("%1 · run %2")
                   .arg(text,
                       siText(std::chrono::duration<double>(curve.duration).count(),
                           QStringLiteral("s")));
    return text;
}
