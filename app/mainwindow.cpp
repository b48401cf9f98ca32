#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "callsdock.h"
#include "callsmodel.h"
#include "commandpage.h"
#include "container.h"
#include "curvedock.h"
#include "devicecalls.h"
#include "iopanel.h"
#include "logview.h"
#include "profiles.h"
#include "recording.h"
#include "records.h"
#include "signaturesdock.h"
#include "trenddock.h"

#include <QAction>
#include <QCompleter>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStringListModel>
#include <QTime>
#include <QTimer>

#include <cstring>

// The icon lives in a static library, whose resources the linker drops unless
// something refers to them.
static void initResources()
{
    Q_INIT_RESOURCE(zem);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , files(std::make_unique<ProfileFileChooser>())
    , ui(new Ui::MainWindow)
{
    initResources();
    ui->setupUi(this);

    // Where the named family is missing, fall back to a fixed-pitch font so
    // the time stamps stay aligned.
    QFont logFont = ui->LogWidget->font();
    logFont.setStyleHint(QFont::TypeWriter);
    ui->LogWidget->setFont(logFont);

    // The form's list, in a kind whose appends do not slow down as it grows.
    log = LogView::replace(ui->LogWidget);
    ui->LogWidget = log;
    connect(ui->ClearBtn, &QPushButton::clicked, log, &QListWidget::clear);
    // Scrolling once per pass of the event loop rather than once per line
    // keeps a burst of lines cheap.
    logScroll = new QTimer(this);
    logScroll->setSingleShot(true);
    logScroll->setInterval(0);
    connect(logScroll, &QTimer::timeout, log, &QListWidget::scrollToBottom);

    urlEdit = ui->comEdit;
    connect(ui->cntButton, &QPushButton::clicked, this, &MainWindow::connectButton);
    connect(ui->dcntButton, &QPushButton::clicked, this, &MainWindow::dconnectButton);
    urlEdit->setToolTip(tr("Example:\ncom:\\\\.\\COM12\nvu-net://%1/%2")
                            .arg(QStringLiteral("192.168.1.10"), QStringLiteral("00001234")));

    browser = new Container;
    ui->verticalLayout->addWidget(browser);

    connect(ui->SearchEdit, &QLineEdit::textChanged, this, &MainWindow::SearchSlot);
    connect(ui->GetProfileBtn, &QPushButton::clicked, this, &MainWindow::GetProfileSlot);
    connect(ui->SetProfileBtn, &QPushButton::clicked, this, &MainWindow::SetProfileSlot);

    buildPages();
    buildDocks();
    setupSessionTools();
}

namespace {

// The window's slots of each command; a setter also has its CallGetter slot.
struct CommandSlots
{
    const char *command;
    void (MainWindow::*send)(bool);
    void (MainWindow::*getter)(bool);
};

const CommandSlots kSlots[] = {
    { "get_measurement", &MainWindow::get_measurementPressSlot, nullptr },
    { "get_identity_information", &MainWindow::get_identity_informationPressSlot, nullptr },
    { "start_autocalibration", &MainWindow::start_autocalibrationPressSlot, nullptr },
    { "get_status", &MainWindow::get_statusPressSlot, nullptr },
    { "get_measurement_settings", &MainWindow::get_measurement_settingsPressSlot, nullptr },
    { "set_measurement_settings", &MainWindow::set_measurement_settingsPressSlot,
        &MainWindow::set_measurement_settingsCallGetterPressSlot },
    { "start_measurement", &MainWindow::start_measurementPressSlot, nullptr },
    { "check_measurement_status", &MainWindow::check_measurement_statusPressSlot, nullptr },
    { "get_calibration_settings", &MainWindow::get_calibration_settingsPressSlot, nullptr },
    { "set_calibration_settings", &MainWindow::set_calibration_settingsPressSlot,
        &MainWindow::set_calibration_settingsCallGetterPressSlot },
    { "get_measurement_raw", &MainWindow::get_measurement_rawPressSlot, nullptr },
    { "reset_events", &MainWindow::reset_eventsPressSlot, nullptr },
};

const CommandSlots *slotsOf(const char *command)
{
    for (const CommandSlots &s : kSlots)
        if (std::strcmp(s.command, command) == 0)
            return &s;
    return nullptr;
}

// Pages are kept in the order of the command table.
int commandIndex(const char *command)
{
    const zem::Command *c = findCommand(command);
    return c ? int(c - zem::kCommands) : -1;
}

} // namespace

void MainWindow::buildPages()
{
    for (const zem::Command &c : zem::kCommands) {
        const QString name = QString::fromLatin1(c.name);
        auto *p = new iopanel(nullptr, name);
        browser->AddPage(p, name);
        populatePage(*p, c);
        pages.append(p);
        const CommandSlots *s = slotsOf(c.name);
        Q_ASSERT(s && bool(s->getter) == bool(c.getter));
        connect(p->sendButton, &QPushButton::clicked, this, s->send);
        if (s->getter)
            connect(p->getterButton, &QPushButton::clicked, this, s->getter);
        connect(p, &iopanel::logMessage, this, &MainWindow::AddLog);
    }
}

void MainWindow::buildDocks()
{
    curve = new CurveDock(this);
    curve->setDevice(&device);
    // Calls of a run are logged as a Send of their page logs them.
    curve->addCallObserver([this](const SequenceCall &call) {
        AddLog(tr("%1 returned %2")
                   .arg(QLatin1String(call.command.operation), resultText(call.result)));
    });
    connect(curve, &CurveDock::logMessage, this, &MainWindow::AddLog);
    addDockWidget(Qt::RightDockWidgetArea, curve);

    callsDock = new CallsDock(this);
    tabifyDockWidget(curve, callsDock);
    curve->raise();
    callsDock->attach();
    connect(callsDock, &CallsDock::sendAgainRequested, this, &MainWindow::sendAgain);
    connect(callsDock, &CallsDock::callsChanged, this, &MainWindow::updateStatus);
    statusText = new QLabel;
    statusText->setObjectName(QStringLiteral("callsStatus"));
    statusBar()->addWidget(statusText, 1);
    updateStatus();

    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    view->addAction(curve->toggleViewAction());
    view->addAction(callsDock->toggleViewAction());

    auto *signatures = new SignaturesDock(device, this);
    connect(signatures, &SignaturesDock::logMessage, this, &MainWindow::AddLog);
    addDockWidget(Qt::RightDockWidgetArea, signatures);
    tabifyDockWidget(curve, signatures);
    curve->raise();
    view->addAction(signatures->toggleViewAction());

    // The window grows by the dock and the menu bar, so the pages keep their size.
    resize(width() + curve->sizeHint().width(), height() + menuBar()->sizeHint().height());
}

void MainWindow::feedCurve(const iopanel &page, const unsigned char *responseBytes)
{
    // The frame number as it was sent, packed from the page as Send packs it.
    const zem::Command &c = *findCommand("get_measurement");
    get_measurement_request request {};
    auto *requestBytes = reinterpret_cast<unsigned char *>(&request);
    for (std::size_t i = 0; i < c.request->fields.size(); ++i)
        packField(c.request->fields[i], *page.GetRequest(int(i)), requestBytes);
    get_measurement_response response {};
    std::memcpy(&response, responseBytes, sizeof response);
    curve->addPageFrame(request.FrameNumber, response);
}

iopanel *MainWindow::page(const QString &command) const
{
    const int i = commandIndex(command.toLatin1().constData());
    return i < 0 ? nullptr : pages.value(i);
}

void MainWindow::setFileChooser(std::unique_ptr<ProfileFileChooser> chooser)
{
    files = std::move(chooser);
}

void MainWindow::send(const char *command)
{
    const int i = commandIndex(command);
    const zem::Command &c = zem::kCommands[i];
    alignas(8) unsigned char response[zem::kMaxRecordSize] = {};
    const std::int32_t result = runCommand(c, *pages[i], device, response);
    AddLog(tr("%1 returned %2").arg(QLatin1String(c.operation), resultText(result)));
    if (std::strcmp(command, "get_measurement") == 0
        && (result == ZEM_RESULT_OK || result == ZEM_RESULT_VALUE_ERROR))
        feedCurve(*pages[i], response);
    afterSend(*pages[i], result);
}

void MainWindow::callGetter(const char *setter)
{
    const int s = commandIndex(setter);
    const char *getter = zem::kCommands[s].getter;
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Getter);
        send(getter);
    }
    // The copy goes through the shown texts, so it also happens after a
    // failed call and then carries the older values.
    copyResponsesToRequests(*pages[commandIndex(getter)], *pages[s]);
}

