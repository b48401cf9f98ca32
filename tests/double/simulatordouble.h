// A stand-in for the circuit simulator: answers each circuit with the curve
// of a plain resistor of the ohms its elements add up to in parallel (open
// when none), and injects each failure the real one has, by probed node:
// no convergence, a short answer, or no library at all. Records every call.
#pragma once

#include "simulator.h"

#include <QSet>

#include <cmath>
#include <mutex>
#include <vector>

namespace predict {

class SimulatorDouble : public Simulator
{
public:
    enum class Failure { None, NoConvergence, ShortAnswer, NoLibrary };

    Failure failure = Failure::None; // of every call
    QSet<QString> failing; // nodes whose calls fail so, when not every one

    Simulation simulate(const Circuit &circuit, const zem::Stimulus &s) override
    {
        {
            std::lock_guard lock(m_mutex);
            calls.push_back(circuit);
        }
        if (failure != Failure::None && (failing.isEmpty() || failing.contains(circuit.probe))) {
            switch (failure) {
            case Failure::NoConvergence:
                return { std::nullopt, QStringLiteral("the simulation did not converge") };
            case Failure::NoLibrary:
                return { std::nullopt, QStringLiteral("ngspice's library cannot be loaded") };
            case Failure::ShortAnswer:
                return { sig::IvCurve { { 0.0 }, { 0.0 } }, {} };
            case Failure::None:
                break;
            }
        }
        double siemens = 0;
        for (const Element &e : circuit.elements)
            if (e.kind == Element::Kind::Resistor)
                siemens += 1.0 / e.value;
        sig::IvCurve c;
        for (std::uint32_t k = 0; k < s.points; ++k) {
            const double source
                = s.amplitude * std::sin(2 * M_PI * s.frequency * k / s.samplingRate);
            const double amps = source / (s.sourceOhms + (siemens > 0 ? 1.0 / siemens : 1e12));
            c.volts.push_back(source - amps * s.sourceOhms);
            c.milliamps.push_back(1000.0 * amps);
        }
        return { c, {} };
    }

    std::vector<Circuit> calls;

private:
    std::mutex m_mutex;
};

} // namespace predict
