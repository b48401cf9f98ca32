// zem.Device: one zem::Connection, a method per command, measure() through
// the window's measurement sequence. The GIL is released around every library
// call and measurement, so other Python threads run meanwhile; the connection
// keeps calls from several threads apart.
#include "extension.h"

#include "call.h"
#include "connection.h"
#include "sequence.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

namespace zem::python {

namespace {

const Command &command(const char *name)
{
    return *findCommand(name);
}

// The sequence with its waits cut short, so that its stop is checked while
// the device measures: a wait lasts as long as the measurement (minutes with
// slow settings), and a signal may wake another thread than the sleeping one.
// Advancing early only repeats the wait.
struct ShortWaits
{
    using Clock = MeasurementSequence::Clock;
    static constexpr std::chrono::milliseconds kLongest { 50 };

    MeasurementSequence &sequence;

    std::optional<Clock::time_point> advance(Clock::time_point now)
    {
        const std::optional<Clock::time_point> next = sequence.advance(now);
        if (!next)
            return next;
        return std::min(*next, now + kLongest);
    }
    void cancel() { sequence.cancel(); }
};

class Device
{
public:
    explicit Device(std::string url)
        : m_url(std::move(url))
    {
        m_connection.setSink(&callHub());
        m_connection.setDefaultOrigin(calls::Origin::Python);
        std::int32_t handle;
        {
            py::gil_scoped_release unlocked;
            handle = m_connection.open(m_url);
        }
        if (handle == -1)
            raiseDeviceError(-1, "cannot open " + m_url + ": the library refused it");
    }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    const std::string &url() const { return m_url; }
    Connection &connection() { return m_connection; }
    bool isOpen() const
    {
        py::gil_scoped_release unlocked;
        const auto guard = m_connection.lock();
        return m_connection.isOpen();
    }
    const char *state() const
    {
        Connection::State state;
        {
            py::gil_scoped_release unlocked;
            const auto guard = m_connection.lock();
            state = m_connection.state();
        }
        switch (state) {
        case Connection::State::Open:
            return "open";
        case Connection::State::Lost:
            return "lost";
        case Connection::State::Closed:
            break;
        }
        return "closed";
    }

    void close()
    {
        py::gil_scoped_release unlocked;
        const auto guard = m_connection.lock();
        if (m_connection.isOpen())
            m_connection.close();
    }

    py::object call(const Command &c, py::kwargs kwargs)
    {
        bool fill = c.getter != nullptr;
        if (kwargs.contains("fill")) {
            if (!c.getter)
                throw py::type_error(std::string(c.name) + " takes no fill: it has no getter");
            fill = py::bool_(kwargs["fill"]);
            PyDict_DelItemString(kwargs.ptr(), "fill");
        }
        std::array<std::uint8_t, kMaxRecordSize> request {};
        std::array<std::uint8_t, kMaxRecordSize> response {};
        const std::vector<Assignment> given = readFields(c.request, kwargs, c.name, request.data());
        std::int32_t getterResult = ZEM_RESULT_OK;
        std::int32_t result = ZEM_RESULT_OK;
        bool open;
        {
            py::gil_scoped_release unlocked;
            // A getter and its setter are not split by another thread's calls.
            const auto guard = m_connection.lock();
            open = m_connection.isOpen();
            if (open && fill && c.getter) {
                getterResult = m_connection.call(command(c.getter), nullptr, request.data());
                applyFields(given, request.data());
            }
            if (open && getterResult == ZEM_RESULT_OK)
                result = m_connection.call(c, request.data(), response.data());
        }
        if (!open)
            raiseDeviceError(ZEM_DEVICE_UNDEFINED, std::string(c.name) + ": the device is closed");
        if (getterResult != ZEM_RESULT_OK)
            raiseDeviceError(getterResult,
                std::string(c.getter) + " (reading the fields not given) returned "
                    + calls::resultName(getterResult) + closedText(getterResult)
                    + "; nothing was set (fill=False sends only the fields given)");
        if (result == ZEM_RESULT_OK)
            return c.response ? py::cast(RecordValue(*c.response, response.data())) : py::none();
        const std::string failure
            = std::string(c.name) + " returned " + calls::resultName(result) + closedText(result);
        if (result != ZEM_RESULT_VALUE_ERROR || !c.response)
            raiseDeviceError(result, failure);
        // A -3 still brings a record worth reading, as the window shows it.
        if (PyErr_WarnEx(pythonTypes().resultWarning.ptr(), failure.c_str(), 1) < 0)
            throw py::error_already_set();
        return py::cast(RecordValue(*c.response, response.data()));
    }