void MainWindow::addLogLines(const QStringList &lines)
{
    for (const QString &line : lines)
        AddLog(line);
}

void MainWindow::get_measurementPressSlot(bool)
{
    send("get_measurement");
}
void MainWindow::get_identity_informationPressSlot(bool)
{
    send("get_identity_information");
}
void MainWindow::start_autocalibrationPressSlot(bool)
{
    send("start_autocalibration");
}
void MainWindow::get_statusPressSlot(bool)
{
    send("get_status");
}
void MainWindow::get_measurement_settingsPressSlot(bool)
{
    send("get_measurement_settings");
}
void MainWindow::set_measurement_settingsPressSlot(bool)
{
    send("set_measurement_settings");
}
void MainWindow::set_measurement_settingsCallGetterPressSlot(bool)
{
    callGetter("set_measurement_settings");
}
void MainWindow::start_measurementPressSlot(bool)
{
    send("start_measurement");
}
void MainWindow::check_measurement_statusPressSlot(bool)
{
    send("check_measurement_status");
}
void MainWindow::get_calibration_settingsPressSlot(bool)
{
    send("get_calibration_settings");
}
void MainWindow::set_calibration_settingsPressSlot(bool)
{
    send("set_calibration_settings");
}
void MainWindow::set_calibration_settingsCallGetterPressSlot(bool)
{
    callGetter("set_calibration_settings");
}
void MainWindow::get_measurement_rawPressSlot(bool)
{
    send("get_measurement_raw");
}
void MainWindow::reset_eventsPressSlot(bool)
{
    send("reset_events");
}

