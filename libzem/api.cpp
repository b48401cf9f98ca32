// The C entry points: handle registry, injected faults, argument checks. No
// exception leaves this file; every failure becomes a result code.
#include "instrument.h"
#include "options.h"
#include "zem.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zemsim {
namespace {

struct Device
{
    explicit Device(const Options &o)
        : options(o)
        , instrument(o)
    {
    }

    std::mutex mutex; // one call at a time per device
    Options options;
    Instrument instrument;
    std::uint64_t calls = 0;
    std::map<std::string, std::uint64_t, std::less<>> callsByOperation;
    bool lost = false;
};

class Registry
{
public:
    std::int32_t add(std::shared_ptr<Device> device)
    {
        std::lock_guard lock(mutex_);
        if (next_ == INT32_MAX)
            return -1; // handles are never reused, so a stale one cannot reach a new device
        const std::int32_t handle = next_++;
        devices_.emplace(handle, std::move(device));
        return handle;
    }
    std::shared_ptr<Device> find(std::int32_t handle)
    {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(handle);
        return it == devices_.end() ? nullptr : it->second;
    }
    bool remove(std::int32_t handle)
    {
        std::lock_guard lock(mutex_);
        return devices_.erase(handle) == 1;
    }

private:
    std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<Device>> devices_;
    std::int32_t next_ = 1;
};

Registry &registry()
{
    static Registry r;
    return r;
}

// The fault a URL asked for, if this call is to suffer one.
bool injectedFault(Device &d, std::string_view operation, std::int32_t &code)
{
    if (d.lost) {
        code = ZEM_RESULT_NODEVICE;
        return true;
    }
    ++d.calls;
    if (d.options.faults.loseAfter && d.calls > d.options.faults.loseAfter) {
        d.lost = true;
        code = ZEM_RESULT_NODEVICE;
        return true;
    }
    const auto f = d.options.faults.fail.find(operation);
    if (f != d.options.faults.fail.end()) {
        const std::uint64_t n = ++d.callsByOperation[std::string(operation)];
        if (n >= f->second.fromCall) {
            code = f->second.code;
            return true;
        }
    }
    return false;
}

// Runs one device operation: unknown handle -1, null records -3, injected
// faults as asked, anything unexpected -1.
template <class F, class... Ptrs>
std::int32_t call(std::string_view operation, std::int32_t handle, F &&f, Ptrs... records) noexcept
{
    try {
        const std::shared_ptr<Device> d = registry().find(handle);
        if (!d)
            return ZEM_DEVICE_UNDEFINED;
        std::lock_guard lock(d->mutex);
        if (d->options.faults.delayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(d->options.faults.delayMs));
        std::int32_t code = 0;
        if (injectedFault(*d, operation, code))
            return code;
        if (((records == nullptr) || ...))
            return ZEM_RESULT_VALUE_ERROR;
        return f(d->instrument);
    } catch (...) {
        return ZEM_DEVICE_UNDEFINED;
    }
}

} // namespace
} // namespace zemsim

using zemsim::call;
using zemsim::Instrument;

