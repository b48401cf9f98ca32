// learn, compare and test run in a module of their own (zemctl_signature.so),
// loaded only for them: signatures and the measurement sequence need Qt Core.
#pragma once

#include "connection.h"
#include "exitcodes.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace zemctl {

struct SignatureJob
{
    enum class Mode { Learn, Compare, Test, Symmetry, Nets };

    Mode mode = Mode::Test;
    zem::Connection *device = nullptr; // open; the module's calls go through it
    std::string file; // the signature file
    std::vector<std::string> points; // learn: the points (added when new); compare: the one
    std::string report; // test: the HTML report to write, "" for none
    std::string junit; // test: the JUnit XML file to write, "" for none
    std::string url; // the device's, as given: the JUnit file names it
    bool button = false; // wait for the probe's button before each point
    bool onContact = false; // measure once the curve under the probe holds still
    bool add = false; // learn: add this board to the references
    bool autoSettings = false; // learn: choose each point's range
    std::string variant; // learn: the variant whose references are learned, "" for the points' own
    // learn: predict the references from the board's parts instead of
    // measuring (no device), with these models over the built-in ones
    bool predict = false;
    std::string models;
    double predictionTolerance = -1; // percent, the board's for predicted points; <0 keeps it
    std::string common; // the net the probe returns through, "" keeps the board's
    bool chooseSettings = false; // and first each point's settings, from its net's faults
    int repeat = 2; // compare, test, nets: captures of each point
    // test: a resistor that reads beyond this factor from its value in the
    // bill of materials gets a note
    double bomFactor = 2.0;
    std::string group; // symmetry: the points of the file in this group
    // test: the history the run is recorded in ("" for the default), and
    // what it says about the board
    bool history = true;
    std::string db;
    std::string serial;
    bool requireSerial = false; // test: refuse a run without a serial
    std::string operatorName;
    bool historyOrder = false; // test: the points most likely to fail first
    bool pathOrder = false; // learn, test with a prober: the shortest path over the points
    std::string prober; // learn, test: a machine brings the probe (grbl:..., grbl-tcp://...)
    std::string from; // learn, test: start at this point of the order (a run resumed)
    bool prompt = false; // ask on the terminal before each point
    bool text = false; // results as aligned text lines instead of JSON Lines
    const volatile std::sig_atomic_t *interrupted = nullptr;

    // Filled in by the module.
    int exitCode = 0;
    std::string message; // why it failed
};

} // namespace zemctl

extern "C" void zemctl_signature(zemctl::SignatureJob *job);
using ZemctlSignatureFunction = void (*)(zemctl::SignatureJob *);
