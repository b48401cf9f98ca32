// Device profiles: the device's whole configuration moved between the library
// and a file as opaque bytes.
#pragma once

#include "filechooser.h"
#include "logline.h"

#include <QByteArray>
#include <QString>

namespace zem {
class Connection;
}

// The questions the profile buttons ask.
FileChooser::Question saveProfileQuestion();
FileChooser::Question openProfileQuestion();

// Files larger than this cannot be profiles; they are refused before reading.
inline constexpr qint64 kMaxProfileFileSize = qint64(64) << 20;

// Reads the profile from the device into fileName. The file is replaced only
// when the library delivered a profile (0 or -3) and all of it was written;
// otherwise it keeps its old content. Returns the log lines.
LogLines saveProfile(zem::Connection &device, const QString &fileName);

// Hands the content of fileName to the device. `buffer` receives the text and
// keeps it until the next load. Returns the log lines.
LogLines loadProfile(zem::Connection &device, const QString &fileName, QByteArray &buffer);
