// What a curve says in numbers: the figures shown under the plot.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstddef>

struct Curve;

struct CurveFigures
{
    std::size_t points = 0; // points that hold values
    // Least-squares fit of current on voltage: R = dV/dI. Infinite when the
    // current does not change with the voltage; NaN with fewer than two
    // distinct voltages.
    double resistanceOhms = 0;
    double rSquared = 0; // NaN where undefined
    double peakCurrentMa = 0; // the current of largest magnitude, with its sign
};

CurveFigures figuresOf(const Curve &curve);

// "1.00 kΩ", "-12.3 mA", "470 µs": three significant digits and the SI prefix
// that keeps the number between 1 and 1000. "∞ Ω" and "-" for infinite and
// undefined values.
QString siText(double value, const QString &unit);

// The line under the plot: points, slope resistance with R², peak current,
// and how long the run took (left out when unknown).
QString figuresText(const Curve &curve);