    Curve measure(py::kwargs settings)
    {
        static const Command &setter = command("set_measurement_settings");
        std::array<std::uint8_t, kMaxRecordSize> request {};
        const std::vector<Assignment> given
            = readFields(setter.request, settings, "measure", request.data());
        std::int32_t getterResult = ZEM_RESULT_OK;
        std::int32_t setterResult = ZEM_RESULT_OK;
        bool open;
        std::unique_ptr<MeasurementSequence> sequence;
        SignalCheck interrupt;
        {
            py::gil_scoped_release unlocked;
            {
                const auto guard = m_connection.lock();
                open = m_connection.isOpen();
                if (open && !given.empty()) {
                    getterResult
                        = m_connection.call(command(setter.getter), nullptr, request.data());
                    applyFields(given, request.data());
                    if (getterResult == ZEM_RESULT_OK)
                        setterResult = m_connection.call(setter, request.data(), nullptr);
                }
            }
            // Other threads may call between the steps, as the window's pages do.
            if (open && getterResult == ZEM_RESULT_OK && setterResult == ZEM_RESULT_OK) {
                sequence = std::make_unique<MeasurementSequence>(m_connection);
                ShortWaits waits { *sequence };
                runToEnd(waits, [&] { return interrupt(); });
            }
        }
        interrupt.throwIfRaised();
        if (!open)
            raiseDeviceError(ZEM_DEVICE_UNDEFINED, "measure: the device is closed");
        for (const auto &[name, result] :
            { std::pair { setter.getter, getterResult }, std::pair { setter.name, setterResult } })
            if (result != ZEM_RESULT_OK)
                raiseDeviceError(result,
                    std::string(name) + " returned " + calls::resultName(result)
                        + closedText(result) + "; nothing was measured");
        using Outcome = MeasurementSequence::Outcome;
        switch (sequence->outcome()) {
        case Outcome::Complete:
            return sequence->curve();
        case Outcome::Failed:
            raiseDeviceError(sequence->failedResult(), sequence->message().toStdString());
        case Outcome::NoDevice:
            raiseDeviceError(ZEM_DEVICE_UNDEFINED, sequence->message().toStdString());
        default:
            break;
        }
        const py::object partial
            = sequence->curve().empty() ? py::none() : py::cast(sequence->curve());
        raise(pythonTypes().measurementError,
            pythonTypes().measurementError(sequence->message().toStdString(), partial));
    }

    std::string getProfile()
    {
        std::string text;
        std::int32_t result = ZEM_RESULT_OK;
        const bool open = callOpen([&] { result = m_connection.getProfile(text); });
        if (!open)
            raiseDeviceError(ZEM_DEVICE_UNDEFINED, "get_profile: the device is closed");
        if (result == ZEM_RESULT_OK)
            return text;
        const std::string failure
            = "get_profile returned " + calls::resultName(result) + closedText(result);
        if (result != ZEM_RESULT_VALUE_ERROR || text.empty())
            raiseDeviceError(result, failure);
        if (PyErr_WarnEx(pythonTypes().resultWarning.ptr(), failure.c_str(), 1) < 0)
            throw py::error_already_set();
        return text;
    }

    void setProfile(const std::string &text)
    {
        if (text.find('\0') != std::string::npos)
            throw py::value_error("set_profile: the profile holds a zero byte");
        std::int32_t result = ZEM_RESULT_OK;
        if (!callOpen([&] { result = m_connection.setProfile(text.c_str()); }))
            raiseDeviceError(ZEM_DEVICE_UNDEFINED, "set_profile: the device is closed");
        if (result != ZEM_RESULT_OK)
            raiseDeviceError(
                result, "set_profile returned " + calls::resultName(result) + closedText(result));
    }

private:
    static std::string closedText(std::int32_t result)
    {
        return result == ZEM_DEVICE_UNDEFINED ? "; the device was closed, open it again" : "";
    }

