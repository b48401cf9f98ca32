// zem.Curve: a measured curve with NumPy views of its points, the figures and
// reading the window shows, and the window's CSV and JSON files.
#include "extension.h"

#include "atomicfile.h"
#include "curveexport.h"
#include "curvefigures.h"
#include "reading.h"
#include "sequence.h"

#include <pybind11/numpy.h>

#include <chrono>

namespace zem::python {

namespace {

struct Figures
{
    CurveFigures figures;
    std::string text;
};

// A read-only array over the curve's own points, which it keeps alive.
py::array pointsOf(py::object self, const std::vector<float> &points)
{
    requireNumpy("a curve's voltage and current");
    py::array_t<float> view(
        { py::ssize_t(points.size()) }, { py::ssize_t(sizeof(float)) }, points.data(), self);
    view.attr("setflags")(py::arg("write") = false);
    return std::move(view);
}

void write(const Curve &curve, py::object path, bool csv)
{
    const std::string name = pathArgument(path);
    const QByteArray bytes = csv ? curveCsv(curve) : curveJson(curve);
    const std::string error
        = files::writeFile(name, std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!error.empty()) {
        PyErr_SetString(PyExc_OSError, error.c_str());
        throw py::error_already_set();
    }
}

} // namespace

void addCurve(py::module_ &m)
{
    py::class_<Figures>(m, "Figures", "What a curve says in numbers, as the window shows under it.")
        .def_property_readonly(
            "points", [](const Figures &f) { return f.figures.points; }, "Points that hold values.")
        .def_property_readonly(
            "slope_resistance", [](const Figures &f) { return f.figures.resistanceOhms; },
            "Least-squares slope dV/dI in ohms; inf for a flat current, nan with fewer than two "
            "voltages.")
        .def_property_readonly(
            "r_squared", [](const Figures &f) { return f.figures.rSquared; },
            "R² of that fit (nan where undefined).")
        .def_property_readonly(
            "peak_current", [](const Figures &f) { return f.figures.peakCurrentMa; },
            "The current of largest magnitude, with its sign, in mA.")
        .def("__str__", [](const Figures &f) { return f.text; })
        .def("__repr__", [](const Figures &f) { return "<zem.Figures " + f.text + ">"; });

    py::class_<sig::Reading>(m, "Reading", "What a curve looks like, from a fit to simple loads.")
        .def_property_readonly(
            "kind", [](const sig::Reading &r) { return r.kindName(); },
            "\"open\", \"short\", \"resistor\", \"capacitor\", \"diode\", \"resistor_diode\" or "
            "\"complex\".")
        .def_readonly("ohms", &sig::Reading::ohms, "A resistor's value (resistor, resistor_diode).")
        .def_readonly("farads", &sig::Reading::farads, "A capacitor's value.")
        .def_readonly("forward_volts", &sig::Reading::forwardVolts,
            "A diode's forward voltage; negative when it conducts below 0 V.")
        .def_property_readonly(
            "text", [](const sig::Reading &r) { return r.text().toStdString(); },
            "One line, e.g. \"resistor, 1.00 kΩ\".")
        .def("__str__", [](const sig::Reading &r) { return r.text().toStdString(); })
        .def("__repr__",
            [](const sig::Reading &r) { return "<zem.Reading " + r.text().toStdString() + ">"; });

    py::class_<Curve>(m, "Curve", R"(One current-voltage curve, as measure() returns it.

voltage (V) and current (mA) are read-only NumPy float32 arrays in sample
order; a point that was not read holds nan.)")
        .def_property_readonly(
            "voltage", [](py::object self) { return pointsOf(self, self.cast<Curve &>().voltage); },
            "Probe voltages in V (float32, read-only).")
        .def_property_readonly(
            "current", [](py::object self) { return pointsOf(self, self.cast<Curve &>().current); },
            "Probe currents in mA (float32, read-only).")
        .def_property_readonly(
            "settings",
            [](const Curve &c) -> py::object {
                if (!c.hasSettings)
                    return py::none();
                return py::cast(RecordValue(records::measurementSettings, &c.settings));
            },
            "The measurement settings read before the run (a Record).")
        .def_property_readonly(
            "figures",
            [](const Curve &c) {
                return Figures { figuresOf(c), figuresText(c).toStdString() };
            },
            "Slope resistance with R², peak current and points (Figures).")
        .def_property_readonly(
            "reading", [](const Curve &c) { return sig::read(sig::ivCurveOf(c), c.settings); },
            "What the curve looks like (Reading).")
        .def_readonly("complete", &Curve::complete, "Every point the settings ask for was read.")
        .def_property_readonly(
            "duration",
            [](const Curve &c) { return std::chrono::duration<double>(c.duration).count(); },
            "Seconds from the run's first call to its last.")
        .def_property_readonly(
            "started",
            [](const Curve &c) -> py::object {
                if (!c.started.isValid())
                    return py::none();
                const py::module_ datetime = py::module_::import("datetime");
                return datetime.attr("datetime")
                    .attr("fromtimestamp")(double(c.started.toMSecsSinceEpoch()) / 1000.0,
                        datetime.attr("timezone").attr("utc"))
                    .attr("astimezone")();
            },
            "When the measurement was started (a datetime in local time).")
        .def("__len__", &Curve::size)
        .def(
            "to_csv", [](const Curve &c, py::object path) { write(c, path, true); },
            py::arg("path"),
            "Writes the CSV the window exports (settings as # lines, then "
            "index,time_ms,voltage_V,current_mA), replacing the file atomically.")
        .def(
            "to_json", [](const Curve &c, py::object path) { write(c, path, false); },
            py::arg("path"),
            "Writes the JSON zem_example and the window write (results.json's layout), "
            "replacing the file atomically.")
        .def("__repr__", [](const Curve &c) {
            return "<zem.Curve " + std::to_string(c.size()) + " points"
                + (c.complete ? "" : ", partial") + ">";
        });
}

} // namespace zem::python