void MainWindow::sendAgain(int command, const QByteArray &request)
{
    if (command < 0 || command >= int(zem::kCommandCount))
        return;
    const zem::Command &c = zem::kCommands[command];
    if (c.request && request.size() != c.request->size)
        return;
    const zem::calls::OriginScope origin(zem::calls::Origin::Replay);
    const std::int32_t result = runCommandWith(
        c, reinterpret_cast<const unsigned char *>(request.constData()), *pages[command], device);
    AddLog(tr("%1 returned %2").arg(QLatin1String(c.operation), resultText(result)));
}

void MainWindow::updateStatus()
{
    const zem::calls::CallRing &calls = callsDock->liveModel()->ring();
    QString text = device == -1 ? tr("Not connected") : tr("Connected to %1").arg(statusUrl);
    if (calls.size() > 0) {
        const zem::calls::Call &last = calls.newest();
        text += tr("  |  last: %1 returned %2 in %3")
                    .arg(CallsModel::commandText(last), resultText(last.result),
                        CallsModel::durationText(last.durationNs));
    }
    // No translation ships, so plurals are chosen here rather than by "%n".
    text += calls.total() == 1 ? tr("  |  1 call") : tr("  |  %1 calls").arg(calls.total());
    text += tr(", %1 failed").arg(calls.failures());
    statusText->setText(text);
}

MainWindow::~MainWindow()
{
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        closeDevice(device);
    }
    callsDock->detach();
    delete ui;
}

void MainWindow::AddLog(const QString &message)
{
    log->appendLine(tr("%1: %2").arg(logStamp(), message), LogView::reportsFailure(message));
    if (!logScroll->isActive())
        logScroll->start();
}

// Reading the wall clock costs more than the rest of a log line (the time zone
// is looked up each time); within one second the stamp is the same text.
QString MainWindow::logStamp()
{
    if (!stampClock.isValid() || stampClock.elapsed() >= stampValidMs) {
        const QTime now = QTime::currentTime();
        stamp = now.toString(QStringLiteral("HH:mm:ss"));
        stampClock.start();
        // Both clocks are read in whole milliseconds: one less keeps the
        // stamp from outliving its second.
        stampValidMs = 999 - now.msec();
    }
    return stamp;
}

