#include "device.h"

#include "zem.h"

#include <cstdlib>
#include <memory>

namespace zemctl {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

} // namespace

bool Device::open(const std::string &url)
{
    close();
    device = zem_open_device(url.c_str());
    return device != -1;
}

void Device::close()
{
    if (device != -1)
        zem_close_device(&device);
    device = -1;
}

std::int32_t Device::call(const zem::Command &c, const void *request, void *response)
{
    CallRecord r;
    r.operation = c.operation;
    r.command = c.name;
    r.requestRecord = c.request;
    r.request = c.request ? request : nullptr;
    r.responseRecord = c.response;
    r.response = c.response ? response : nullptr;
    r.handle = device;
    r.started = std::chrono::system_clock::now();
    const auto start = Clock::now();
    r.result = c.call(device, r.request, c.response ? response : nullptr);
    r.duration = since(start);
    report(r);
    return r.result;
}

std::int32_t Device::getProfile(std::string &text)
{
    CallRecord r;
    r.operation = "zem_get_profile";
    r.command = "get_profile";
    r.handle = device;
    r.started = std::chrono::system_clock::now();
    const auto start = Clock::now();
    char *raw = nullptr;
    r.result = zem_get_profile(device, &raw, &std::malloc);
    const std::unique_ptr<char, decltype(&std::free)> owned(raw, &std::free);
    r.duration = since(start);
    text = raw ? std::string(raw) : std::string();
    report(r);
    return r.result;
}

std::int32_t Device::setProfile(const char *text)
{
    CallRecord r;
    r.operation = "zem_set_profile";
    r.command = "set_profile";
    r.handle = device;
    r.started = std::chrono::system_clock::now();
    const auto start = Clock::now();
    r.result = zem_set_profile(device, text);
    r.duration = since(start);
    report(r);
    return r.result;
}

void Device::report(const CallRecord &record)
{
    if (observer)
        observer(record);
    if (record.result == ZEM_DEVICE_UNDEFINED && record.handle == device)
        close();
}

std::string resultName(std::int32_t result)
{
    static const char *const names[] = {
        "result_ok 0",
        "device_undefined (-1)",
        "result_not_implemented (-2)",
        "result_value_error (-3)",
        "result_nodevice (-4)",
        "result_timeout (-5)",
    };
    const std::int64_t magnitude = std::llabs(std::int64_t(result));
    if (magnitude < std::int64_t(std::size(names)))
        return names[magnitude];
    return std::to_string(result);
}

const zem::Command *findCommand(std::string_view name)
{
    for (const zem::Command &c : zem::kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

} // namespace zemctl
