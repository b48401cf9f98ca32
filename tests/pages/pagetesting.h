// What the page tests share: a shown window driven as the user drives it.
#pragma once

#include "base_io_widget.h"
#include "container.h"
#include "iopanel.h"
#include "filechooser.h"
#include "mainwindow.h"
#include "profiles.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

// The log's messages without their "hh:mm:ss: " stamps.
inline QStringList logMessages(const MainWindow &window)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: "));
    const auto *log = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));
    QStringList out;
    for (int row = 0; row < log->count(); ++row)
        out << log->item(row)->text().remove(stamp);
    return out;
}

inline base_io_widget *field(const iopanel &page, bool request, const QString &name)
{
    const int n = request ? page.GetRequestCount() : page.GetResponseCount();
    for (int i = 0; i < n; ++i) {
        base_io_widget *w = request ? page.GetRequest(i) : page.GetResponse(i);
        if (w->GetName() == name)
            return w;
    }
    qFatal("no field %s", qPrintable(name));
}

// A shown window, connected to url by typing it and pressing Connect.
struct Window
{
    MainWindow w;

    explicit Window(const QString &url)
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            qWarning("window not exposed");
        QTest::keyClicks(w.findChild<QLineEdit *>(QStringLiteral("comEdit")), url);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("cntButton")), Qt::LeftButton);
    }

    // Selects the page in the browser, as the user does before typing into it.
    iopanel &open(const QString &name)
    {
        auto *list = w.container()->findChild<QListWidget *>(QStringLiteral("listWidget"));
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).first());
        return *w.page(name);
    }

    void type(const iopanel &page, const QString &name, const QString &text)
    {
        QLineEdit *edit = field(page, true, name)->GetEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // Presses Send; returns what follows "returned " in the line it logged.
    QString send(const iopanel &page)
    {
        QTest::mouseClick(page.sendButton, Qt::LeftButton);
        return logMessages(w).last().section(QStringLiteral(" returned "), 1);
    }
};

// Answers both profile dialogs with one fixed file name.
using FakeChooser = FixedFileChooser;
