#include "reading.h"

#include "score.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Below this share of the range's full scale the probe sees no current.
constexpr double kOpenCurrent = 1e-3;
// Below this share of the source's amplitude the probe sees no voltage.
constexpr double kShortVoltage = 0.01;
// A fit explains the curve when what it leaves is below this share of it.
constexpr double kFitResidual = 0.05;

double rms(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x * x;
    return v.empty() ? 0.0 : std::sqrt(sum / double(v.size()));
}

double maxAbs(const std::vector<double> &v)
{
    double m = 0;
    for (double x : v)
        m = std::max(m, std::fabs(x));
    return m;
}

// Least squares of i = a v + b dv/dt over the interior points, with dv/dt
// from central differences. For the sine the source applies, a central
// difference reads sin(wh)/(wh) of the true slope; b is corrected for it.
struct LinearFit
{
    double a = 0, b = 0; // mA/V, mA s/V
    double resistive = 0, reactive = 0, residual = 0; // RMS of each part, mA
    double current = 0; // RMS of the fitted points' current, mA
};

LinearFit fitLinear(const IvCurve &c, double rate, double frequency)
{
    LinearFit f;
    const std::size_t n = c.volts.size();
    if (n < 3 || !(rate > 0))
        return f;
    const double h = 1.0 / rate;
    std::vector<double> v, d, i;
    for (std::size_t k = 1; k + 1 < n; ++k) {
        v.push_back(c.volts[k]);
        d.push_back((c.volts[k + 1] - c.volts[k - 1]) / (2 * h));
        i.push_back(c.milliamps[k]);
    }
    double vv = 0, dd = 0, vd = 0, vi = 0, di = 0;
    for (std::size_t k = 0; k < v.size(); ++k) {
        vv += v[k] * v[k];
        dd += d[k] * d[k];
        vd += v[k] * d[k];
        vi += v[k] * i[k];
        di += d[k] * i[k];
    }
    const double det = vv * dd - vd * vd;
    if (std::fabs(det) > 1e-12 * vv * dd && det != 0) {
        f.a = (vi * dd - di * vd) / det;
        f.b = (di * vv - vi * vd) / det;
    } else if (vv > 0) {
        f.a = vi / vv;
    }
    std::vector<double> res(v.size()), rp(v.size()), xp(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) {
        rp[k] = f.a * v[k];
        xp[k] = f.b * d[k];
        res[k] = i[k] - rp[k] - xp[k];
    }
    f.resistive = rms(rp);
    f.reactive = rms(xp);
    f.residual = rms(res);
    f.current = rms(i);
    const double wh = 2 * kPi * frequency * h;
    if (wh > 0 && wh < kPi)
        f.b *= std::sin(wh) / wh;
    return f;
}

// The voltage where the current in excess of g v passes half of its peak on
// the conducting side (sign +1 or -1), or NaN when there is no such current.
double kneeVolts(const IvCurve &c, double g, int sign)
{
    double peak = 0;
    for (std::size_t k = 0; k < c.volts.size(); ++k)
        peak = std::max(peak, sign * (c.milliamps[k] - g * c.volts[k]));
    double best = NAN, bestV = 0;
    for (std::size_t k = 0; k < c.volts.size(); ++k) {
        const double excess = sign * (c.milliamps[k] - g * c.volts[k]);
        if (excess >= 0.5 * peak && (std::isnan(best) || excess < best)) {
            best = excess;
            bestV = c.volts[k];
        }
    }
    return peak > 0 ? bestV : NAN;
}

// A diode, alone or across a resistor: on one side of 0 V the current is that
// of a resistor (or none), on the other it grows far beyond it while the
// voltage stays nearly constant.
bool readDiode(const IvCurve &c, double openMilliamps, Reading &out)
{
    for (int sign : { 1, -1 }) {
        double vi = 0, vv = 0, vmax = 0, vspan = 0;
        for (std::size_t k = 0; k < c.volts.size(); ++k) {
            vspan = std::max(vspan, std::fabs(c.volts[k]));
            if (sign * c.volts[k] < 0) {
                vi += c.volts[k] * c.milliamps[k];
                vv += c.volts[k] * c.volts[k];
                vmax = std::max(vmax, std::fabs(c.volts[k]));
            }
        }
        if (vv == 0 || vmax < 0.3 * vspan)
            continue; // the blocking side must hold a good part of the swing
        const double g = vi / vv;
        // The blocking side follows the resistor closely.
        double res = 0, cnt = 0, peak = 0, knee = 0;
        for (std::size_t k = 0; k < c.volts.size(); ++k) {
            const double excess = sign * (c.milliamps[k] - g * c.volts[k]);
            if (sign * c.volts[k] < 0) {
                res += excess * excess;
                ++cnt;
            } else {
                peak = std::max(peak, excess);
                knee = std::max(knee, sign * c.volts[k]);
            }
        }
        const double blockingResidual = cnt ? std::sqrt(res / cnt) : 0.0;
        if (peak < 10 * openMilliamps || blockingResidual > kFitResidual * peak)
            continue;
        // The conducting side clamps: it reaches far less voltage than the
        // blocking side does.
        if (knee > 0.5 * vmax)
            continue;
        if (std::fabs(g) * vmax < openMilliamps) {
            out.kind = Reading::Kind::Diode;
            out.forwardVolts = kneeVolts(c, 0.0, sign);
            return true;
        }
        if (g < 0)
            return false;
        out.kind = Reading::Kind::ResistorDiode;
        out.ohms = 1000.0 / g;
        out.forwardVolts = kneeVolts(c, g, sign);
        return true;
    }
    return false;
}

} // namespace

