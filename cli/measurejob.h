// The measurement runs in a module of its own (zemctl_measure.so) that
// zemctl loads only for measure: the sequence, its exporters and the curve's
// figures need Qt Core, and every other subcommand starts faster without it.
// The module measures and formats; zemctl decides what goes where.
#pragma once

#include "connection.h"

#include <csignal>
#include <cstdint>
#include <string>

namespace zemctl {

struct MeasureJob
{
    zem::Connection *device = nullptr; // open; the module's calls go through it
    bool progress = false; // progress lines on stderr
    const volatile std::sig_atomic_t *interrupted = nullptr;

    // Filled in by the module.
    int exitCode = 0;
    std::int32_t result = 0; // the result that ended it, when a call failed
    std::string message; // why it ended, when not complete
    std::string json; // the curve in the layout zem_example writes to results.json
    std::string csv; // the curve as CSV, the settings as comment lines
    std::string table; // one aligned line per point, under a header line
    // The Curve dock's figures: one line as it shows them, and each alone.
    std::string figures;
    std::size_t points = 0;
    double slopeOhms = 0; // infinite for no current, NaN when undefined
    double rSquared = 0; // NaN when undefined
    double peakMilliamps = 0;
    double runMs = 0;
    std::string slopeText; // with R²: "1.00 kΩ (R² 0.9998)"
    std::string peakText, runText, reading;
};

} // namespace zemctl

// The module's one entry point.
extern "C" void zemctl_measure(zemctl::MeasureJob *job);
using ZemctlMeasureFunction = void (*)(zemctl::MeasureJob *);
