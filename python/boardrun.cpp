// Boards probed from Python: the points in order, by hand or by a machine,
// learned or tested, the verdict and the run kept in a history.
#include "boardrun.h"
#include "history.h"

#include "boardprober.h"
#include "boardverdict.h"
#include "call.h"
#include "cause.h"
#include "connection.h"
#include "historyrun.h"
#include "probeorder.h"
#include "proberun.h"
#include "sequence.h"
#include "session.h"
#include "signature.h"

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

// Probes the points with the device, each measured at once, to the run's end
// without the GIL, as Device.measure() measures. Ctrl+C cancels the run and
// raises KeyboardInterrupt; the first failure cancels it and raises
// DeviceError for a call's result, else MeasurementError.
std::unique_ptr<sig::ProbeRun> probe(const Board &b, DeviceArgument dev, sig::Session::Mode mode,
    const sig::Session::Options &session, const std::vector<int> &order, const char *what,
    std::unique_ptr<sig::Prober> machine)
{
    using Event = sig::ProbeRun::Event;
    sig::ProbeRun::Options options;
    // A hand is told nothing and each point is measured at once; a machine
    // says itself when the probe is down, and a missed pad is tried lower.
    options.autoMeasure = true;
    options.pollButton = false;
    options.measureOnContact = false;
    options.session = session;
    std::optional<Event> failure;
    bool complete = false;
    sig::ProbeRun *self = nullptr;
    auto run = std::make_unique<sig::ProbeRun>(
        *dev.connection, b.signature, mode, options, order, [&](const Event &e) {
            if (e.kind == Event::Ended)
                complete = e.complete;
            // The run would try the point again; a script wants to hear of it.
            if (e.kind == Event::Failed && !failure) {
                failure = e;
                self->cancel();
            }
        },
        std::move(machine));
    self = run.get();
    SignalCheck interrupt;
    {
        py::gil_scoped_release unlocked;
        runToEnd(*run, [&] { return interrupt(); });
    }
    interrupt.throwIfRaised();
    if (failure) {
        std::string message = std::string(what) + ": ";
        const std::string why = failure->message.toStdString();
        // A machine's failures name the point already.
        if (failure->point >= 0) {
            const std::string point
                = b.signature.points[std::size_t(failure->point)].name.toStdString() + ": ";
            if (why.compare(0, point.size(), point) != 0)
                message += point;
        }
        message += why;
        if (failure->failedResult != ZEM_RESULT_OK)
            raiseDeviceError(failure->failedResult, message);
        raise(pythonTypes().measurementError, pythonTypes().measurementError(message));
    }
    if (!complete)
        raise(pythonTypes().measurementError,
            pythonTypes().measurementError(std::string(what) + ": the run ended early"));
    return run;
}

// The machine for the run, if one was given: the board placed by its taught
// fiducials, every point probed found by its mm position; with order "path"
// the points are reordered along the machine's shortest path. ValueError for
// a board it cannot place or points without a position.
std::unique_ptr<motion::GantryProber> machineFor(const Board &b, const MachineProber *prober,
    const std::string &orderName, std::vector<int> *order)
{
    if (orderName != "file" && orderName != "path")
        throw py::value_error("order must be \"file\" or \"path\", not \"" + orderName + "\"");
    if (!prober) {
        if (orderName == "path")
            throw py::value_error("order=\"path\" needs a machine: give prober=zem.Prober.open(url)");
        return {};
    }
    QString error;
    std::unique_ptr<motion::GantryProber> machine
        = motion::boardProber(QString::fromStdString(prober->url), b.signature, *order, &error);
    if (!machine)
        throw py::value_error(error.toStdString());
    if (orderName == "path") {
        std::vector<QPointF> at;
        for (const motion::PlanePoint &p : motion::machineTargets(machine->config(), *order))
            at.emplace_back(p.x, p.y);
        std::vector<int> path;
        for (int k : sig::shortestPath(at))
            path.push_back((*order)[std::size_t(k)]);
        *order = std::move(path);
    }
    return machine;
}