extern "C" {

// Why the calling thread's last open was refused; "" after one that worked.
static thread_local std::string openError;

ZEM_API int32_t zem_open_device(const char *url)
{
    try {
        openError.clear();
        if (!url) {
            openError = "no URL";
            return -1;
        }
        const std::size_t length = strnlen(url, zemsim::kMaxUrlLength + 1);
        const auto options = zemsim::parseUrl(std::string_view(url, length), &openError);
        if (!options)
            return -1;
        const auto device = std::make_shared<zemsim::Device>(*options);
        if (options->gantryPort) {
            auto gantry
                = zemsim::GantryLink::open(options->gantryHost, options->gantryPort, openError);
            if (!gantry)
                return -1;
            device->instrument.attachGantry(std::move(gantry));
        }
        const std::int32_t handle = zemsim::registry().add(device);
        if (handle == -1)
            openError = "no handles left";
        return handle;
    } catch (...) {
        openError = "out of memory";
        return -1;
    }
}

ZEM_API const char *zem_virtual_open_error(void)
{
    return openError.c_str();
}

// Moving the probe is the hand's work, not the instrument's: no delay, no
// injected fault and no lost device keep it from happening, and it counts
// as no device call.
ZEM_API int32_t zem_virtual_probe_pin(int32_t handle, int32_t pin)
{
    try {
        const std::shared_ptr<zemsim::Device> d = zemsim::registry().find(handle);
        if (!d)
            return ZEM_DEVICE_UNDEFINED;
        std::lock_guard lock(d->mutex);
        return d->instrument.placeProbe(pin);
    } catch (...) {
        return ZEM_DEVICE_UNDEFINED;
    }
}

// A test's hold on the device's time, like the hand's on the probe: no
// delay, fault or lost device keeps it from happening.
ZEM_API int32_t zem_virtual_advance_clock(int32_t handle, int32_t ms)
{
    try {
        const std::shared_ptr<zemsim::Device> d = zemsim::registry().find(handle);
        if (!d)
            return ZEM_DEVICE_UNDEFINED;
        std::lock_guard lock(d->mutex);
        return d->instrument.advanceClock(ms);
    } catch (...) {
        return ZEM_DEVICE_UNDEFINED;
    }
}

ZEM_API int32_t zem_close_device(int32_t *handle)
{
    if (!handle)
        return ZEM_RESULT_VALUE_ERROR;
    try {
        const bool known = *handle != -1 && zemsim::registry().remove(*handle);
        *handle = -1;
        return known ? ZEM_RESULT_OK : ZEM_DEVICE_UNDEFINED;
    } catch (...) {
        *handle = -1;
        return ZEM_DEVICE_UNDEFINED;
    }
}

ZEM_API int32_t zem_get_measurement(
    int32_t h, const get_measurement_request *rq, get_measurement_response *rs)
{
    return call(
        "get_measurement", h, [&](Instrument &i) { return i.getMeasurement(*rq, *rs); }, rq, rs);
}

ZEM_API int32_t zem_get_identity_information(int32_t h, get_identity_information_response *rs)
{
    return call(
        "get_identity_information", h, [&](Instrument &i) { return i.getIdentity(*rs); }, rs);
}

ZEM_API int32_t zem_start_autocalibration(int32_t h, start_autocalibration_response *rs)
{
    return call(
        "start_autocalibration", h, [&](Instrument &i) { return i.startAutocalibration(*rs); }, rs);
}

ZEM_API int32_t zem_get_status(int32_t h, get_status_response *rs)
{
    return call(
        "get_status", h, [&](Instrument &i) { return i.getStatus(*rs); }, rs);
}

ZEM_API int32_t zem_get_measurement_settings(int32_t h, measurement_settings *rs)
{
    return call(
        "get_measurement_settings", h, [&](Instrument &i) { return i.getMeasurementSettings(*rs); },
        rs);
}

ZEM_API int32_t zem_set_measurement_settings(int32_t h, const measurement_settings *rq)
{
    return call(
        "set_measurement_settings", h, [&](Instrument &i) { return i.setMeasurementSettings(*rq); },
        rq);
}

ZEM_API int32_t zem_start_measurement(int32_t h)
{
    return call("start_measurement", h, [&](Instrument &i) { return i.startMeasurement(); });
}

ZEM_API int32_t zem_check_measurement_status(int32_t h, check_measurement_status_response *rs)
{
    return call(
        "check_measurement_status", h, [&](Instrument &i) { return i.checkMeasurementStatus(*rs); },
        rs);
}

ZEM_API int32_t zem_get_calibration_settings(int32_t h, calibration_settings *rs)
{
    return call(
        "get_calibration_settings", h, [&](Instrument &i) { return i.getCalibration(*rs); }, rs);
}

ZEM_API int32_t zem_set_calibration_settings(int32_t h, const calibration_settings *rq)
{
    return call(
        "set_calibration_settings", h, [&](Instrument &i) { return i.setCalibration(*rq); }, rq);
}

ZEM_API int32_t zem_get_measurement_raw(
    int32_t h, const get_measurement_raw_request *rq, get_measurement_raw_response *rs)
{
    return call(
        "get_measurement_raw", h, [&](Instrument &i) { return i.getMeasurementRaw(*rq, *rs); }, rq,
        rs);
}

ZEM_API int32_t zem_reset_events(
    int32_t h, const reset_events_request *rq, reset_events_response *rs)
{
    return call(
        "reset_events", h, [&](Instrument &i) { return i.resetEvents(*rq, *rs); }, rq, rs);
}

ZEM_API int32_t zem_get_device_rank(int32_t h, device_rank *rs)
{
    return call(
        "get_device_rank", h, [&](Instrument &i) { return i.getDeviceRank(*rs); }, rs);
}

ZEM_API int32_t zem_get_profile(int32_t h, char **text, void *(*alloc)(size_t))
{
    return call(
        "get_profile", h,
        [&](Instrument &i) {
            const std::string profile = i.profile();
            auto *buffer = static_cast<char *>(alloc(profile.size() + 1));
            if (!buffer)
                return ZEM_RESULT_VALUE_ERROR;
            std::memcpy(buffer, profile.c_str(), profile.size() + 1);
            *text = buffer;
            return ZEM_RESULT_OK;
        },
        text, alloc);
}

ZEM_API int32_t zem_set_profile(int32_t h, const char *text)
{
    return call(
        "set_profile", h,
        [&](Instrument &i) {
            const std::size_t length = strnlen(text, zemsim::kMaxProfileLength + 1);
            if (length > zemsim::kMaxProfileLength)
                return ZEM_RESULT_VALUE_ERROR;
            return i.setProfile(std::string(text, length));
        },
        text);
}

} // extern "C"
