// The parts of the zem extension module, each adding its classes to it. The
// extension reaches the instrument only through zem::Connection, reads and
// writes records only through the record description and its codec, and
// measures, judges and records with the same code as the window and zemctl.
#pragma once

#include "codec.h"
#include "records.h"

#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zem {
class Connection;
}
namespace zem::calls {
class CallSink;
}

namespace zem::python {

namespace py = pybind11;

// The classes of zem/_types.py, loaded once when the module is imported.
struct PythonTypes
{
    py::handle value;
    py::handle deviceError;
    py::handle measurementError;
    py::handle resultWarning;
    py::handle boardResults;
    bool numpy = false; // whether NumPy could be imported with the module
};
const PythonTypes &pythonTypes();

// Raises ImportError, saying plainly that NumPy is missing, before anything
// that makes an array could reach pybind11's lookup of NumPy's C API: where
// NumPy is missing, that lookup retries the import inside a C++ static's
// initialisation, in which a second thread would wait holding the GIL.
void requireNumpy(const char *what);

// Raises zem.DeviceError with the code and its name.
[[noreturn]] void raiseDeviceError(std::int32_t code, const std::string &message);
// Sets a Python exception of the given class and throws, so that pybind11
// hands it to Python as it is.
[[noreturn]] void raise(py::handle type, py::object instance);

// A record as Python sees it: read-only, by field name or attribute.
struct RecordValue
{
    const zem::Record *description = nullptr;
    std::array<std::uint8_t, zem::kMaxRecordSize> bytes {};

    RecordValue(const zem::Record &record, const void *data);
};

// One field of the record at `data`: int, float, zem.Value for a field with
// named constants or flags, str for text, a NumPy array for an array.
py::object fieldValue(const zem::Field &field, const std::uint8_t *data);

// A field's value given from Python, checked against the field and kept as
// the codec takes it, so that it can be written again onto other bytes
// without Python (a setter's request filled from its getter).
struct Assignment
{
    const zem::Field *field = nullptr;
    codec::Json value;
    bool text = false; // value is a string in the command line's form
};

// Checks every keyword against the record and writes the values onto
// `bytes`: TypeError for an unknown field, ValueError for a value the field
// does not take. `what` names the call in messages.
std::vector<Assignment> readFields(
    const zem::Record *record, const py::dict &fields, std::string_view what, void *bytes);
// Writes checked values onto other bytes of the same record.
void applyFields(const std::vector<Assignment> &assignments, void *bytes);

// A path argument as Python's own functions take it (str, bytes or
// os.PathLike, through os.fsencode): the file system's bytes. TypeError for
// anything else, ValueError for a zero byte, which no file name holds.
std::string pathArgument(py::handle path);
// Such a path handed back to Python: a str, as os.fsdecode gives it.
py::str pathValue(const std::string &path);

// Runs Python's signal handlers from a thread without the GIL, taking it
// briefly: a step machine's stop in runToEnd(), so that Ctrl+C cancels a run.
// True once a handler raised (KeyboardInterrupt); the exception stays set
// for throwIfRaised() once the GIL is held again.
class SignalCheck
{
public:
    bool operator()();
    void throwIfRaised() const;
    bool raised() const { return m_raised; }

private:
    bool m_raised = false;
};

// Where every Device records its calls: the active zem.record() recordings.
calls::CallSink &callHub();

// The connection of a zem.Device, or null when `object` is not one.
zem::Connection *deviceConnection(py::handle object);

// An argument that only a zem.Device converts to, so that overloads are told
// apart by it: sig.learn(dev, ...) beside sig.learn(point, curve).
struct DeviceArgument
{
    zem::Connection *connection = nullptr;
};

void addRecord(py::module_ &m);
void addDevice(py::module_ &m);
void addCurve(py::module_ &m);
void addSignature(py::module_ &m);
void addRecording(py::module_ &m);
void addHistory(py::module_ &m);

} // namespace zem::python

namespace pybind11::detail {

template <> struct type_caster<zem::python::DeviceArgument>
{
    PYBIND11_TYPE_CASTER(zem::python::DeviceArgument, _("zem.Device"));

    bool load(handle source, bool)
    {
        value.connection = zem::python::deviceConnection(source);
        return value.connection != nullptr;
    }
    // Never returned to Python.
    static handle cast(const zem::python::DeviceArgument &, return_value_policy, handle)
    {
        return none().release();
    }
};

} // namespace pybind11::detail
