// The Python package's board runs: a signature probed on a device, learned
// or tested, by hand or by a machine, and recorded in a history; the types
// zem.Signature's bindings and these runs share.
#pragma once

#include "extension.h"

#include "cause.h"
#include "reading.h"
#include "session.h"
#include "signature.h"

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace motion {
struct GantryLine;
}

namespace zem::python {

struct Board
{
    sig::Signature signature;
    std::optional<std::string> path;
};

// A machine that brings the probe: its URL, checked when opened and read
// again for each run, which connects to the machine on its first move.
// The machine held open across runs: its line, once a run opened it, stays
// open with what it knows (motion/gantryline.h), so it is homed once.
struct MachineProber
{
    std::string url;
    std::shared_ptr<motion::GantryLine> line;
};

struct Comparison
{
    std::string point;
    std::optional<double> score; // none while the point is not learned
    double tolerance = 0;
    sig::Verdict verdict = sig::Verdict::NotTested;
    std::optional<sig::Cause> cause;
    sig::Reading reading;
    int boards = 0;
    std::optional<std::string> net; // none when the point names no net
    std::vector<std::string> netPoints; // net_disagrees: the points of its net it reads unlike
    std::optional<std::string> note; // none when the run has nothing to add
    std::optional<std::string> predictedBy; // the models' version; none when learned
    // Different, on a board with parts: (part, fault, match percent), best first.
    std::vector<std::tuple<std::string, std::string, double>> likelyFaults;
};

// A point's result as Python shows it.
Comparison comparisonOf(const sig::Signature &board, int point, const sig::PointResult &result);

// The position of the point of that name; KeyError when there is none.
std::size_t pointIndex(const sig::Signature &s, const std::string &name);

// Signature.predict(): the references from the board's parts; the summary.
py::dict predictSignature(Board &b, py::object models, std::optional<double> tolerance,
    std::optional<std::string> common, std::optional<std::vector<std::string>> points,
    bool chooseSettings);

// Signature.test() and learn() over the device.
py::object testBoard(const Board &b, DeviceArgument dev, int repeat,
    std::optional<std::vector<std::string>> points, const MachineProber *prober,
    const std::string &orderName, const std::string &serial, py::object historyUrl,
    const std::string &operatorName);
std::vector<std::string> learnBoard(Board &b, DeviceArgument dev, bool add, bool autoSettings,
    std::optional<std::vector<std::string>> points, const MachineProber *prober,
    const std::string &orderName);

} // namespace zem::python
