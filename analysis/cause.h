// Why a test curve differs from its reference, in words a repairer acts on:
// "resistance 20 % higher", "open circuit", "leakage of 455 µS".
#pragma once

#include "ivcurve.h"
#include "reading.h"
#include "zem.h"

#include <QString>

namespace sig {

struct Cause
{
    enum class Kind {
        None, // the curves differ by no more than the noise
        Open,
        Short,
        ResistanceHigher,
        ResistanceLower,
        Leakage, // a conductance added in parallel
        KneeShifted, // a diode's forward voltage moved
        CapacitanceHigher,
        CapacitanceLower,
        Offset, // the whole curve moved along the voltage axis
        ShapeChanged, // none of the above; `now` says what it looks like
    };

    Kind kind = Kind::None;
    // Resistance and capacitance: the change in percent (negative when lower).
    // Leakage: the added conductance in siemens. Knee and offset: the shift in
    // volts. 0 otherwise.
    double value = 0;
    Reading now; // the test curve's reading

    // The kind's name for machines, e.g. "resistance_higher".
    const char *kindName() const;
    // For people, e.g. "resistance 20 % higher".
    QString text() const;
};

// Compares two curves measured with the same settings. Curves that cannot be
// compared (other lengths, non-finite values) give ShapeChanged.
Cause cause(const IvCurve &reference, const IvCurve &test, const measurement_settings &settings);

} // namespace sig
