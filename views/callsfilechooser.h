// Where the user picks call files. The dock holds one; tests give it names
// without showing a dialog.
#pragma once

#include <QString>

class QWidget;

class CallsFileChooser
{
public:
    virtual ~CallsFileChooser() = default;
    // An empty name means the user cancelled.
    virtual QString saveFileName(QWidget *parent);
    virtual QString openFileName(QWidget *parent);
};
