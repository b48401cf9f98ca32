// The atomic writer for Qt callers: names and bytes as Qt holds them, the
// reason of a failure as text for a message ("" when it worked).
#pragma once

#include "atomicfile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace zem::files {

inline QString writeFile(const QString &path, const QByteArray &bytes)
{
    AtomicFile file(QFile::encodeName(path).toStdString());
    if (file.open().empty()) {
        file.write(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        if (file.commit().empty())
            return {};
    }
    return QString::fromLocal8Bit(file.reason().c_str());
}

} // namespace zem::files
