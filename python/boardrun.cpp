// Boards probed from Python: the points in order, by hand or by a machine,
// learned or tested, the verdict and the run kept in a history.
#include "boardrun.h"
#include "history.h"

#include "boardprober.h"
#include "boardtest.h"
#include "call.h"
#include "connection.h"
#include "historyrun.h"
#include "runsummary.h"
#include "sequence.h"

#include <QFile>
#include <QFileInfo>

#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

namespace zem::python {

std::size_t pointIndex(const sig::Signature &s, const std::string &name)
{
    const int index = s.find(QString::fromStdString(name));
    if (index < 0)
        throw py::key_error("no point named " + name + " in " + s.board.toStdString());
    return std::size_t(index);
}

Comparison comparisonOf(const sig::Signature &board, int point, const sig::PointResult &r)
{
    const sig::Point &p = board.points[std::size_t(point)];
    Comparison c;
    c.point = p.name.toStdString();
    if (!std::isnan(r.score))
        c.score = r.score;
    c.tolerance = board.toleranceOf(p);
    c.verdict = r.verdict;
    c.cause = r.cause;
    c.reading = r.reading;
    c.boards = r.boards;
    if (!p.net.isEmpty())
        c.net = p.net.toStdString();
    if (r.verdict == sig::Verdict::NetDisagrees)
        for (int k : r.netPoints)
            c.netPoints.push_back(board.points[std::size_t(k)].name.toStdString());
    if (!r.note.isEmpty())
        c.note = r.note.toStdString();
    if (!r.predictedBy.isEmpty())
        c.predictedBy = r.predictedBy.toStdString();
    for (const predict::LikelyFault &f : r.likelyFaults)
        c.likelyFaults.emplace_back(f.part.toStdString(), f.fault.toStdString(), f.match);
    return c;
}

namespace {

// The points to probe, as positions in the signature: all of them in turn
// when none are named.
std::vector<int> probingOrder(
    const sig::Signature &s, const std::optional<std::vector<std::string>> &points)
{
    if (s.points.empty())
        throw py::value_error(s.board.toStdString() + " has no points to probe");
    std::vector<int> order;
    if (!points) {
        // Points marked "skip" are neither learned nor tested.
        order = s.probedPoints();
        if (order.empty())
            throw py::value_error(s.board.toStdString() + ": every point is marked to skip");
        return order;
    }
    if (points->empty())
        throw py::value_error("points: name at least one point, or give None for all");
    for (const std::string &name : *points) {
        const int index = int(pointIndex(s, name));
        if (std::find(order.begin(), order.end(), index) != order.end())
            throw py::value_error("points: " + name + " is named twice");
        order.push_back(index);
    }
    return order;
}

// The plan of a run from Python: each point measured at once (a machine
// says itself when the probe is down), stopping at the first failure.
sig::RunPlan planFor(const Board &b, sig::RunPlan::Kind kind, const std::vector<int> &order,
    const MachineProber *prober, const std::string &orderName)
{
    if (orderName != "file" && orderName != "path")
        throw py::value_error("order must be \"file\" or \"path\", not \"" + orderName + "\"");
    if (!prober && orderName == "path")
        throw py::value_error("order=\"path\" needs a machine: give prober=zem.Prober.open(url)");
    sig::RunPlan plan;
    plan.kind = kind;
    plan.signature = b.signature;
    if (b.path)
        plan.signaturePath = QFile::decodeName(QByteArray::fromStdString(*b.path));
    plan.points = order;
    plan.trigger = sig::RunPlan::Trigger::Now;
    if (prober) {
        plan.prober = QString::fromStdString(prober->url);
        plan.machineLine = prober->line;
    }
    plan.pathOrder = orderName == "path";
    return plan;
}

// A run probed to its end without the GIL, as Device.measure() measures.
// Ctrl+C stops it; so does its first failure, kept here for the caller to
// raise once what was measured is kept.
struct Probed
{
    std::unique_ptr<sig::BoardTest> run;
    std::optional<sig::BoardTest::Event> failure;
    bool interrupted = false;
};

// ValueError for a plan that cannot run.
Probed probe(DeviceArgument dev, const sig::RunPlan &plan)
{
    using Event = sig::BoardTest::Event;
    Probed out;
    QString error;
    out.run = sig::BoardTest::create(
        *dev.connection, plan,
        [&](const Event &e, const sig::RunRecord &) {
            if (e.kind == Event::Failed && !out.failure)
                out.failure = e;
        },
        &error);
    if (!out.run)
        throw py::value_error(error.toStdString());
    SignalCheck interrupt;
    {
        py::gil_scoped_release unlocked;
        runToEnd(*out.run, [&] {
            if (!interrupt())
                return false;
            out.run->stop(QStringLiteral("interrupted"));
            return true;
        });
    }
    out.interrupted = interrupt.raised();
    return out;
}

// The failure that stopped a run as the exception a script catches:
// DeviceError for a call's result, else MeasurementError; its `results` are
// what was measured before it (None for a learn).
[[noreturn]] void raiseFailure(
    const Board &b, const sig::BoardTest::Event &failure, const char *what, py::object results)
{
    std::string message = std::string(what) + ": ";
    const std::string why = failure.message.toStdString();
    // A machine's failures name the point already.
    if (failure.point >= 0) {
        const std::string point
            = b.signature.points[std::size_t(failure.point)].name.toStdString() + ": ";
        if (why.compare(0, point.size(), point) != 0)
            message += point;
    }
    message += why;
    py::object error;
    py::handle type;
    if (failure.failedResult != ZEM_RESULT_OK) {
        std::string name = calls::resultName(failure.failedResult);
        name = name.substr(0, name.find(' '));
        type = pythonTypes().deviceError;
        error = pythonTypes().deviceError(message, failure.failedResult, name);
    } else {
        type = pythonTypes().measurementError;
        error = pythonTypes().measurementError(message);
    }
    error.attr("results") = results;
    raise(type, error);
}

// The board's verdict as zemctl's summary line gives it, same keys.
py::dict summaryOf(const sig::RunRecord &record)
{
    return py::module_::import("json").attr("loads")(sig::runSummaryJson(record));
}

// The tested points' comparisons in probing order, with the summary.
py::object boardResults(const sig::RunRecord &record)
{
    const sig::Signature &board = record.signature;
    py::list out;
    for (int index : record.coverage.tested) {
        Comparison c = comparisonOf(board, index, record.results[std::size_t(index)]);
        out.append(py::cast(std::move(c)));
    }
    // A list still, as before; the board's verdict rides along.
    return pythonTypes().boardResults(out, summaryOf(record));
}

// Probes one taught fiducial again after the run, as zemctl test does: how far
// the machine found it from where it was taught, in mm; none when no
// fiducial is taught or the machine cannot say where it is.
std::optional<double> checkDrift(
    motion::GantryProber &gantry, const sig::Signature &board, zem::Connection &device)
{
    QString error;
    std::optional<motion::FiducialDrift> found;
    SignalCheck interrupt;
    {
        py::gil_scoped_release unlocked;
        found = motion::recheckFiducial(
            gantry, board, device, [&] { return interrupt(); }, &error);
    }
    interrupt.throwIfRaised();
    if (!error.isEmpty())
        raise(pythonTypes().measurementError, pythonTypes().measurementError(error.toStdString()));
    if (!found)
        return std::nullopt;
    if (found->drift.beyond) {
        char text[80];
        std::snprintf(text, sizeof text, " is %.2f mm from where it was taught", found->drift.mm);
        py::module_::import("warnings")
            .attr("warn")("fiducial " + found->fiducial.toStdString() + text
                + ": the board moved during the run; check its fixture and test again");
    }
    return found->drift.mm;
}

} // namespace

py::object testBoard(const Board &b, DeviceArgument dev, int repeat,
    std::optional<std::vector<std::string>> points, const MachineProber *prober,
    const std::string &orderName, const std::string &serial, py::object historyUrl,
    const std::string &operatorName)
{
    if (repeat < 1)
        throw py::value_error("repeat must be 1 or more, not " + std::to_string(repeat));
    sig::RunPlan plan = planFor(
        b, sig::RunPlan::Kind::Test, probingOrder(b.signature, points), prober, orderName);
    plan.session.repeat = repeat;
    plan.serial = QString::fromStdString(serial);
    plan.operatorName = QString::fromStdString(operatorName);
    // Opened before the board is probed: a history at fault costs no run.
    std::optional<HistoryWriter> history;
    if (!historyUrl.is_none()) {
        const std::string url = py::str(py::module_::import("os").attr("fsdecode")(historyUrl));
        history = openHistoryForWriting(url);
        plan.outputs.history = QString::fromStdString(url);
        plan.outputs.record = true;
    }
    Probed probed = probe(dev, plan);
    sig::BoardTest &run = *probed.run;
    if (run.machine() && !probed.failure && !probed.interrupted)
        if (const auto drift = checkDrift(*run.machine(), b.signature, *dev.connection))
            run.setDrift(*drift);
    const sig::RunRecord &record = run.record();
    py::object results = boardResults(record);
    // A stopped run is kept as what it is: partial, with what it measured.
    if (history)
        results.attr("summary")["run"] = recordRun(*history, sig::historyRun(record));
    if (probed.interrupted)
        throw py::error_already_set();
    if (probed.failure)
        raiseFailure(b, *probed.failure, "test", results);
    return results;
}

std::vector<std::string> learnBoard(Board &b, DeviceArgument dev, bool add, bool autoSettings,
    std::optional<std::vector<std::string>> points, const MachineProber *prober,
    const std::string &orderName)
{
    sig::RunPlan plan = planFor(
        b, sig::RunPlan::Kind::Learn, probingOrder(b.signature, points), prober, orderName);
    plan.session.add = add;
    plan.session.autoSettings = autoSettings;
    Probed probed = probe(dev, plan);
    if (probed.interrupted)
        throw py::error_already_set();
    // Nothing is kept from a run that failed, or that found only open pins.
    if (probed.failure)
        raiseFailure(b, *probed.failure, "learn", py::none());
    const sig::RunRecord &record = probed.run->record();
    if (record.learnedNothing)
        raise(pythonTypes().measurementError,
            pythonTypes().measurementError(
                "learn: " + sig::learnedNothingText(record).toStdString()));
    for (int k : record.learnedOpen)
        py::module_::import("warnings")
            .attr("warn")("learn: " + record.signature.points[std::size_t(k)].name.toStdString()
                + " reads open: is the probe touching it?");
    b.signature = record.signature;
    std::vector<std::string> learned;
    for (int index : record.coverage.tested)
        learned.push_back(b.signature.points[std::size_t(index)].name.toStdString());
    return learned;
}

} // namespace zem::python
