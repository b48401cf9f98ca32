// zem.Signature: a board's signature file, learning its points from curves
// and judging curves against them with the window's score, verdict and cause.
#include "boardrun.h"
#include "extension.h"
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

namespace {

[[noreturn]] void raiseOsError(const QString &message)
{
    PyErr_SetString(PyExc_OSError, message.toStdString().c_str());
    throw py::error_already_set();
}

const sig::Measurement &measurementOf(const sig::Point &p, std::size_t measurement)
{
    if (measurement >= p.measurements.size())
        throw py::index_error("point " + p.name.toStdString() + " has "
            + std::to_string(p.measurements.size()) + " measurement(s)");
    return p.measurements[measurement];
}

// A curve judged against a reference must have been taken with the
// reference's settings, or the score compares unlike things.
void checkCurve(const Curve &curve, const measurement_settings &wanted, const sig::Point &p)
{
    if (!curve.complete)
        throw py::value_error("the curve of " + p.name.toStdString() + " is partial");
    for (const Field &f : records::measurementSettings.fields) {
        if (std::strncmp(f.name, "Reserved", 8) == 0)
            continue;
        const auto *a = reinterpret_cast<const std::uint8_t *>(&curve.settings) + f.offset;
        const auto *b = reinterpret_cast<const std::uint8_t *>(&wanted) + f.offset;
        if (std::memcmp(a, b, f.size()) != 0)
            throw py::value_error("the curve of " + p.name.toStdString() + " was measured with "
                + f.name + " " + codec::decodeField(f, &curve.settings).dump()
                + ", the point takes " + codec::decodeField(f, &wanted).dump()
                + ": measure with settings_for(\"" + p.name.toStdString() + "\")");
    }
}

py::object settingsRecord(const measurement_settings &s)
{
    return py::cast(RecordValue(records::measurementSettings, &s));
}

Board load(py::object path)
{
    const std::string name = pathArgument(path);
    const QString file = QFile::decodeName(QByteArray::fromStdString(name));
    QString error;
    std::optional<sig::Signature> s = sig::load(file, &error);
    if (!s) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            raiseOsError(error);
        throw py::value_error(error.toStdString());
    }
    // What was let go of, e.g. a point read unplaced, is said, not raised.
    for (const QString &w : s->warnings)
        py::module_::import("warnings").attr("warn")(name + ": " + w.toStdString());
    return Board { std::move(*s), name };
}

void learn(Board &b, const std::string &point, const Curve &curve, std::size_t measurement)
{
    sig::Signature &s = b.signature;
    int index = s.find(QString::fromStdString(point));
    const bool added = index < 0;
    if (added) {
        if (QString::fromStdString(point).trimmed().isEmpty())
            throw py::value_error("a point needs a name");
        if (const QString why = sig::checkPointName(QString::fromStdString(point)); !why.isEmpty())
            throw py::value_error(why.toStdString());
        s.points.emplace_back();
        s.points.back().name = QString::fromStdString(point);
        index = int(s.points.size()) - 1;
    }
    sig::Point &p = s.points[std::size_t(index)];
    measurementOf(p, measurement);
    try {
        checkCurve(curve, s.settingsOf(p, measurement), p);
    } catch (...) {
        if (added)
            s.points.erase(s.points.begin() + index);
        throw;
    }
    p.measurements[measurement].reference = sig::ivCurveOf(curve);
}

Comparison compare(Board &b, py::object curves, const std::string &point)
{
    std::vector<const Curve *> given;
    std::vector<py::object> kept; // an iterator's items live no longer than their step
    const auto take = [&](py::handle c) {
        if (!py::isinstance<Curve>(c))
            throw py::type_error("compare takes a Curve or a list of them, not "
                + std::string(Py_TYPE(c.ptr())->tp_name));
        kept.push_back(py::reinterpret_borrow<py::object>(c));
        given.push_back(&c.cast<const Curve &>());
    };
    if (py::isinstance<Curve>(curves) || !py::isinstance<py::iterable>(curves))
        take(curves);
    else
        for (py::handle c : py::iter(curves))
            take(c);
    sig::Signature &s = b.signature;
    const std::size_t index = pointIndex(s, point);
    const sig::Point &p = s.points[index];
    if (given.size() != p.measurements.size())
        throw py::value_error("point " + point + " has " + std::to_string(p.measurements.size())
            + " measurement(s): give one curve for each, not " + std::to_string(given.size()));

    sig::Session session(s, sig::Session::Mode::Test);
    session.select(int(index));
    double worst = -1;
    Comparison c;
    for (std::size_t k = 0; k < given.size(); ++k) {
        checkCurve(*given[k], session.settings(), p);
        const measurement_settings &settings = session.settings();
        const sig::IvCurve test = sig::ivCurveOf(*given[k]);
        const sig::Session::Step step = session.record(test);
        const auto &reference = p.measurements[k].reference;
        if (reference && step.score > worst) {
            worst = step.score;
            c.cause = sig::cause(*reference, test, settings);
        }
    }
    // The cause of the measurement that scored worst, not the first's.
    Comparison out = comparisonOf(s, int(index), session.results()[index]);
    out.cause = c.cause;
    return out;
}

} // namespace

