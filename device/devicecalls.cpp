#include "devicecalls.h"

#include "records.h"
#include "zem.h"

#include <QCoreApplication>

#include <iterator>

Q_LOGGING_CATEGORY(lcZemCalls, "zem.calls", QtWarningMsg)

QString resultText(std::int32_t result)
{
    static const char *const names[] = {
        QT_TRANSLATE_NOOP("ResultText", "result_ok 0"),
        QT_TRANSLATE_NOOP("ResultText", "device_undefined (-1)"),
        QT_TRANSLATE_NOOP("ResultText", "result_not_implemented (-2)"),
        QT_TRANSLATE_NOOP("ResultText", "result_value_error (-3)"),
        QT_TRANSLATE_NOOP("ResultText", "result_nodevice (-4)"),
        QT_TRANSLATE_NOOP("ResultText", "result_timeout (-5)"),
    };
    // Widened first: the magnitude of INT32_MIN does not fit in 32 bits.
    const qint64 magnitude = qAbs(qint64(result));
    if (magnitude < qint64(std::size(names)))
        return QCoreApplication::translate("ResultText", names[magnitude]);
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
    const std::int32_t result = c.call(handle, request, response);
    traceCall(c.operation, handle,
        QByteArrayView(static_cast<const char *>(request), request && c.request ? c.request->size : 0),
        result);
    return result;
}

std::int32_t openDevice(const QByteArray &url)
{
    const std::int32_t handle = zem_open_device(url.constData());
    qCDebug(lcZemCalls).nospace() << "zem_open_device(" << url << ") -> " << handle;
    return handle;
}

void closeDevice(std::int32_t &handle)
{
    const std::int32_t before = handle;
    const std::int32_t result = zem_close_device(&handle);
    qCDebug(lcZemCalls).nospace() << "zem_close_device(&" << before << ") -> " << result
                                  << ", handle " << handle;
}

bool closeIfUndefined(std::int32_t &handle, std::int32_t result)
{
    if (result != ZEM_DEVICE_UNDEFINED)
        return false;
    closeDevice(handle);
    return true;
}