// The board's verdict as zemctl's summary line gives it, same keys.
py::dict summaryOf(const sig::Signature &s, const std::string &serial, const sig::BoardVerdict &v)
{
    py::dict d;
    d["board"] = s.board.toStdString();
    d["serial"] = serial;
    d["verdict"] = sig::boardVerdictName(v.kind);
    for (const auto &[key, count] : sig::boardVerdictCounts(v))
        d[key] = count;
    return d;
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
        found = motion::recheckFiducial(gantry, board, device, [&] { return interrupt(); }, &error);
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
    const std::string &orderName, const std::string &serial,
    py::object historyUrl, const std::string &operatorName)
{
    if (repeat < 1)
        throw py::value_error("repeat must be 1 or more, not " + std::to_string(repeat));
    std::vector<int> order = probingOrder(b.signature, points);
    auto machine = machineFor(b, prober, orderName, &order);
    // Opened before the board is probed: a history at fault costs no run.
    std::optional<HistoryWriter> history;
    if (!historyUrl.is_none())
        history = openHistoryForWriting(
            py::str(py::module_::import("os").attr("fsdecode")(historyUrl)));
    motion::GantryProber *gantry = machine.get();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    sig::Session::Options options;
    options.repeat = repeat;
    const auto run
        = probe(b, dev, sig::Session::Mode::Test, options, order, "test", std::move(machine));
    std::optional<double> drift;
    if (gantry)
        drift = checkDrift(*gantry, b.signature, *dev.connection);
    const std::vector<sig::PointResult> &results = run->session().results();
    py::list out;
    for (int index : order) {
        const sig::Point &p = b.signature.points[std::size_t(index)];
        const sig::PointResult &r = results[std::size_t(index)];
        Comparison c;
        c.point = p.name.toStdString();
        if (!std::isnan(r.score))
            c.score = r.score;
        c.tolerance = b.signature.toleranceOf(p);
        c.verdict = r.verdict;
        c.cause = r.cause;
        c.reading = r.reading;
        c.boards = r.boards;
        if (!p.net.isEmpty())
            c.net = p.net.toStdString();
        if (r.verdict == sig::Verdict::NetDisagrees)
            for (int k : r.netPoints)
                c.netPoints.push_back(b.signature.points[std::size_t(k)].name.toStdString());
        if (!r.note.isEmpty())
            c.note = r.note.toStdString();
        out.append(py::cast(std::move(c)));
    }
    py::dict summary = summaryOf(b.signature, serial, sig::boardVerdict(results, order));
    if (!operatorName.empty())
        summary["operator"] = operatorName;
    if (drift)
        summary["drift_mm"] = std::round(*drift * 1000) / 1000;
    if (history) {
        // The signature is named as zemctl names it: by its file's name.
        const QString signatureName = b.path
            ? QFileInfo(QFile::decodeName(QByteArray::fromStdString(*b.path))).fileName()
            : b.signature.board;
        history::Run record = history::historyRun(
            b.signature, results, order, started, QString::fromStdString(serial), signatureName);
        if (!operatorName.empty())
            record.operatorName = QString::fromStdString(operatorName);
        summary["run"] = recordRun(*history, record);
    }
    // A list still, as before; the board's verdict rides along.
    return pythonTypes().boardResults(out, summary);
}

std::vector<std::string> learnBoard(Board &b, DeviceArgument dev, bool add, bool autoSettings,
    std::optional<std::vector<std::string>> points, const MachineProber *prober,
    const std::string &orderName)
{
    std::vector<int> order = probingOrder(b.signature, points);
    auto machine = machineFor(b, prober, orderName, &order);
    sig::Session::Options options;
    options.add = add;
    options.autoSettings = autoSettings;
    const auto run
        = probe(b, dev, sig::Session::Mode::Learn, options, order, "learn", std::move(machine));
    // Nothing is kept from a run that failed: probe() raised.
    b.signature = run->signature();
    std::vector<std::string> learned;
    for (int index : order)
        learned.push_back(b.signature.points[std::size_t(index)].name.toStdString());
    return learned;
}

} // namespace zem::python
