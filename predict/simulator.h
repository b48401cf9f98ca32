// The one seam between a prediction and the circuit simulator: a circuit
// and a stimulus in, the probe's curve out. A test double replaces it.
#pragma once

#include "circuit.h"
#include "ivcurve.h"
#include "stimulus.h"

#include <QString>

#include <optional>

namespace predict {

// A curve, or why there is none.
struct Simulation
{
    std::optional<sig::IvCurve> curve;
    QString error;
};

class Simulator
{
public:
    virtual ~Simulator() = default;
    // The probe's voltage (V) and current into the circuit (mA) at each
    // sample of the stimulus, in steady state. Safe to call from any thread.
    virtual Simulation simulate(const Circuit &circuit, const zem::Stimulus &stimulus) = 0;
};

} // namespace predict