    // Runs f without the GIL when the device is open; false when it was not.
    template <class F> bool callOpen(F &&f)
    {
        py::gil_scoped_release unlocked;
        const auto guard = m_connection.lock();
        if (!m_connection.isOpen())
            return false;
        f();
        return true;
    }

    Connection m_connection;
    std::string m_url;
};

std::string commandDoc(const Command &c)
{
    // The first line in CPython's form, so that inspect.signature() and help()
    // show the keywords.
    std::string doc = std::string(c.name) + "(self, /";
    if (c.request)
        doc += c.getter ? ", *, fill=True, **fields" : ", **fields";
    doc += std::string(")\n--\n\nReturns ") + (c.response ? "a Record" : "None") + ". Calls "
        + c.operation + ".";
    if (c.getter)
        doc += std::string(" Fields not given are read with ") + c.getter
            + " first, unless fill=False (then they are 0).";
    doc += " A result other than 0 raises DeviceError";
    doc += c.response ? "; -3 returns the record with a ResultWarning.\n" : ".\n";
    for (const auto &[title, record] :
        { std::pair { "Fields", c.request }, std::pair { "Returns", c.response } }) {
        if (!record)
            continue;
        doc += std::string("\n") + title + " (" + record->name + "):\n";
        for (const Field &f : record->fields)
            doc += std::string("    ") + f.name + " (" + f.typeText + "): " + codec::allowedText(f)
                + "\n";
    }
    return doc;
}

} // namespace

Connection *deviceConnection(py::handle object)
{
    if (!py::isinstance<Device>(object))
        return nullptr;
    return &object.cast<Device &>().connection();
}

void addDevice(py::module_ &m)
{
    py::class_<Device> device(m, "Device", R"(An open instrument, from zem.open(url).

Each command is a method named after it (get_status(), set_measurement_settings(
NumberPoints=200), ...). Use it as a context manager to close it on leaving.
A call that answers -1 closes the device, as everywhere else.)");
    device.def_property_readonly("url", &Device::url, "The URL it was opened with.")
        .def_property_readonly("is_open", &Device::isOpen, "False once closed, also by a -1.")
        .def_property_readonly("state", &Device::state,
            "\"open\", \"closed\" or \"lost\" (the last call answered -1 or -4).")
        .def_property_readonly(
            "has_virtual_probe", [](const Device &) { return Connection::hasVirtualProbe(); },
            "Whether the library can place the virtual instrument's probe on a pin, as "
            "Signature.learn(dev) and test(dev) do on each point.")
        .def("close", &Device::close, "Closes the device; closing it again does nothing.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Device &d, py::args) { d.close(); })
        .def("__repr__",
            [](const Device &d) { return "<zem.Device " + d.url() + " " + d.state() + ">"; })
        .def("measure", &Device::measure,
            R"(measure(**settings) -> Curve

Takes one current-voltage curve as the window's Measure does: reads the
settings, starts, polls until complete and reads every frame. Settings given
(NumberPoints=1000, CurrentSensorMode="CURRENT_SENSE_MODE_I_MID", ...) are set
first, the others kept. A failed call raises DeviceError; a measurement that
does not complete in time raises MeasurementError. Ctrl+C cancels it and
raises KeyboardInterrupt.)")
        .def("get_profile", &Device::getProfile,
            "The device's settings and calibration as a JSON text (zem_get_profile).")
        .def("set_profile", &Device::setProfile, py::arg("profile"),
            "Applies a profile text from get_profile(), all or nothing (zem_set_profile).");
    py::options options;
    options.disable_function_signatures(); // each command's doc starts with its own
    for (const Command &c : kCommands) {
        const Command *entry = &c;
        device.def(
            c.name, [entry](Device &d, py::kwargs fields) { return d.call(*entry, fields); },
            commandDoc(c).c_str());
    }

    m.def(
        "open", [](const std::string &url) { return std::make_unique<Device>(url); },
        py::arg("url"),
        R"(Opens the instrument at url (e.g. "virtual://resistor?ohms=1000") and
returns a Device; raises DeviceError when the library refuses the URL.)");
}

} // namespace zem::python
