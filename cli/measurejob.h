// The measurement runs in a module of its own (zemctl_measure.so) that
// zemctl loads only for the measure subcommand: the sequence and its
// exporters need Qt Core, and every other subcommand starts faster without it.
#pragma once

#include "connection.h"

#include <csignal>
#include <cstdint>
#include <string>

namespace zemctl {

struct MeasureJob
{
    zem::Connection *device = nullptr; // open; the module's calls go through it
    std::string fileName; // "" for standard output
    bool csv = false; // else the results.json layout
    bool progress = false; // progress lines on stderr
    const volatile std::sig_atomic_t *interrupted = nullptr;

    // Filled in by the module.
    int exitCode = 0;
    std::string message; // why it ended, when not complete
};

} // namespace zemctl

// The module's one entry point.
extern "C" void zemctl_measure(zemctl::MeasureJob *job);
using ZemctlMeasureFunction = void (*)(zemctl::MeasureJob *);
