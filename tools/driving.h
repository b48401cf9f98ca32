// What the screenshot programs do as a user would: click a named button,
// connect the window to a URL.
#pragma once

#include "mainwindow.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>

inline void clickNamed(QWidget *in, const char *name)
{
    in->findChild<QAbstractButton *>(QLatin1String(name))->click();
}

inline void connectTo(MainWindow &window, const char *url)
{
    clickNamed(&window, "dcntButton");
    window.findChild<QLineEdit *>(QStringLiteral("comEdit"))->setText(QLatin1String(url));
    clickNamed(&window, "cntButton");
}