Reading read(const IvCurve &c, const measurement_settings &s)
{
    Reading r;
    const std::size_t n = c.volts.size();
    if (n < 3 || c.milliamps.size() != n)
        return r;
    for (std::size_t k = 0; k < n; ++k)
        if (!std::isfinite(c.volts[k]) || !std::isfinite(c.milliamps[k]))
            return r;
    const double openMilliamps = kOpenCurrent * fullScaleMilliamps(s.CurrentSensorMode);
    const double imax = maxAbs(c.milliamps);
    const double vmax = maxAbs(c.volts);
    if (imax < openMilliamps || s.CurrentSensorMode == CURRENT_SENSE_MODE_ISOLATED) {
        r.kind = Reading::Kind::Open;
        return r;
    }
    if (vmax < kShortVoltage * std::max(double(s.MaxVoltage), 0.1)) {
        r.kind = Reading::Kind::Short;
        return r;
    }
    const LinearFit f = fitLinear(c, s.SamplingRate, s.ProbeSignalFrequency);
    if (f.residual < kFitResidual * f.current) {
        if (f.reactive < kFitResidual * f.current && f.a > 0) {
            r.kind = Reading::Kind::Resistor;
            r.ohms = 1000.0 / f.a;
            return r;
        }
        if (f.resistive < kFitResidual * f.current && f.b > 0) {
            r.kind = Reading::Kind::Capacitor;
            r.farads = f.b * 1e-3;
            return r;
        }
    }
    if (readDiode(c, openMilliamps, r))
        return r;
    r = Reading();
    return r;
}

QString withPrefix(double value, const QString &unit)
{
    static const struct
    {
        double scale;
        const char *prefix;
    } kPrefixes[] = { { 1e9, "G" }, { 1e6, "M" }, { 1e3, "k" }, { 1, "" }, { 1e-3, "m" },
        { 1e-6, "µ" }, { 1e-9, "n" }, { 1e-12, "p" } };
    for (const auto &p : kPrefixes) {
        if (std::fabs(value) >= p.scale * 0.9995 || p.scale == 1e-12) {
            // Three significant digits: 1.00, 10.0, 100.
            const double scaled = value / p.scale;
            const int decimals = std::fabs(scaled) >= 99.95 ? 0
                : std::fabs(scaled) >= 9.995                ? 1
                                                            : 2;
            return QStringLiteral("%1 %2%3")
                .arg(scaled, 0, 'f', decimals)
                .arg(QString::fromUtf8(p.prefix), unit);
        }
    }
    return QString();
}

const char *Reading::kindName() const
{
    switch (kind) {
    case Kind::Open:
        return "open";
    case Kind::Short:
        return "short";
    case Kind::Resistor:
        return "resistor";
    case Kind::Capacitor:
        return "capacitor";
    case Kind::Diode:
        return "diode";
    case Kind::ResistorDiode:
        return "resistor_diode";
    default:
        return "complex";
    }
}

QString Reading::text() const
{
    const QString vf = QStringLiteral("%1 V").arg(forwardVolts, 0, 'f', 2);
    switch (kind) {
    case Kind::Open:
        return QCoreApplication::translate("sig::Reading", "open circuit");
    case Kind::Short:
        return QCoreApplication::translate("sig::Reading", "short circuit");
    case Kind::Resistor:
        return QCoreApplication::translate("sig::Reading", "resistor, %1")
            .arg(withPrefix(ohms, QStringLiteral("Ω")));
    case Kind::Capacitor:
        return QCoreApplication::translate("sig::Reading", "capacitor, about %1")
            .arg(withPrefix(farads, QStringLiteral("F")));
    case Kind::Diode:
        return QCoreApplication::translate("sig::Reading", "diode, forward voltage %1").arg(vf);
    case Kind::ResistorDiode:
        return QCoreApplication::translate(
            "sig::Reading", "resistor of %1 and a diode in parallel, forward voltage %2")
            .arg(withPrefix(ohms, QStringLiteral("Ω")), vf);
    default:
        return QCoreApplication::translate("sig::Reading", "complex");
    }
}

} // namespace sig
