// What a curve looks like, from a fit to the simple loads: a one-line reading
// such as "resistor, 1.00 kΩ".
#pragma once

#include "ivcurve.h"
#include "zem.h"

#include <QString>

namespace sig {

struct Reading
{
    enum class Kind { Open, Short, Resistor, Capacitor, Diode, ResistorDiode, Complex };

    Kind kind = Kind::Complex;
    double ohms = 0; // Resistor, ResistorDiode
    double farads = 0; // Capacitor
    double forwardVolts = 0; // Diode, ResistorDiode; negative when it conducts below 0 V

    QString text() const;
    // The kind's name as in the signature file and zemctl's output, e.g. "resistor".
    const char *kindName() const;
};

// Reads a curve measured with the given settings (the signal frequency and
// sampling rate give a capacitor's value, the ranges the thresholds).
Reading read(const IvCurve &curve, const measurement_settings &settings);

// Engineering notation with an SI prefix and three significant digits,
// e.g. "4.70 kΩ", "1.00 µF".
QString withPrefix(double value, const QString &unit);

} // namespace sig
