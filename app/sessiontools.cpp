// The window's tools for long sessions: trends of response fields,
// reconnection after a drop, recent URLs and keys. Each is off or empty until
// the user turns to it.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "base_io_widget.h"
#include "container.h"
#include "curvedock.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "floatarroutput.h"
#include "floatoutput.h"
#include "intarroutput.h"
#include "intoutput.h"
#include "iopanel.h"
#include "recording.h"
#include "statusline.h"
#include "records.h"
#include "trenddock.h"

#include <QAction>
#include <QCompleter>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStringListModel>
#include <QTimer>

namespace {

constexpr int kReconnectIntervalMs = 1000;

} // namespace

void MainWindow::setupSessionTools()
{
    trend = new TrendDock(*m_context, this);
    addDockWidget(Qt::RightDockWidgetArea, trend);
    // A tab beside the others however it is shown: stacked under them it
    // would take their height.
    tabifyDockWidget(curve, trend);
    trend->hide();
    curve->raise();
    m_docks << trend;
    // The trend follows what the pages show: the responses of their calls.
    connect(session, &DeviceSession::callMade, trend, [this](const zem::calls::Call &call) {
        using zem::calls::Origin;
        if (call.origin == Origin::Page || call.origin == Origin::Periodic
            || call.origin == Origin::Getter || call.origin == Origin::Replay)
            trend->sample(call);
    });
    connect(session, &DeviceSession::lost, this, &MainWindow::startReconnecting);
    connect(trend, &TrendDock::traceAdded, this, [this] {
        if (trend->isVisible())
            return;
        // Beside the other docks.
        tabifyDockWidget(curve, trend);
        trend->show();
        trend->raise();
    });

    QMenu *device = menuBar()->addMenu(tr("&Device"));
    device->setObjectName(QStringLiteral("deviceMenu"));
    reconnectAction = device->addAction(tr("Reconnect"));
    reconnectAction->setObjectName(QStringLiteral("reconnectAction"));
    reconnectAction->setCheckable(true);
    reconnectAction->setToolTip(
        tr("When the device is lost, open the same URL again once a second until it answers"));
    reconnectTimer = new QTimer(this);
    reconnectTimer->setSingleShot(true);
    connect(reconnectTimer, &QTimer::timeout, this, &MainWindow::reconnectAttempt);
    connect(reconnectAction, &QAction::toggled, this, [this](bool on) {
        if (!on)
            reconnectTimer->stop();
    });
    QMenu *view = menuBar()->findChild<QMenu *>(QStringLiteral("viewMenu"));
    if (!view) {
        view = menuBar()->addMenu(tr("&View"));
        view->setObjectName(QStringLiteral("viewMenu"));
    }
    view->addAction(trend->toggleViewAction());

    recentUrls = new QStringListModel(this);
    recentUrls->setStringList(m_context->settings().recentUrls());
    auto *completer = new QCompleter(recentUrls, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    urlEdit->setCompleter(completer);

    connect(urlEdit, &QLineEdit::returnPressed, this, &MainWindow::connectButton);
    const auto key = [this](const QKeySequence &keys, auto &&action) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    const auto clickOnShownPage = [this](const char *button) {
        if (iopanel *p = shownPage())
            if (auto *b = p->findChild<QPushButton *>(QLatin1String(button)); b && !b->isHidden())
                b->click();
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_Return),
        [clickOnShownPage] { clickOnShownPage("PushButton"); });
    key(QKeySequence(Qt::CTRL | Qt::Key_Enter),
        [clickOnShownPage] { clickOnShownPage("PushButton"); });
    key(QKeySequence(Qt::CTRL | Qt::Key_G), [clickOnShownPage] { clickOnShownPage("GetterBtn"); });
    key(QKeySequence(Qt::CTRL | Qt::Key_P),
        [clickOnShownPage] { clickOnShownPage("PeriodicButton"); });
    key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        ui->SearchEdit->setFocus(Qt::ShortcutFocusReason);
        ui->SearchEdit->selectAll();
    });
    // The button of whichever dock offers Measure.
    key(QKeySequence(Qt::CTRL | Qt::Key_M), [this] {
        if (auto *measure = findChild<QPushButton *>(QStringLiteral("measureButton")))
            measure->click();
    });
    key(QKeySequence(Qt::Key_F1), [this] { showKeys(); });
}

