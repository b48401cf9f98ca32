// Records between C++ and Python: read field by field through the record
// description and its codec, written from keyword arguments through the codec.
#include "extension.h"

#include <pybind11/numpy.h>

#include <cstring>

namespace zem::python {

using codec::Json;

RecordValue::RecordValue(const zem::Record &record, const void *data)
    : description(&record)
{
    std::memcpy(bytes.data(), data, record.size);
}

namespace {

py::dtype dtypeOf(ElementType type)
{
    switch (type) {
    case ElementType::UInt8:
        return py::dtype::of<std::uint8_t>();
    case ElementType::UInt16:
        return py::dtype::of<std::uint16_t>();
    case ElementType::Int16:
        return py::dtype::of<std::int16_t>();
    case ElementType::UInt32:
        return py::dtype::of<std::uint32_t>();
    case ElementType::Int32:
        return py::dtype::of<std::int32_t>();
    case ElementType::Float:
        break;
    }
    return py::dtype::of<float>();
}

py::object number(const Field &field, const std::uint8_t *data)
{
    const double value = codec::elementValue(field, data);
    if (field.type == ElementType::Float)
        return py::float_(value);
    return py::int_(std::int64_t(value)); // every integer type fits a double exactly
}

// The codec decides which names a value has; Python gets them as a zem.Value.
py::object namedValue(const Field &field, const std::uint8_t *data)
{
    const Json decoded = codec::decodeField(field, data);
    if (!decoded.is_object())
        return number(field, data);
    py::object name = py::none();
    py::tuple flags;
    if (const auto n = decoded.find("name"); n != decoded.end())
        name = py::str(n->get<std::string>());
    if (const auto f = decoded.find("flags"); f != decoded.end()) {
        flags = py::tuple(f->size());
        std::string joined;
        for (std::size_t i = 0; i < f->size(); ++i) {
            const std::string flag = (*f)[i].get<std::string>();
            flags[i] = py::str(flag);
            joined += (joined.empty() ? "" : "|") + flag;
        }
        if (name.is_none() && !joined.empty())
            name = py::str(joined);
    }
    return pythonTypes().value(number(field, data), name, flags);
}

const Field &fieldOf(const RecordValue &r, std::string_view name, bool attribute)
{
    if (const Field *f = codec::findField(*r.description, name))
        return *f;
    const std::string message = codec::unknownFieldError(*r.description, name);
    if (attribute)
        throw py::attribute_error(message);
    throw py::key_error(message);
}

py::list fieldNames(const RecordValue &r)
{
    py::list names;
    for (const Field &f : r.description->fields)
        names.append(f.name);
    return names;
}

py::dict toDict(const RecordValue &r)
{
    py::dict d;
    for (const Field &f : r.description->fields)
        d[f.name] = fieldValue(f, r.bytes.data());
    return d;
}

std::string typeName(py::handle value)
{
    return Py_TYPE(value.ptr())->tp_name;
}

// One element from Python as the codec takes it: bool and integers (NumPy's
// too) as integers, then text, then anything with a float value.
Json elementJson(py::handle v, const Field &field, const std::string &where)
{
    PyObject *o = v.ptr();
    if (PyBool_Check(o))
        return Json(o == Py_True ? 1 : 0);
    if (PyLong_Check(o) || (!PyFloat_Check(o) && PyIndex_Check(o))) {
        const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(o));
        if (!index)
            throw py::error_already_set();
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow == 0)
            return Json(std::int64_t(n));
        if (overflow > 0) {
            const unsigned long long u = PyLong_AsUnsignedLongLong(index.ptr());
            if (!PyErr_Occurred())
                return Json(std::uint64_t(u));
            PyErr_Clear();
        }
        throw py::value_error(where + ": " + std::string(py::str(index)) + " is out of range");
    }
    if (PyUnicode_Check(o))
        return Json(v.cast<std::string>());
    if (PyFloat_Check(o) || (Py_TYPE(o)->tp_as_number && Py_TYPE(o)->tp_as_number->nb_float)) {
        const double d = PyFloat_AsDouble(o);
        if (d == -1.0 && PyErr_Occurred())
            throw py::error_already_set();
        return Json(d);
    }
    throw py::type_error(where + " takes " + codec::allowedText(field) + ", not " + typeName(v));
}

// Lists, tuples, bytes and NumPy arrays, but not a 0-d array (a number).
bool isSequence(py::handle v)
{
    if (!PySequence_Check(v.ptr()))
        return false;
    if (PySequence_Size(v.ptr()) >= 0)
        return true;
    PyErr_Clear();
    return false;
}

} // namespace

py::object fieldValue(const Field &field, const std::uint8_t *data)
{
    if (field.isText) {
        // The codec makes the text valid UTF-8 (up to the first zero byte).
        return py::str(codec::decodeField(field, data).at("text").get<std::string>());
    }
    if (field.isArray) {
        requireNumpy("an array field");
        py::array array(dtypeOf(field.type), std::vector<py::ssize_t> { py::ssize_t(field.count) });
        std::memcpy(array.mutable_data(), data + field.offset, field.size());
        return std::move(array);
    }
    if (!field.values.empty())
        return namedValue(field, data);
    return number(field, data);
}

