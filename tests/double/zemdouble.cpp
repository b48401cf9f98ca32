#include "zemdouble.h"

#include "zem.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <type_traits>

namespace zemdouble {
namespace {

struct Script
{
    std::map<std::string, std::int32_t> results;
    std::map<std::string, std::deque<std::int32_t>> queued;
    std::map<std::string, std::vector<std::uint8_t>> responses;
    std::int32_t closeLeaves = -1;
    bool probeOffered = true;
};

std::vector<Call> &record()
{
    static std::vector<Call> calls;
    return calls;
}

Script &script()
{
    static Script s;
    return s;
}

Allocator &allocator()
{
    static Allocator a = nullptr;
    return a;
}

struct Gate
{
    std::mutex lock;
    std::condition_variable changed;
    bool closed = false;
    std::string function; // empty: every call
    std::size_t waiting = 0;
    std::size_t held = 0;
    std::size_t openings = 0; // lets a waiter tell an opening it slept through
};

Gate &gate()
{
    static Gate g;
    return g;
}

// Where every call enters the double: it waits here while the gate holds it.
void pass(const std::string &function)
{
    Gate &g = gate();
    std::unique_lock<std::mutex> lock(g.lock);
    if (!g.closed || (!g.function.empty() && g.function != function))
        return;
    ++g.waiting;
    ++g.held;
    g.changed.notify_all();
    const std::size_t opening = g.openings;
    g.changed.wait(lock, [&] { return g.openings != opening; });
    --g.waiting;
}

std::int32_t nextResult(const std::string &function, std::int32_t fallback)
{
    Script &s = script();
    auto q = s.queued.find(function);
    if (q != s.queued.end() && !q->second.empty()) {
        const std::int32_t r = q->second.front();
        q->second.pop_front();
        return r;
    }
    auto r = s.results.find(function);
    return r == s.results.end() ? fallback : r->second;
}

std::vector<std::uint8_t> bytesOf(const void *data, std::size_t size)
{
    if (!data)
        return {};
    const auto *p = static_cast<const std::uint8_t *>(data);
    return std::vector<std::uint8_t>(p, p + size);
}

void respond(const std::string &function, void *response, std::size_t size)
{
    auto r = script().responses.find(function);
    if (!response || r == script().responses.end())
        return;
    std::memcpy(response, r->second.data(), std::min(size, r->second.size()));
}

// Records a command call and answers it; the record types give the sizes.
template <class Rq, class Rs>
std::int32_t command(const char *function, std::int32_t handle, const Rq *request, Rs *response)
{
    pass(function);
    Call c;
    c.function = function;
    c.handle = handle;
    if constexpr (!std::is_void_v<Rq>)
        c.request = bytesOf(request, sizeof(Rq));
    if constexpr (!std::is_void_v<Rs>)
        respond(function, response, sizeof(Rs));
    c.result = nextResult(function, 0);
    record().push_back(c);
    return c.result;
}

constexpr const char *kProbePin = "zem_virtual_probe_pin";

} // namespace

std::int32_t Call::probePin() const
{
    std::int32_t pin = -1;
    if (function == kProbePin && request.size() == sizeof pin)
        std::memcpy(&pin, request.data(), sizeof pin);
    return pin;
}

void reset()
{
    openGate();
    {
        const std::lock_guard<std::mutex> lock(gate().lock);
        gate().held = 0;
    }
    record().clear();
    script() = Script();
    allocator() = nullptr;
}

const std::vector<Call> &calls()
{
    return record();
}

std::vector<std::string> callLines()
{
    std::vector<std::string> lines;
    for (const Call &c : record())
        lines.push_back(c.function + "(" + std::to_string(c.handle)
            + (c.function == kProbePin ? ", " + std::to_string(c.probePin()) : std::string())
            + ")");
    return lines;
}

std::size_t count(const std::string &function)
{
    return std::count_if(
        record().begin(), record().end(), [&](const Call &c) { return c.function == function; });
}

void setResult(const std::string &function, std::int32_t result)
{
    script().results[function] = result;
}

void queueResults(const std::string &function, std::vector<std::int32_t> results)
{
    auto &q = script().queued[function];
    q.insert(q.end(), results.begin(), results.end());
}

void setOpenHandle(std::int32_t handle)
{
    setResult("zem_open_device", handle);
}

void setResponse(const std::string &function, std::vector<std::uint8_t> bytes)
{
    script().responses[function] = std::move(bytes);
}

void offerVirtualProbe(bool offered)
{
    script().probeOffered = offered;
}

void setCloseLeaves(std::int32_t handle)
{
    script().closeLeaves = handle;
}

Allocator lastProfileAllocator()
{
    return allocator();
}

void closeGate(const std::string &function)
{
    const std::lock_guard<std::mutex> lock(gate().lock);
    gate().closed = true;
    gate().function = function;
}

void openGate()
{
    Gate &g = gate();
    const std::lock_guard<std::mutex> lock(g.lock);
    g.closed = false;
    ++g.openings;
    g.changed.notify_all();
}

bool waitForHeld(std::size_t count, std::chrono::milliseconds timeout)
{
    Gate &g = gate();
    std::unique_lock<std::mutex> lock(g.lock);
    return g.changed.wait_for(lock, timeout, [&] { return g.waiting >= count; });
}

std::size_t heldCalls()
{
    const std::lock_guard<std::mutex> lock(gate().lock);
    return gate().held;
}

} // namespace zemdouble

