#include "device.h"

#include "zem.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace zemctl {

namespace {

using Clock = std::chrono::steady_clock;
using zem::calls::Call;
using zem::calls::Operation;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t nsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

// Starts a call record; the caller fills in what the call did.
Call &begin(Call &c, Operation operation, std::int32_t handle)
{
    c.operation = operation;
    c.command = zem::calls::kNoCommand;
    c.origin = zem::calls::Origin::Cli;
    c.handle = handle;
    c.handleAfter = handle;
    c.wallMs = nowMs();
    return c;
}

} // namespace

bool Device::open(const std::string &url)
{
    close();
    Call &c = begin(scratch, Operation::Open, -1);
    const auto start = Clock::now();
    device = zem_open_device(url.c_str());
    c.durationNs = nsSince(start);
    c.handleAfter = device;
    c.result = device == -1 ? -1 : 0;
    c.setBytes(url.data(), url.size(), nullptr, 0);
    if (observer)
        observer(c);
    return device != -1;
}

void Device::close()
{
    if (device == -1)
        return;
    Call &c = begin(scratch, Operation::Close, device);
    const auto start = Clock::now();
    c.result = zem_close_device(&device);
    c.durationNs = nsSince(start);
    c.handleAfter = device;
    c.setBytes(nullptr, 0, nullptr, 0);
    device = -1;
    if (observer)
        observer(c);
}

std::int32_t Device::call(const zem::Command &command, const void *request, void *response)
{
    Call &c = begin(scratch, Operation::Command, device);
    c.command = zem::calls::commandByName(command.name);
    const void *rq = command.request ? request : nullptr;
    void *rs = command.response ? response : nullptr;
    const auto start = Clock::now();
    c.result = command.call(device, rq, rs);
    c.durationNs = nsSince(start);
    c.setBytes(rq, command.request ? command.request->size : 0, rs,
        command.response ? command.response->size : 0);
    report(c);
    return c.result;
}

std::int32_t Device::getProfile(std::string &text)
{
    Call &c = begin(scratch, Operation::GetProfile, device);
    const auto start = Clock::now();
    char *raw = nullptr;
    c.result = zem_get_profile(device, &raw, &std::malloc);
    const std::unique_ptr<char, decltype(&std::free)> owned(raw, &std::free);
    c.durationNs = nsSince(start);
    text = raw ? std::string(raw) : std::string();
    c.setBytes(nullptr, 0, raw ? text.data() : nullptr, text.size());
    report(c);
    return c.result;
}

std::int32_t Device::setProfile(const char *text)
{
    Call &c = begin(scratch, Operation::SetProfile, device);
    const auto start = Clock::now();
    c.result = zem_set_profile(device, text);
    c.durationNs = nsSince(start);
    c.setBytes(text, std::strlen(text), nullptr, 0);
    report(c);
    return c.result;
}

void Device::report(const zem::calls::Call &call)
{
    if (observer)
        observer(call);
    // A device that reports itself undefined must be opened again.
    if (call.result == ZEM_DEVICE_UNDEFINED && call.operation != Operation::Open
        && call.handle == device && device != -1)
        close();
}

const zem::Command *findCommand(std::string_view name)
{
    return zem::findCommand(name);
}

} // namespace zemctl
