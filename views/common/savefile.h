// The one way a dock saves what it shows: the context's file chooser asks for
// the name (and the type picked among the question's filters), `write` makes
// the file's bytes and writes them through the atomic writer (returning why it
// could not, empty when it worked), and a failure is shown in a warning box
// over the dock, which does not wait for it. True when a file was written.
#pragma once

#include "filechooser.h"

#include <functional>

class DockContext;

bool saveWithDialog(DockContext &context, const FileChooser::Question &question,
    const QString &failureTitle,
    const std::function<QString(const QString &file, const QString &filter)> &write);