using zemdouble::Call;
using zemdouble::command;
using zemdouble::record;

extern "C" {

int32_t zem_open_device(const char *url)
{
    zemdouble::pass(__func__);
    Call c;
    c.function = "zem_open_device";
    c.request = url ? zemdouble::bytesOf(url, std::strlen(url)) : std::vector<uint8_t>();
    c.handle = c.result = zemdouble::nextResult(c.function, 1);
    record().push_back(c);
    return c.result;
}

int32_t zem_close_device(int32_t *handle)
{
    zemdouble::pass(__func__);
    Call c;
    c.function = "zem_close_device";
    c.handle = handle ? *handle : -1;
    c.result = zemdouble::nextResult(c.function, 0);
    if (handle)
        *handle = zemdouble::script().closeLeaves;
    record().push_back(c);
    return c.result;
}

int32_t zem_get_measurement(
    int32_t handle, const get_measurement_request *request, get_measurement_response *response)
{
    return command(__func__, handle, request, response);
}

int32_t zem_get_identity_information(int32_t handle, get_identity_information_response *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_start_autocalibration(int32_t handle, start_autocalibration_response *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_get_status(int32_t handle, get_status_response *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_get_measurement_settings(int32_t handle, measurement_settings *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_set_measurement_settings(int32_t handle, const measurement_settings *request)
{
    return command<measurement_settings, void>(__func__, handle, request, nullptr);
}

int32_t zem_start_measurement(int32_t handle)
{
    return command<void, void>(__func__, handle, nullptr, nullptr);
}

int32_t zem_check_measurement_status(int32_t handle, check_measurement_status_response *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_get_calibration_settings(int32_t handle, calibration_settings *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

int32_t zem_set_calibration_settings(int32_t handle, const calibration_settings *request)
{
    return command<calibration_settings, void>(__func__, handle, request, nullptr);
}

int32_t zem_get_measurement_raw(int32_t handle, const get_measurement_raw_request *request,
    get_measurement_raw_response *response)
{
    return command(__func__, handle, request, response);
}

int32_t zem_reset_events(
    int32_t handle, const reset_events_request *request, reset_events_response *response)
{
    return command(__func__, handle, request, response);
}

int32_t zem_get_profile(int32_t handle, char **text, void *(*alloc)(size_t))
{
    zemdouble::allocator() = alloc;
    auto r = zemdouble::script().responses.find(__func__);
    if (text && alloc && r != zemdouble::script().responses.end()) {
        const std::vector<uint8_t> &bytes = r->second;
        if (char *p = static_cast<char *>(alloc(bytes.size() + 1))) {
            std::memcpy(p, bytes.data(), bytes.size());
            p[bytes.size()] = '\0';
            *text = p;
        }
    }
    return command<void, void>(__func__, handle, nullptr, nullptr);
}

int32_t zem_set_profile(int32_t handle, const char *text)
{
    zemdouble::pass(__func__);
    Call c;
    c.function = __func__;
    c.handle = handle;
    c.request = text ? zemdouble::bytesOf(text, std::strlen(text)) : std::vector<uint8_t>();
    c.result = zemdouble::nextResult(c.function, 0);
    record().push_back(c);
    return c.result;
}

int32_t zem_get_device_rank(int32_t handle, device_rank *response)
{
    return command<void>(__func__, handle, nullptr, response);
}

// Our library's optional call; exported for dlsym (see CMakeLists.txt).
int32_t zem_virtual_probe_pin(int32_t handle, int32_t pin)
{
    if (!zemdouble::script().probeOffered)
        return ZEM_RESULT_NOT_IMPLEMENTED;
    return command<int32_t, void>(__func__, handle, &pin, nullptr);
}

} // extern "C"
