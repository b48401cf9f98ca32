#include "physics.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace zemsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
// A small-signal silicon diode at room temperature.
constexpr double kSaturationAmps = 1.0e-12;
constexpr double kThermalVolts = 0.025852;

double diodeAmps(double volts, double emission)
{
    // Above a few volts forward the exponential overflows; no physical source
    // here can drive it that far, so the cap only keeps the solver finite.
    const double x = std::min(volts / (emission * kThermalVolts), 200.0);
    return kSaturationAmps * std::expm1(x);
}

// Voltage across a load with a monotone characteristic driven by `source`
// through `seriesOhms`: the root of v + R * i(v) = source, which lies between
// 0 and source.
double solveVoltage(const Load &load, double source, double seriesOhms)
{
    double lo = std::min(0.0, source);
    double hi = std::max(0.0, source);
    for (int i = 0; i < 80 && hi - lo > 1e-12; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid + seriesOhms * loadAmps(load, mid) > source)
            hi = mid;
        else
            lo = mid;
    }
    return 0.5 * (lo + hi);
}

Sample staticSample(const Load &load, double source, double seriesOhms)
{
    switch (load.kind) {
    case LoadKind::Open:
        return { source, 0.0 };
    case LoadKind::Short:
        return { 0.0, 1000.0 * source / seriesOhms };
    case LoadKind::Resistor: {
        const double amps = source / (load.ohms + seriesOhms);
        return { amps * load.ohms, 1000.0 * amps };
    }
    default: {
        const double v = solveVoltage(load, source, seriesOhms);
        return { v, 1000.0 * loadAmps(load, v) };
    }
    }
}

} // namespace

double loadAmps(const Load &load, double volts)
{
    switch (load.kind) {
    case LoadKind::Open:
        return 0.0;
    case LoadKind::Resistor:
        return volts / load.ohms;
    case LoadKind::Diode:
        return diodeAmps(volts, load.emission);
    case LoadKind::ResistorDiode:
        return volts / load.ohms + diodeAmps(volts, load.emission);
    default:
        return 0.0;
    }
}

std::vector<Sample> sweep(const Load &load, double amplitude, double frequency, double samplingRate,
    std::uint32_t points, double seriesOhms)
{
    std::vector<Sample> out(points);
    const double omega = 2.0 * kPi * frequency;
    if (load.kind == LoadKind::Capacitor) {
        // Steady state of the RC divider, from phasors.
        using C = std::complex<double>;
        const C zc = 1.0 / C(0.0, omega * load.farads);
        const C amps = amplitude / (seriesOhms + zc);
        const C volts = amps * zc;
        for (std::uint32_t k = 0; k < points; ++k) {
            const C rot = std::polar(1.0, omega * k / samplingRate);
            out[k] = { std::imag(volts * rot), 1000.0 * std::imag(amps * rot) };
        }
        return out;
    }
    for (std::uint32_t k = 0; k < points; ++k)
        out[k] = staticSample(load, amplitude * std::sin(omega * k / samplingRate), seriesOhms);
    return out;
}

} // namespace zemsim
