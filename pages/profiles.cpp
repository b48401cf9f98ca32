#include "profiles.h"

#include "atomicfile.h"
#include "connection.h"
#include "zem.h"

#include <QCoreApplication>
#include <QFile>


namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Profiles", text);
}

const char *const kFilter = QT_TRANSLATE_NOOP("Profiles", "JSON files (*.json);; All files (*)");

} // namespace

FileChooser::Question saveProfileQuestion()
{
    return { nullptr, tr("Save profile..."), QStringLiteral("zem.json"), tr(kFilter), true };
}

FileChooser::Question openProfileQuestion()
{
    return { nullptr, tr("Open profile..."), QStringLiteral(".json"), tr(kFilter), true };
}

LogLines saveProfile(zem::Connection &device, const QString &fileName)
{
    const LogLine abort { tr("Abort"), LogLevel::Failure };
    zem::files::AtomicFile file(QFile::encodeName(fileName).toStdString());
    if (!file.open().empty())
        return { { tr("Error opening file"), LogLevel::Failure }, abort };

    std::string text;
    const std::int32_t result = device.getProfile(text);
    LogLines log { { tr("get_profile returned %1").arg(result), levelOf(result) } };
    if (result != ZEM_RESULT_OK && result != ZEM_RESULT_VALUE_ERROR) {
        file.cancel(); // the chosen file keeps what it had
        return log << abort;
    }
    file.write(text);
    if (!file.commit().empty())
        return log << LogLine { tr("File error:"), LogLevel::Failure }
                   << LogLine { QString::fromLocal8Bit(file.reason().c_str()), LogLevel::Failure }
                   << abort;
    return log << LogLine { tr("Done") };
}

LogLines loadProfile(zem::Connection &device, const QString &fileName, QByteArray &buffer)
{
    const LogLine abort { tr("Abort"), LogLevel::Failure };
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return { { tr("Error opening file"), LogLevel::Failure }, abort };
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
        return { { tr("File error:"), LogLevel::Failure }, { file.errorString(), LogLevel::Failure },
            abort };
    if (size > kMaxProfileFileSize || data.size() > kMaxProfileFileSize)
        return { { tr("File error:"), LogLevel::Failure },
            { tr("too large for a profile (more than %1 bytes)").arg(kMaxProfileFileSize),
                LogLevel::Failure },
            abort };
    file.close();

    // The library is handed the file's bytes, zero-terminated (QByteArray
    // always is); the previous text is released only now.
    buffer = std::move(data);
    const std::int32_t result = device.setProfile(buffer.constData());
    return { { tr("set_profile returned %1").arg(result), levelOf(result) },
        result == ZEM_RESULT_OK ? LogLine { tr("Done") } : abort };
}
