// Where the user picks the file a curve is exported to. The dock holds one;
// tests give it names without showing a dialog.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class CurveFileChooser
{
public:
    virtual ~CurveFileChooser() = default;
    // An empty name means the user cancelled. `filters` are the file types
    // offered; `selectedFilter` receives the one picked.
    virtual QString saveFileName(
        QWidget *parent, const QStringList &filters, QString *selectedFilter);
};
