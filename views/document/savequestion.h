// The one question before a signature with unsaved changes is let go of
// (another file opened, the window closed), for the dock and the bench.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// True to go on: saved by `save`, or the changes discarded; false when the
// user cancelled or saving failed.
bool askToSave(
    QWidget *parent, const QString &title, const QString &text, const std::function<bool()> &save);
