#include "profiles.h"

#include "devicecalls.h"
#include "zem.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QSaveFile>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Profiles", text);
}

const char *const kFilter = QT_TRANSLATE_NOOP("Profiles", "JSON files (*.json);; All files (*)");

} // namespace

QString ProfileFileChooser::saveFileName()
{
    return QFileDialog::getSaveFileName(
        nullptr, tr("Save profile..."), QStringLiteral("zem.json"), tr(kFilter));
}

QString ProfileFileChooser::openFileName()
{
    return QFileDialog::getOpenFileName(
        nullptr, tr("Open profile..."), QStringLiteral(".json"), tr(kFilter));
}

QStringList saveProfile(std::int32_t &device, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return { tr("Error opening file"), tr("Abort") };

    char *raw = nullptr;
    const std::int32_t handle = device;
    const std::int32_t result = getProfile(handle, &raw, &std::malloc);
    const std::unique_ptr<char, decltype(&std::free)> text(raw, &std::free);
    closeIfUndefined(device, result);

    QStringList log { tr("get_profile returned %1").arg(result) };
    if (result != ZEM_RESULT_OK && result != ZEM_RESULT_VALUE_ERROR) {
        file.cancelWriting(); // the chosen file keeps what it had
        return log << tr("Abort");
    }
    const qint64 length = text ? qint64(std::strlen(text.get())) : 0;
    if (file.write(text.get(), length) != length || !file.commit())
        return log << tr("File error:") << file.errorString() << tr("Abort");
    return log << tr("Done");
}

QStringList loadProfile(std::int32_t &device, const QString &fileName, QByteArray &buffer)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return { tr("Error opening file"), tr("Abort") };
    // Capped read: a device file or a pipe reports no size and may never end.
    const qint64 size = file.size();
    QByteArray data;
    while (size <= kMaxProfileFileSize && data.size() <= kMaxProfileFileSize) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty())
            break;
        data += chunk;
    }
    if (file.error() != QFileDevice::NoError)
        return { tr("File error:"), file.errorString(), tr("Abort") };
    if (size > kMaxProfileFileSize || data.size() > kMaxProfileFileSize)
        return { tr("File error:"),
            tr("too large for a profile (more than %1 bytes)").arg(kMaxProfileFileSize),
            tr("Abort") };
    file.close();

    // The library is handed the file's bytes, zero-terminated (QByteArray
    // always is); the previous text is released only now.
    buffer = std::move(data);
    const std::int32_t handle = device;
    const std::int32_t result = setProfile(handle, buffer.constData());
    closeIfUndefined(device, result);
    return { tr("set_profile returned %1").arg(result),
        result == ZEM_RESULT_OK ? tr("Done") : tr("Abort") };
}
