#include "connection.h"

#include "recording.h"
#include "zem.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include <dlfcn.h>

namespace zem {

namespace {

using calls::Call;
using calls::Operation;
using SteadyClock = std::chrono::steady_clock;

template <class Rq, class Rs, auto F>
std::int32_t callAs(std::int32_t h, const void *rq, void *rs)
{
    if constexpr (std::is_void_v<Rq> && std::is_void_v<Rs>)
        return F(h);
    else if constexpr (std::is_void_v<Rq>)
        return F(h, static_cast<Rs *>(rs));
    else if constexpr (std::is_void_v<Rs>)
        return F(h, static_cast<const Rq *>(rq));
    else
        return F(h, static_cast<const Rq *>(rq), static_cast<Rs *>(rs));
}

using CommandFunction = std::int32_t (*)(std::int32_t, const void *, void *);

struct Entry
{
    const char *name;
    CommandFunction function;
};

// In the order of kCommands; checked below.
constexpr Entry kFunctions[] = {
    { "get_measurement",
        &callAs<get_measurement_request, get_measurement_response, &zem_get_measurement> },
    { "get_identity_information",
        &callAs<void, get_identity_information_response, &zem_get_identity_information> },
    { "start_autocalibration",
        &callAs<void, start_autocalibration_response, &zem_start_autocalibration> },
    { "get_status", &callAs<void, get_status_response, &zem_get_status> },
    { "get_measurement_settings",
        &callAs<void, measurement_settings, &zem_get_measurement_settings> },
    { "set_measurement_settings",
        &callAs<measurement_settings, void, &zem_set_measurement_settings> },
    { "start_measurement", &callAs<void, void, &zem_start_measurement> },
    { "check_measurement_status",
        &callAs<void, check_measurement_status_response, &zem_check_measurement_status> },
    { "get_calibration_settings",
        &callAs<void, calibration_settings, &zem_get_calibration_settings> },
    { "set_calibration_settings",
        &callAs<calibration_settings, void, &zem_set_calibration_settings> },
    { "get_measurement_raw",
        &callAs<get_measurement_raw_request, get_measurement_raw_response,
            &zem_get_measurement_raw> },
    { "reset_events", &callAs<reset_events_request, reset_events_response, &zem_reset_events> },
};

constexpr bool sameName(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

constexpr bool matchesCommandTable()
{
    if (std::size(kFunctions) != kCommandCount)
        return false;
    for (std::size_t i = 0; i < kCommandCount; ++i)
        if (!sameName(kFunctions[i].name, kCommands[i].name))
            return false;
    return true;
}
static_assert(matchesCommandTable(), "one library function per command, in table order");

std::int64_t wallMsNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Times one call and fills in what every record has.
class Timing
{
public:
    Timing(Call &call, Operation operation, std::int32_t handle, calls::Origin origin)
        : m_call(call)
    {
        call.operation = operation;
        call.command = calls::kNoCommand;
        call.handle = handle;
        call.handleAfter = handle;
        call.origin = origin;
        call.wallMs = wallMsNow();
        m_start = SteadyClock::now();
    }
    ~Timing()
    {
        m_call.durationNs
            = std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - m_start)
                  .count();
    }

private:
    Call &m_call;
    SteadyClock::time_point m_start;
};

} // namespace

std::int32_t dispatch(const Command &command, std::int32_t handle, const void *request,
    void *response)
{
    const std::size_t i = std::size_t(&command - kCommands);
    if (i < kCommandCount)
        return kFunctions[i].function(handle, request, response);
    for (const Entry &e : kFunctions)
        if (sameName(e.name, command.name))
            return e.function(handle, request, response);
    return ZEM_RESULT_NOT_IMPLEMENTED;
}

Connection::~Connection()
{
    if (m_opened)
        close();
}

void Connection::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (m_listener)
        m_listener->stateChanged(state);
}

void Connection::finish(Call &call)
{
    if (calls::CallSink *sink = m_sink ? m_sink : calls::sink())
        sink->record(call);
}

void Connection::applyResult(std::int32_t result)
{
    if (result == ZEM_DEVICE_UNDEFINED) {
        // The device must be connected again.
        close();
        setState(State::Lost);
    } else if (result == ZEM_RESULT_NODEVICE) {
        setState(State::Lost);
    } else if (m_state == State::Lost && m_handle != -1) {
        setState(State::Open); // it answered again
    }
}

