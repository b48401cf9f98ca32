#include "devicecalls.h"

#include "recording.h"
#include "records.h"
#include "zem.h"

#include <QCoreApplication>

#include <chrono>
#include <cstring>

namespace {

using zem::calls::Call;
using zem::calls::Operation;
using SteadyClock = std::chrono::steady_clock;

// Times one library call for the recorder; reads no clock when nothing records.
class CallTimer
{
public:
    CallTimer()
        : sink(zem::calls::sink())
    {
        if (sink) {
            wall = std::chrono::system_clock::now();
            start = SteadyClock::now();
        }
    }

    zem::calls::CallSink *const sink;

    // Hands the call to the sink; one scratch call is reused so that recording
    // does not allocate once its buffer has grown.
    void record(Operation operation, std::uint8_t command, std::int32_t handle,
        std::int32_t handleAfter, std::int32_t result, const void *request, std::size_t requestSize,
        const void *response, std::size_t responseSize)
    {
        const SteadyClock::time_point end = SteadyClock::now();
        static Call call;
        call.wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch())
                          .count();
        call.durationNs = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
        call.operation = operation;
        call.command = command;
        call.handle = handle;
        call.handleAfter = handleAfter;
        call.result = result;
        call.origin = zem::calls::currentOrigin();
        call.setBytes(request, requestSize, response, responseSize);
        sink->record(call);
    }

private:
    std::chrono::system_clock::time_point wall;
    SteadyClock::time_point start;
};

} // namespace

Q_LOGGING_CATEGORY(lcZemCalls, "zem.calls", QtWarningMsg)

QString resultText(std::int32_t result)
{
    // Widened first: the magnitude of INT32_MIN does not fit in 32 bits.
    if (const char *name = zem::calls::resultNameOf(qAbs(qint64(result))))
        return QCoreApplication::translate("ResultText", name);
    return QString::number(result);
}

void traceCall(
    const char *operation, std::int32_t handle, QByteArrayView request, std::int32_t result)
{
    qCDebug(lcZemCalls).nospace().noquote()
        << operation << "(" << handle << ", [" << request.toByteArray().toHex(' ') << "]) -> "
        << result;
}

std::int32_t callCommand(
    const zem::Command &c, std::int32_t handle, const void *request, void *response)
{
    CallTimer timer;
    const std::int32_t result = c.call(handle, request, response);
    const std::size_t requestSize = request && c.request ? c.request->size : 0;
    traceCall(c.operation, handle,
        QByteArrayView(static_cast<const char *>(request), qsizetype(requestSize)), result);
    if (timer.sink) {
        const bool inTable = &c >= zem::kCommands && &c < zem::kCommands + zem::kCommandCount;
        timer.record(Operation::Command,
            inTable ? std::uint8_t(&c - zem::kCommands) : zem::calls::commandByName(c.name), handle,
            handle, result, c.request ? request : nullptr, requestSize,
            c.response ? response : nullptr, c.response && response ? c.response->size : 0);
    }
    return result;
}

std::int32_t openDevice(const QByteArray &url)
{
    CallTimer timer;
    const std::int32_t handle = zem_open_device(url.constData());
    qCDebug(lcZemCalls).nospace() << "zem_open_device(" << url << ") -> " << handle;
    if (timer.sink)
        timer.record(Operation::Open, zem::calls::kNoCommand, -1, handle,
            handle == -1 ? ZEM_DEVICE_UNDEFINED : ZEM_RESULT_OK, url.constData(),
            std::size_t(url.size()), nullptr, 0);
    return handle;
}

void closeDevice(std::int32_t &handle)
{
    CallTimer timer;
    const std::int32_t before = handle;
    const std::int32_t result = zem_close_device(&handle);
    qCDebug(lcZemCalls).nospace() << "zem_close_device(&" << before << ") -> " << result
                                  << ", handle " << handle;
    if (timer.sink)
        timer.record(Operation::Close, zem::calls::kNoCommand, before, handle, result, nullptr, 0,
            nullptr, 0);
}

bool closeIfUndefined(std::int32_t &handle, std::int32_t result)
{
    if (result != ZEM_DEVICE_UNDEFINED)
        return false;
    closeDevice(handle);
    return true;
}

std::int32_t getProfile(std::int32_t handle, char **text, void *(*alloc)(std::size_t))
{
    CallTimer timer;
    const std::int32_t result = zem_get_profile(handle, text, alloc);
    traceCall("zem_get_profile", handle, {}, result);
    if (timer.sink) {
        const char *t = text ? *text : nullptr;
        timer.record(Operation::GetProfile, zem::calls::kNoCommand, handle, handle, result, nullptr,
            0, t, t ? std::strlen(t) : 0);
    }
    return result;
}

std::int32_t setProfile(std::int32_t handle, const char *text)
{
    CallTimer timer;
    const std::int32_t result = zem_set_profile(handle, text);
    traceCall("zem_set_profile", handle, {}, result);
    if (timer.sink)
        timer.record(Operation::SetProfile, zem::calls::kNoCommand, handle, handle, result, text,
            text ? std::strlen(text) : 0, nullptr, 0);
    return result;
}
