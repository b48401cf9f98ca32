// The zem extension module (zem._zem); zem/__init__.py is its public face.
#include "extension.h"

#include "call.h"

#include <pybind11/numpy.h>

namespace zem::python {

namespace {

PythonTypes loaded;

} // namespace

const PythonTypes &pythonTypes()
{
    return loaded;
}

void requireNumpy(const char *what)
{
    if (!loaded.numpy)
        throw py::import_error(std::string(what)
            + " needs NumPy, which this Python cannot import (on Debian: apt install python3-numpy)");
}

void raise(py::handle type, py::object instance)
{
    PyErr_SetObject(type.ptr(), instance.ptr());
    throw py::error_already_set();
}

void raiseDeviceError(std::int32_t code, const std::string &message)
{
    // "result_value_error (-3)" -> "result_value_error"; unknown codes are their number.
    std::string name = calls::resultName(code);
    name = name.substr(0, name.find(' '));
    raise(loaded.deviceError, loaded.deviceError(message, code, name));
}

std::string pathArgument(py::handle path)
{
    const py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
    std::string bytes = encoded;
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error("path: embedded null byte");
    return bytes;
}

py::str pathValue(const std::string &path)
{
    return py::module_::import("os").attr("fsdecode")(py::bytes(path));
}

bool SignalCheck::operator()()
{
    if (!m_raised) {
        py::gil_scoped_acquire locked;
        m_raised = PyErr_CheckSignals() != 0;
    }
    return m_raised;
}

void SignalCheck::throwIfRaised() const
{
    if (m_raised)
        throw py::error_already_set();
}

} // namespace zem::python

PYBIND11_MODULE(_zem, m)
{
    using namespace zem::python;
    m.doc() = "The zem instrument's library, measurements, signatures and call files.";
    // Kept for the interpreter's life, as the module is.
    const py::module_ types = py::module_::import("zem._types");
    loaded.value = py::object(types.attr("Value")).release();
    loaded.deviceError = py::object(types.attr("DeviceError")).release();
    loaded.measurementError = py::object(types.attr("MeasurementError")).release();
    loaded.resultWarning = py::object(types.attr("ResultWarning")).release();
    loaded.boardResults = py::object(types.attr("BoardResults")).release();

    // pybind11 looks NumPy's C API up once, importing numpy inside a C++
    // static's initialisation: a second thread reaching it meanwhile waits
    // there holding the GIL that the import needs. Looked up now, while
    // Python's import lock keeps other threads out of the module, no thread
    // meets it half done. Without NumPy only the arrays fail, and they fail
    // before they look it up again (requireNumpy()).
    try {
        py::detail::npy_api::get();
        loaded.numpy = true;
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
    }

    addRecord(m);
    addCurve(m);
    addDevice(m);
    addSignature(m);
    addRecording(m);
    addHistory(m);
}