void addSignature(py::module_ &m)
{
    py::class_<sig::Cause>(m, "Cause", "Why a curve differs from its reference.")
        .def_property_readonly(
            "kind", [](const sig::Cause &c) { return c.kindName(); },
            "e.g. \"none\", \"open\", \"resistance_higher\", \"leakage\", \"knee_shifted\".")
        .def_readonly("value", &sig::Cause::value,
            "Resistance or capacitance change in percent, leakage in siemens, a shift in volts; "
            "else 0.")
        .def_property_readonly(
            "text", [](const sig::Cause &c) { return c.text().toStdString(); },
            "For people, e.g. \"resistance 20 % higher\".")
        .def("__str__", [](const sig::Cause &c) { return c.text().toStdString(); })
        .def("__repr__",
            [](const sig::Cause &c) { return "<zem.Cause " + c.text().toStdString() + ">"; });

    py::class_<MachineProber>(m, "Prober", R"(A machine that brings the probe: a GRBL gantry.

zem.Prober.open(url) checks the URL (grbl:/dev/ttyUSB0?baud=115200 or
grbl-tcp://host:port, with safe=, surface=, feed=, contact_feed=, step=,
travel=, clearance=, ...); give it to Signature.learn(dev, prober=...) or
test(). The machine is reached when a run begins, and held open after it:
the next run goes on without homing while the machine keeps its place (no
reset, no alarm but a soft limit's), and no other program can take the
machine until the Prober is deleted.)")
        .def_static(
            "open",
            [](const std::string &url) {
                motion::GantryConfig config;
                QString error;
                if (!motion::parseProberUrl(QString::fromStdString(url), &config, &error))
                    throw py::value_error(error.toStdString());
                return MachineProber { url, std::make_shared<motion::GantryLine>() };
            },
            py::arg("url"), "A machine at url; ValueError saying what is wrong with it.")
        .def_readonly("url", &MachineProber::url)
        .def("__repr__", [](const MachineProber &p) { return "<zem.Prober " + p.url + ">"; });

    py::class_<Comparison>(m, "Comparison", "A curve judged against a point's reference.")
        .def_readonly("point", &Comparison::point)
        .def_readonly("score", &Comparison::score,
            "0 for identical curves up to 100 (percent); None when the point is not learned.")
        .def_readonly("tolerance", &Comparison::tolerance, "The point's tolerance, percent.")
        .def_property_readonly(
            "verdict", [](const Comparison &c) { return sig::verdictName(c.verdict); },
            "\"pass\", \"different\" or \"not_learned\"; from test() also \"unstable\" "
            "(its repeats disagree) and \"net_disagrees\" (it reads unlike the other points "
            "of its net).")
        .def_property_readonly(
            "passed", [](const Comparison &c) { return c.verdict == sig::Verdict::Pass; })
        .def_readonly("cause", &Comparison::cause,
            "Why it differs (Cause); None when the point is not learned, and from test() "
            "when it passed.")
        .def_readonly("reading", &Comparison::reading, "What the curve looks like (Reading).")
        .def_readonly(
            "boards", &Comparison::boards, "How many good boards the point's references come from.")
        .def_readonly("net", &Comparison::net, "The point's net; None when it names none.")
        .def_readonly("net_points", &Comparison::netPoints,
            "For \"net_disagrees\": the points of its net it reads unlike; else empty.")
        .def_readonly("note", &Comparison::note,
            "What the run adds to the verdict, e.g. the BOM's expected value; None when nothing.")
        .def_readonly("predicted_by", &Comparison::predictedBy,
            "The models' version the point's references were predicted with; None when they "
            "were learned from a board.")
        .def_property_readonly(
            "predicted", [](const Comparison &c) { return c.predictedBy.has_value(); },
            "Whether the point's references were predicted from the board's parts.")
        .def_readonly("likely_faults", &Comparison::likelyFaults,
            "For \"different\" on a board with parts: the single faults that best explain the "
            "curves, best first, as (part, fault, match percent), e.g. (\"R2\", \"open\", 96.0); "
            "else empty.")
        .def("__repr__", [](const Comparison &c) {
            std::string text = "<zem.Comparison " + c.point + ": " + sig::verdictName(c.verdict);
            if (c.score) {
                char figures[80];
                std::snprintf(figures, sizeof figures, ", score %.2f %% (tolerance %.4g %%)",
                    *c.score, c.tolerance);
                text += figures;
            }
            if (c.cause && c.verdict == sig::Verdict::Different)
                text += ", " + c.cause->text().toStdString();
            return text + ">";
        });

    py::class_<Board>(m, "Signature", R"(A board's signature: its points and their reference curves.

Load one with Signature.load(path) or start one with Signature(board, points).
Measure each point with dev.measure(**sig.settings_for(point)), then
sig.learn(point, curve) on a good board or sig.compare(curve, point=...) on a
suspect one, and sig.save(). sig.learn(dev) and sig.test(dev) probe every
point in turn themselves.)")
        .def(py::init([](const std::string &board, const std::vector<std::string> &points,
                          double tolerance, py::object settings) {
            Board b;
            b.signature.board = QString::fromStdString(board);
            b.signature.settings = sig::defaultSettings();
            b.signature.tolerance = tolerance;
            if (!(tolerance >= 0 && tolerance <= 100))
                throw py::value_error("tolerance must be 0 to 100 (percent)");
            if (!settings.is_none())
                readFields(&records::measurementSettings, py::dict(settings), "settings",
                    &b.signature.settings);
            if (const QString problem = sig::checkSettings(b.signature.settings);
                !problem.isEmpty())
                throw py::value_error("settings: " + problem.toStdString());
            for (const std::string &name : points) {
                const QString n = QString::fromStdString(name).trimmed();
                if (n.isEmpty() || b.signature.find(n) >= 0)
                    throw py::value_error(
                        "point names must be unique and not empty: \"" + name + "\"");
                if (const QString why = sig::checkPointName(n); !why.isEmpty())
                    throw py::value_error(why.toStdString());
                b.signature.points.emplace_back();
                b.signature.points.back().name = n;
            }
            return b;
        }),
            py::arg("board"), py::arg("points") = std::vector<std::string>(),
            py::arg("tolerance") = sig::kDefaultTolerance, py::arg("settings") = py::none(),
            "A new signature; settings (a mapping of measurement settings) change the "
            "instrument's defaults.")
        .def_static("load", &load, py::arg("path"),
            "Reads a signature file; OSError when it cannot be read, ValueError naming the "
            "point and field at fault.")
        .def(
            "save",
            [](Board &b, py::object path) {
                if (!path.is_none())
                    b.path = pathArgument(path);
                if (!b.path)
                    throw py::value_error("save: no path; give one");
                QString error;
                if (!sig::save(
                        b.signature, QFile::decodeName(QByteArray::fromStdString(*b.path)), &error))
                    raiseOsError(error);
            },
            py::arg("path") = py::none(),
            "Writes the file atomically, to path or where it was loaded or last saved.")
        .def_property_readonly("path",
            [](const Board &b) -> py::object {
                return b.path ? py::object(pathValue(*b.path)) : py::none();
            })
        .def_property_readonly(
            "board", [](const Board &b) { return b.signature.board.toStdString(); })
        .def_property_readonly(
            "tolerance", [](const Board &b) { return b.signature.tolerance; },
            "The board's tolerance, percent.")
        .def_property_readonly(
            "points",
            [](const Board &b) {
                std::vector<std::string> names;
                for (const sig::Point &p : b.signature.points)
                    names.push_back(p.name.toStdString());
                return names;
            },
            "The point names, in probing order.")
        .def_property_readonly(
            "settings", [](const Board &b) { return settingsRecord(b.signature.settings); },
            "The board's measurement settings (a Record).")
        .def(
            "settings_for",
            [](const Board &b, const std::string &point, std::size_t measurement) {
                const sig::Point &p = b.signature.points[pointIndex(b.signature, point)];
                measurementOf(p, measurement);
                return settingsRecord(b.signature.settingsOf(p, measurement));
            },
            py::arg("point"), py::arg("measurement") = 0,
            "The settings to measure the point with: dev.measure(**sig.settings_for(\"R1\")).")
        .def(
            "learned",
            [](const Board &b, const std::string &point) {
                return b.signature.points[pointIndex(b.signature, point)].learned();
            },
            py::arg("point"), "Whether every measurement of the point has a reference.")
        .def("learn", &learn, py::arg("point"), py::arg("curve"), py::arg("measurement") = 0,
            "Keeps the curve as the point's reference (a new name adds a point); the curve "
            "must be complete and measured with settings_for(point).")
        .def("learn", &learnBoard, py::arg("dev"), py::kw_only(), py::arg("add") = false,
            py::arg("auto_settings") = false, py::arg("points") = py::none(),
            py::arg("prober") = py::none(), py::arg("order") = "file",
            R"(Probes the points (all, or those named, in that order) on a good board
with dev, each measured at once, and keeps the curves as their references:
add=True adds this board to those learned before; auto_settings=True tries
every current range on each one-measurement point and keeps the one that
shows it best. With prober (a zem.Prober) the machine brings the probe to
each point's mm position, the board placed by its taught fiducials;
order="path" then probes in the machine's order of least move time. Returns the
names learned. A failure raises DeviceError (or MeasurementError) and leaves
the signature as it was.)")
        .def("test", &testBoard, py::arg("dev"), py::kw_only(), py::arg("repeat") = 2,
            py::arg("points") = py::none(), py::arg("prober") = py::none(),
            py::arg("order") = "file", py::arg("serial") = "", py::arg("history") = py::none(),
            py::arg("operator") = "",
            R"(Probes the points (all, or those named, in that order) on a suspect
board with dev, each measured at once and `repeat` times, and judges them
against their references: a Comparison per point, in probing order, in a
list whose .summary is the board's verdict as zemctl's summary line gives
it (board, serial, verdict, points, passed, different, unstable, no_contact,
not_learned, net_disagrees). Repeats that disagree make a point "unstable";
points of one net that read unlike the rest of it "net_disagrees". prober and
order as for learn(); with a machine one taught fiducial is probed again at
the end and .summary["drift_mm"] says how far it moved (a warning past
0.1 mm). history (a SQLite path or PostgreSQL URL, as zemctl's --history
takes it) records the run there as zemctl test does, with serial and
operator; .summary["run"] is then its UUID. The history is opened before
probing (ValueError when it cannot be); a run it cannot keep raises
RuntimeError, a server out of reach spools it with a warning. A failure
raises DeviceError (or MeasurementError).)")
        .def("predict", &predictSignature, py::kw_only(), py::arg("models") = py::none(),
            py::arg("tolerance") = py::none(), py::arg("common") = py::none(),
            py::arg("points") = py::none(), py::arg("choose_settings") = false,
            R"(Predicts the references of the points (all, or those named) from the
board's parts (its netlist and BOM), as zemctl learn --predict does: each
simulated with the models (built in, or a models file read over them), its
references marked predicted; points learned from a board keep theirs.
tolerance sets the board's tolerance of predicted points, common the net the
probe's return is on. choose_settings first gives each point the
measurements that show the most of its net's faults (as --choose-settings;
the summary's settings_chosen says what it found). Returns the summary: predicted, kept, not_predicted,
points, models, simulations, seconds, unknown_parts, part_problems and
results, one dict a point (point, predicted, and a note or the error).
ValueError for a board without parts or a bad models file (OSError when it
cannot be read), KeyError for a point not on the board; the signature is
then as it was. save() keeps the prediction.)")
        .def("compare", &compare, py::arg("curve"), py::arg("point"),
            "Judges a curve (or one curve per measurement) against the point's reference: "
            "a Comparison with score, verdict, cause and reading.")
        .def("__repr__", [](const Board &b) {
            return "<zem.Signature " + b.signature.board.toStdString() + ", "
                + std::to_string(b.signature.points.size()) + " points>";
        });
}

} // namespace zem::python