void MainWindow::connectButton()
{
    const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
    closeDevice(device);
    const QString url = urlEdit->text();
    device = openDevice(url.toLatin1());
    if (device == -1) {
        closeDevice(device);
        AddLog(tr("%1 device undefined").arg(url));
    } else {
        AddLog(tr("%1 connect").arg(url));
    }
    statusUrl = url;
    updateStatus();
    noteConnection(url);
}

void MainWindow::dconnectButton()
{
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        closeDevice(device);
    }
    AddLog(tr("Disconnect %1").arg(urlEdit->text()));
    updateStatus();
    noteConnection(QString());
}

void MainWindow::SearchSlot(const QString &str)
{
    browser->Search(str);
}

void MainWindow::GetProfileSlot()
{
    const QString name = files->saveFileName();
    const zem::calls::OriginScope origin(zem::calls::Origin::Profile);
    if (!name.isEmpty())
        addLogLines(saveProfile(device, name));
}

void MainWindow::SetProfileSlot()
{
    const QString name = files->openFileName();
    const zem::calls::OriginScope origin(zem::calls::Origin::Profile);
    if (!name.isEmpty())
        addLogLines(loadProfile(device, name, profileText));
}

// Long sessions: trends of response fields, reconnection after a drop, recent
// URLs and keys. Each is off or empty until the user turns to it.

namespace {

constexpr int kRecentUrls = 10;
constexpr int kReconnectIntervalMs = 1000;
const char kRecentUrlsKey[] = "recentUrls";

// Programs that embed the window without naming themselves (tests, figures)
// keep no history on disk.
bool keepsSettings()
{
    return !QCoreApplication::organizationName().isEmpty();
}

} // namespace

void MainWindow::setupSessionTools()
{
    trend = new TrendDock(this);
    addDockWidget(Qt::RightDockWidgetArea, trend);
    trend->hide();
    for (iopanel *p : std::as_const(pages))
        trend->attach(p);
    connect(trend, &TrendDock::traceAdded, this, [this] {
        if (trend->isVisible())
            return;
        // Beside the other docks when they are there.
        for (const char *name : { "curveDock", "callsDock" })
            if (auto *other = findChild<QDockWidget *>(QLatin1String(name));
                other && other != trend) {
                tabifyDockWidget(other, trend);
                break;
            }
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
    if (keepsSettings())
        recentUrls->setStringList(
            QSettings().value(QLatin1String(kRecentUrlsKey)).toStringList().mid(0, kRecentUrls));
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
           "F1\tThis list"),
        QMessageBox::Close, this);
    box->setObjectName(QStringLiteral("keysDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::afterSend(iopanel &page, std::int32_t result)
{
    if (result == ZEM_RESULT_OK || result == ZEM_RESULT_VALUE_ERROR)
        trend->sample(&page);
    // -1 has closed the device already; a lost device (-4) answers nothing
    // until it is opened again.
    const bool dropped = result == ZEM_RESULT_NODEVICE || (result == -1 && device == -1);
    if (dropped && reconnectAction->isChecked() && !connectedUrl.isEmpty()
        && !reconnectTimer->isActive()) {
        reconnectAttempts = 0;
        reconnectTimer->start(0);
    }
}

void MainWindow::reconnectAttempt()
{
    ++reconnectAttempts;
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        closeDevice(device);
        device = openDevice(connectedUrl.toLatin1());
    }
    updateStatus();
    if (device == -1) {
        closeDevice(device);
        AddLog(tr("Reconnect %1: attempt %2 failed, next in 1 s")
                   .arg(connectedUrl)
                   .arg(reconnectAttempts));
        reconnectTimer->start(kReconnectIntervalMs);
    } else {
        AddLog(tr("Reconnect %1: connected (attempt %2)").arg(connectedUrl).arg(reconnectAttempts));
    }
}

void MainWindow::noteConnection(const QString &url)
{
    reconnectTimer->stop();
    connectedUrl = device == -1 ? QString() : url;
    if (connectedUrl.isEmpty())
        return;
    QStringList urls = recentUrls->stringList();
    urls.removeAll(url);
    urls.prepend(url);
    urls = urls.mid(0, kRecentUrls);
    recentUrls->setStringList(urls);
    if (keepsSettings())
        QSettings().setValue(QLatin1String(kRecentUrlsKey), urls);
}
