#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "callsdock.h"
#include "callsmodel.h"
#include "commandpage.h"
#include "container.h"
#include "curvedock.h"
#include "devicecalls.h"
#include "iopanel.h"
#include "profiles.h"
#include "recording.h"
#include "records.h"
#include "signaturesdock.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

#include <climits>
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

    log = ui->LogWidget;
    connect(ui->ClearBtn, &QPushButton::clicked, log, &QListWidget::clear);
    // Scrolling makes the list lay out every row; doing it once per pass of the
    // event loop rather than once per line keeps a burst of lines linear.
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

    // The Calls dock shares its place with the Curve dock when there is one.
    callsDock = new CallsDock(this);
    if (auto *curve = findChild<QDockWidget *>(QStringLiteral("curveDock")))
        tabifyDockWidget(curve, callsDock);
    else
        addDockWidget(Qt::RightDockWidgetArea, callsDock);
    callsDock->attach();
    connect(callsDock, &CallsDock::sendAgainRequested, this, &MainWindow::sendAgain);
    connect(callsDock, &CallsDock::callsChanged, this, &MainWindow::updateStatus);
    statusText = new QLabel;
    statusText->setObjectName(QStringLiteral("callsStatus"));
    statusBar()->addWidget(statusText, 1);
    updateStatus();
    // Of the tabbed docks, the Curve dock shows first.
    curve->raise();
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

    QMenu *view = menuBar()->addMenu(tr("View"));
    view->addAction(curve->toggleViewAction());

    auto *signatures = new SignaturesDock(device, this);
    connect(signatures, &SignaturesDock::logMessage, this, &MainWindow::AddLog);
    addDockWidget(Qt::RightDockWidgetArea, signatures);
    tabifyDockWidget(curve, signatures);
    curve->raise();
    view->addAction(signatures->toggleViewAction());

    // The window grows by the dock and the menu bar, so the pages keep their size.
    resize(width() + curve->sizeHint().width(), height() + menuBar()->sizeHint().height());
}

void MainWindow::feedCurve(const iopanel &page)
{
    // The page shows what it received; its texts pack back into the records.
    const zem::Command &c = *findCommand("get_measurement");
    get_measurement_request request {};
    get_measurement_response response {};
    auto *requestBytes = reinterpret_cast<unsigned char *>(&request);
    auto *responseBytes = reinterpret_cast<unsigned char *>(&response);
    for (std::size_t i = 0; i < c.request->fields.size(); ++i)
        packField(c.request->fields[i], *page.GetRequest(int(i)), requestBytes);
    for (std::size_t i = 0; i < c.response->fields.size(); ++i)
        packField(c.response->fields[i], *page.GetResponse(int(i)), responseBytes);
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
    const std::int32_t result = runCommand(c, *pages[i], device);
    AddLog(tr("%1 returned %2").arg(QLatin1String(c.operation), resultText(result)));
    if (std::strcmp(command, "get_measurement") == 0
        && (result == ZEM_RESULT_OK || result == ZEM_RESULT_VALUE_ERROR))
        feedCurve(*pages[i]);
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
    QString text = device == -1 ? tr("Not connected") : tr("Connected to %1").arg(connectedUrl);
    if (calls.size() > 0) {
        const zem::calls::Call &last = calls.newest();
        text += tr("  |  last: %1 returned %2 in %3")
                    .arg(CallsModel::commandText(last), resultText(last.result),
                        CallsModel::durationText(last.durationNs));
    }
    text += tr("  |  %n call(s)", nullptr, int(qMin<quint64>(calls.total(), INT_MAX)));
    text += tr(", %n failed", nullptr, int(qMin<quint64>(calls.failures(), INT_MAX)));
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
    log->addItem(
        tr("%1: %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), message));
    if (!logScroll->isActive())
        logScroll->start();
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
    connectedUrl = url;
    updateStatus();
}

void MainWindow::dconnectButton()
{
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        closeDevice(device);
    }
    AddLog(tr("Disconnect %1").arg(urlEdit->text()));
    updateStatus();
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