iopanel *MainWindow::shownPage() const
{
    const auto *stack = browser->findChild<QStackedWidget *>(
        QStringLiteral("stackedWidget"), Qt::FindDirectChildrenOnly);
    return stack ? qobject_cast<iopanel *>(stack->currentWidget()) : nullptr;
}

void MainWindow::showKeys()
{
    auto *box = new QMessageBox(QMessageBox::Information, tr("Keys"),
        tr("Return in the URL field\tConnect\n"
           "Ctrl+Return\tSend the shown page\n"
           "Ctrl+G\tCallGetter (setter pages)\n"
           "Ctrl+P\tStart or stop Periodic\n"
           "Ctrl+F\tSearch the commands\n"
           "Ctrl+M\tMeasure\n"
           "Space\tMeasure the point (Signatures)\n"
           "Ctrl+Z, Ctrl+Shift+Z\tUndo, redo points edits and Learn\n"
           "Delete, F2\tDelete, rename the point\n"
           "Alt+Up, Alt+Down\tMove the point\n"
           "Ctrl+Q\tQuit\n"
           "F1\tThis list"),
        QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("keysDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::attachTrendMenus(iopanel &page, int command)
{
    // "Plot over time" in the context menu of the page's numeric response
    // fields, "Plot element n over time" in that of its arrays.
    for (int i = 0; i < page.GetResponseCount(); ++i) {
        base_io_widget *field = page.GetResponse(i);
        const bool array
            = qobject_cast<FloatArrOutput *>(field) || qobject_cast<IntArrOutput *>(field);
        if (!array && !qobject_cast<IntOutput *>(field) && !qobject_cast<FloatOutput *>(field))
            continue;
        QLineEdit *edit = field->GetEdit();
        edit->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(edit, &QWidget::customContextMenuRequested, this,
            [this, command, i, edit, array](const QPoint &at) {
                QMenu *menu = edit->createStandardContextMenu();
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->addSeparator();
                if (!array) {
                    menu->addAction(tr("Plot over time"), this,
                        [this, command, i] { trend->plot(command, i); });
                } else if (!edit->text().isEmpty()) {
                    // The element under the pointer: elements are separated by single spaces.
                    const int element
                        = int(edit->text().left(edit->cursorPositionAt(at)).count(u' '));
                    menu->addAction(tr("Plot element %1 over time").arg(element), this,
                        [this, command, i, element] { trend->plot(command, i, element); });
                }
                menu->popup(edit->mapToGlobal(at));
            });
    }
}

void MainWindow::startReconnecting()
{
    // A lost device (-4) answers nothing until it is opened again; -1 has
    // closed it already.
    if (reconnectAction->isChecked() && !connectedUrl.isEmpty() && !reconnectTimer->isActive()) {
        reconnectAttempts = 0;
        reconnectTimer->start(0);
    }
}

bool MainWindow::reconnectPending() const
{
    return reconnectTimer->isActive();
}

void MainWindow::reconnectAttempt()
{
    session->stopRuns();
    ++reconnectAttempts;
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        session->connection().close();
        session->connection().open(connectedUrl.toLatin1().toStdString());
    }
    statusText->noteOpen(session->connection(), connectedUrl);
    updateStatus();
    if (!session->isOpen()) {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        session->connection().close();
        AddLog(tr("Reconnect %1: attempt %2 failed, next in 1 s")
                   .arg(connectedUrl)
                   .arg(reconnectAttempts),
            LogLevel::Failure);
        reconnectTimer->start(kReconnectIntervalMs);
    } else {
        AddLog(tr("Reconnect %1: connected (attempt %2)").arg(connectedUrl).arg(reconnectAttempts));
    }
}

void MainWindow::noteConnection(const QString &url)
{
    reconnectTimer->stop();
    connectedUrl = session->isOpen() ? url : QString();
    if (connectedUrl.isEmpty())
        return;
    QStringList urls = recentUrls->stringList();
    urls.removeAll(url);
    urls.prepend(url);
    urls = urls.mid(0, Settings::kRecentUrls);
    recentUrls->setStringList(urls);
    m_context->settings().setRecentUrls(urls);
}