std::vector<Assignment> readFields(
    const zem::Record *record, const py::dict &fields, std::string_view what, void *bytes)
{
    std::vector<Assignment> assignments;
    if (fields.empty())
        return assignments;
    if (!record)
        throw py::type_error(std::string(what) + " takes no fields");
    for (const auto &item : fields) {
        const std::string name = py::str(item.first);
        const Field *f = codec::findField(*record, name);
        if (!f)
            throw py::type_error(
                std::string(what) + ": " + codec::unknownFieldError(*record, name));
        const std::string where = std::string(what) + ": " + name;
        Assignment a;
        a.field = f;
        py::handle v = item.second;
        if (PyUnicode_Check(v.ptr())) {
            // Names, flags joined by '|', comma lists and text, as zemctl takes them.
            a.value = v.cast<std::string>();
            a.text = true;
        } else if (isSequence(v)) {
            a.value = Json::array();
            for (py::handle e : py::iter(v))
                a.value.push_back(elementJson(e, *f, where));
        } else {
            a.value = elementJson(v, *f, where);
        }
        const std::string error = a.text
            ? codec::encodeFieldText(*f, a.value.get_ref<const std::string &>(), bytes)
            : codec::encodeField(*f, a.value, bytes);
        if (!error.empty())
            throw py::value_error(std::string(what) + ": " + error);
        assignments.push_back(std::move(a));
    }
    return assignments;
}

void applyFields(const std::vector<Assignment> &assignments, void *bytes)
{
    // Checked when read, so they cannot fail here.
    for (const Assignment &a : assignments) {
        if (a.text)
            codec::encodeFieldText(*a.field, a.value.get_ref<const std::string &>(), bytes);
        else
            codec::encodeField(*a.field, a.value, bytes);
    }
}

void addRecord(py::module_ &m)
{
    py::class_<RecordValue>(m, "Record", R"(A record the instrument answered, read-only.

Fields read as attributes (``r.Temperature``) or by name (``r["Temperature"]``),
and the record reads as a mapping (``dict(r)``, ``**r``). Integers are int,
floats float, fields with named values zem.Value (``r.CurrentSensorMode.name``),
text fields str and arrays NumPy arrays (a copy).)")
        .def("__getattr__",
            [](const RecordValue &r, const std::string &name) {
                return fieldValue(fieldOf(r, name, true), r.bytes.data());
            })
        .def("__getitem__",
            [](const RecordValue &r, const std::string &name) {
                return fieldValue(fieldOf(r, name, false), r.bytes.data());
            })
        .def("__contains__",
            [](const RecordValue &r, py::handle name) {
                return PyUnicode_Check(name.ptr())
                    && codec::findField(*r.description, name.cast<std::string>());
            })
        .def("__len__", [](const RecordValue &r) { return r.description->fields.size(); })
        .def("__iter__", [](const RecordValue &r) { return py::iter(fieldNames(r)); })
        .def("__dir__",
            [](const RecordValue &r) {
                py::list names = fieldNames(r);
                for (const char *method :
                    { "get", "items", "keys", "name", "to_bytes", "to_dict", "to_json", "values" })
                    names.append(method);
                return names;
            })
        .def("keys", &fieldNames, "The field names, in record order.")
        .def(
            "values", [](const RecordValue &r) { return toDict(r).attr("values")(); },
            "The field values, in record order.")
        .def(
            "items", [](const RecordValue &r) { return toDict(r).attr("items")(); },
            "(name, value) pairs, in record order.")
        .def(
            "get",
            [](const RecordValue &r, const std::string &name, py::object fallback) {
                const Field *f = codec::findField(*r.description, name);
                return f ? fieldValue(*f, r.bytes.data()) : fallback;
            },
            py::arg("name"), py::arg("default") = py::none(),
            "The field's value, or default when the record has no such field.")
        .def("to_dict", &toDict, "Every field by name, as the attributes give them.")
        .def(
            "to_json",
            [](const RecordValue &r) {
                return codec::decode(*r.description, r.bytes.data()).dump();
            },
            "The record as zemctl prints it: one JSON object, named values by name.")
        .def(
            "to_bytes",
            [](const RecordValue &r) {
                return py::bytes(
                    reinterpret_cast<const char *>(r.bytes.data()), r.description->size);
            },
            "The record's bytes, in the C layout.")
        .def_property_readonly(
            "name", [](const RecordValue &r) { return r.description->name; },
            "The C record's name, e.g. \"get_status_response\".")
        .def(
            "__eq__",
            [](const RecordValue &a, py::handle other) {
                if (!py::isinstance<RecordValue>(other))
                    return false;
                const auto &b = other.cast<const RecordValue &>();
                return a.description == b.description
                    && std::memcmp(a.bytes.data(), b.bytes.data(), a.description->size) == 0;
            },
            py::is_operator())
        .def("__repr__", [](const RecordValue &r) {
            std::string text = std::string(r.description->name) + "(";
            bool first = true;
            for (const Field &f : r.description->fields) {
                text += (first ? "" : ", ") + std::string(f.name) + "="
                    + std::string(py::repr(fieldValue(f, r.bytes.data())));
                first = false;
            }
            return text + ")";
        });
}

} // namespace zem::python