std::int32_t Connection::open(const std::string &url)
{
    const auto guard = lock();
    Call &c = m_scratch;
    std::int32_t handle;
    {
        Timing timing(c, Operation::Open, -1, calls::scopedOrigin().value_or(m_defaultOrigin));
        handle = zem_open_device(url.c_str());
    }
    c.handleAfter = handle;
    c.result = handle == -1 ? ZEM_DEVICE_UNDEFINED : ZEM_RESULT_OK;
    m_openError.clear();
    if (handle == -1) {
        // Looked up rather than linked: a vendor's library lacks it.
        using Reason = const char *(*)();
        static const auto reason
            = reinterpret_cast<Reason>(::dlsym(RTLD_DEFAULT, "zem_virtual_open_error"));
        if (const char *why = reason ? reason() : nullptr)
            m_openError = why;
    }
    c.setBytes(url.data(), url.size(), nullptr, 0);
    m_handle = handle;
    m_opened = handle != -1;
    finish(c);
    setState(handle == -1 ? State::Closed : State::Open);
    return handle;
}

void Connection::close()
{
    const auto guard = lock();
    Call &c = m_scratch;
    std::int32_t handle = m_handle;
    {
        Timing timing(c, Operation::Close, handle, calls::scopedOrigin().value_or(m_defaultOrigin));
        c.result = zem_close_device(&handle);
    }
    c.handleAfter = handle;
    c.setBytes(nullptr, 0, nullptr, 0);
    // The library decides what the handle holds afterwards (-1 for ours);
    // the next close passes it back as it is.
    m_handle = handle;
    m_opened = false;
    finish(c);
    setState(State::Closed);
}

std::int32_t Connection::call(const Command &command, const void *request, void *response)
{
    const auto guard = lock();
    Call &c = m_scratch;
    const void *rq = command.request ? request : nullptr;
    void *rs = command.response ? response : nullptr;
    std::int32_t result;
    {
        Timing timing(
            c, Operation::Command, m_handle, calls::scopedOrigin().value_or(m_defaultOrigin));
        result = dispatch(command, m_handle, rq, rs);
    }
    const std::size_t i = std::size_t(&command - kCommands);
    c.command = i < kCommandCount ? std::uint8_t(i) : calls::commandByName(command.name);
    c.result = result;
    c.setBytes(rq, rq ? command.request->size : 0, rs, rs ? command.response->size : 0);
    finish(c);
    applyResult(result);
    return result;
}

std::int32_t Connection::call(std::string_view name, const void *request, void *response)
{
    return call(*findCommand(name), request, response);
}

std::int32_t Connection::getProfile(std::string &text)
{
    const auto guard = lock();
    Call &c = m_scratch;
    char *raw = nullptr;
    std::int32_t result;
    {
        Timing timing(
            c, Operation::GetProfile, m_handle, calls::scopedOrigin().value_or(m_defaultOrigin));
        result = zem_get_profile(m_handle, &raw, &std::malloc);
    }
    const std::unique_ptr<char, decltype(&std::free)> owned(raw, &std::free);
    text = raw ? std::string(raw) : std::string();
    c.result = result;
    c.setBytes(nullptr, 0, raw ? text.data() : nullptr, text.size());
    finish(c);
    applyResult(result);
    return result;
}

std::int32_t Connection::setProfile(const char *text)
{
    const auto guard = lock();
    Call &c = m_scratch;
    std::int32_t result;
    {
        Timing timing(
            c, Operation::SetProfile, m_handle, calls::scopedOrigin().value_or(m_defaultOrigin));
        result = zem_set_profile(m_handle, text);
    }
    c.result = result;
    c.setBytes(text, text ? std::strlen(text) : 0, nullptr, 0);
    finish(c);
    applyResult(result);
    return result;
}

namespace {

using PlaceVirtualProbe = std::int32_t (*)(std::int32_t, std::int32_t);

// Looked up rather than linked: a vendor's library lacks it.
PlaceVirtualProbe virtualProbe()
{
    static const auto place
        = reinterpret_cast<PlaceVirtualProbe>(::dlsym(RTLD_DEFAULT, "zem_virtual_probe_pin"));
    return place;
}

} // namespace

bool Connection::hasVirtualProbe()
{
    return virtualProbe() != nullptr;
}

std::optional<std::int32_t> Connection::placeVirtualProbe(std::int32_t pin)
{
    const PlaceVirtualProbe place = virtualProbe();
    if (!place)
        return std::nullopt;
    const auto guard = lock();
    const std::int32_t result = place(m_handle, pin);
    if (result == ZEM_RESULT_NOT_IMPLEMENTED)
        return std::nullopt;
    applyResult(result);
    return result;
}

} // namespace zem
