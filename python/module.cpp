// The zem extension module (zem._zem); zem/__init__.py is its public face.
#include "extension.h"

#include "call.h"

namespace zem::python {

namespace {

PythonTypes loaded;

} // namespace

const PythonTypes &pythonTypes()
{
    return loaded;
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

    addRecord(m);
    addCurve(m);
    addDevice(m);
    addSignature(m);
    addRecording(m);
}
