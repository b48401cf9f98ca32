// zem.record(): the calls every Device makes while a recording is active,
// kept in memory and written as a call file (the window's and zemctl's
// format) when it ends.
#include "extension.h"

#include "callfile.h"
#include "recording.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

namespace zem::python {

namespace {

class Recording;

// Hands each call to every active recording. Called by the connections
// without the GIL, from any thread.
class CallHub : public calls::CallSink
{
public:
    void record(const calls::Call &call) override;
    void add(Recording *r)
    {
        std::lock_guard lock(m_mutex);
        m_active.push_back(r);
        m_count.store(m_active.size(), std::memory_order_release);
    }
    void remove(Recording *r)
    {
        std::lock_guard lock(m_mutex);
        m_active.erase(std::remove(m_active.begin(), m_active.end(), r), m_active.end());
        m_count.store(m_active.size(), std::memory_order_release);
    }
    std::mutex &mutex() { return m_mutex; }

private:
    std::mutex m_mutex;
    std::vector<Recording *> m_active;
    std::atomic<std::size_t> m_count { 0 }; // read without the lock: nothing to do when 0
};

CallHub &hub()
{
    // Never destroyed: devices may close (and record) while the interpreter ends.
    static CallHub *const instance = new CallHub;
    return *instance;
}

class Recording
{
public:
    explicit Recording(std::optional<std::string> path)
        : m_path(std::move(path))
    {
    }
    ~Recording() { stop(); }
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;

    void start()
    {
        if (m_active)
            throw py::value_error("this recording is already running");
        m_active = true;
        hub().add(this);
    }
    void stop()
    {
        if (m_active)
            hub().remove(this);
        m_active = false;
    }
    void keep(const calls::Call &call) // under the hub's lock
    {
        m_calls.emplace_back();
        m_calls.back().assign(call);
    }
    std::size_t size() const
    {
        std::lock_guard lock(hub().mutex());
        return m_calls.size();
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(hub().mutex());
        std::vector<std::string> out;
        out.reserve(m_calls.size());
        for (const calls::Call &c : m_calls)
            out.push_back(calls::callLine(c));
        return out;
    }
    std::vector<std::string> textLines(std::size_t start, bool hex) const
    {
        std::lock_guard lock(hub().mutex());
        std::vector<std::string> out;
        for (std::size_t i = start; i < m_calls.size(); ++i)
            out.push_back(calls::callText(m_calls[i], hex));
        return out;
    }
    void save(const std::string &path) const
    {
        std::vector<calls::Call> copy;
        {
            std::lock_guard lock(hub().mutex());
            copy.resize(m_calls.size());
            for (std::size_t i = 0; i < copy.size(); ++i)
                copy[i].assign(m_calls[i]);
        }
        std::string error;
        bool written;
        {
            py::gil_scoped_release unlocked;
            written = calls::writeCallFile(
                path, copy.size(), [&](std::size_t i) -> const calls::Call & { return copy[i]; },
                error);
        }
        if (!written) {
            PyErr_SetString(PyExc_OSError, error.c_str());
            throw py::error_already_set();
        }
    }
    const std::optional<std::string> &path() const { return m_path; }

private:
    std::optional<std::string> m_path;
    bool m_active = false;
    std::vector<calls::Call> m_calls;
};

void CallHub::record(const calls::Call &call)
{
    if (m_count.load(std::memory_order_acquire) == 0)
        return;
    std::lock_guard lock(m_mutex);
    for (Recording *r : m_active)
        r->keep(call);
}

std::optional<std::string> pathText(py::object path)
{
    if (path.is_none())
        return std::nullopt;
    return pathArgument(path);
}

} // namespace

calls::CallSink &callHub()
{
    return hub();
}

void addRecording(py::module_ &m)
{
    py::class_<Recording>(m, "Recording", R"(The library calls made while it runs, by every Device.

Use it as a context manager (zem.record(path)); on leaving, the calls are
written to path as a call file that zemctl replay and the Calls dock read.)")
        .def("__enter__",
            [](py::object self) {
                self.cast<Recording &>().start();
                return self;
            })
        .def("__exit__",
            [](Recording &r, py::args) {
                r.stop();
                if (r.path())
                    r.save(*r.path());
            })
        .def("__len__", &Recording::size)
        .def("lines", &Recording::lines, "The calls so far, one call-file line (JSON) each.")
        .def("text_lines", &Recording::textLines, py::arg("start") = 0, py::kw_only(),
            py::arg("hex") = false,
            "The calls from the start-th on, one line each for people: the command, its "
            "result and the decoded fields; with hex=True the bytes too.")
        .def(
            "save", [](const Recording &r, py::object path) { r.save(*pathText(path)); },
            py::arg("path"), "Writes the calls so far as a call file, atomically.")
        .def_property_readonly(
            "path",
            [](const Recording &r) -> py::object {
                return r.path() ? py::object(pathValue(*r.path())) : py::none();
            },
            "Where leaving writes the calls, or None.")
        .def("__repr__", [](const Recording &r) {
            // A name that is not UTF-8 stays as os.fsdecode gives it.
            const py::str calls("<zem.Recording {} calls{}>");
            return calls.format(r.size(),
                r.path() ? py::str(" to {}").format(pathValue(*r.path())) : py::str(""));
        });

    m.def(
        "record", [](py::object path) { return std::make_unique<Recording>(pathText(path)); },
        py::arg("path") = py::none(),
        R"(Records every library call made inside the with block:

    with zem.record("calls.jsonl"):
        dev.measure()

Without a path the calls stay in memory (len(), lines()).)");
}

} // namespace zem::python
