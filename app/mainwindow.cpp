#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "base_io_widget.h"
#include "callsdock.h"
#include "callsmodel.h"
#include "commandpage.h"
#include "container.h"
#include "curvedock.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "filechooser.h"
#include "frameupdate.h"
#include "historydock.h"
#include "iopanel.h"
#include "logview.h"
#include "profiles.h"
#include "recording.h"
#include "records.h"
#include "signaturesdock.h"
#include "statusline.h"
#include "trenddock.h"
#include "worker.h"

#include <QAction>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

// The icon lives in a static library, whose resources the linker drops unless
// something refers to them.
static void initResources()
{
    Q_INIT_RESOURCE(zem);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , session(new DeviceSession(this))
    , m_context(std::make_unique<DockContext>(*session, new zem::history::Worker(this)))
    , ui(new Ui::MainWindow)
{
    initResources();
    ui->setupUi(this);
    // Read as the PNG it is: an image of unknown type has every image plugin
    // loaded to guess it, a twentieth of the window's start-up.
    QImageReader icon(QStringLiteral(":/new/prefix1/zem_logo.png"), "png");
    icon.setAutoDetectImageFormat(false);
    setWindowIcon(QPixmap::fromImage(icon.read()));

    // Where the named family is missing, fall back to a fixed-pitch font so
    // the time stamps stay aligned.
    QFont logFont = ui->LogWidget->font();
    logFont.setStyleHint(QFont::TypeWriter);
    ui->LogWidget->setFont(logFont);

    // The form's list, in a kind whose appends do not slow down as it grows.
    log = LogView::replace(ui->LogWidget, *m_context);
    ui->LogWidget = log;
    connect(ui->ClearBtn, &QPushButton::clicked, log, &QListWidget::clear);
    // Scrolling once per pass of the event loop rather than once per line
    // keeps a burst of lines cheap.
    logScroll = new QTimer(this);
    logScroll->setSingleShot(true);
    logScroll->setInterval(0);
    connect(logScroll, &QTimer::timeout, log, &QListWidget::scrollToBottom);

    urlEdit = ui->comEdit;
    // Room for a usual URL, however many docks are shown beside the pages.
    urlEdit->setMinimumWidth(
        urlEdit->fontMetrics().horizontalAdvance(urlEdit->placeholderText()) + 16);
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
    setupMenus();
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
    // Only the first page is shown at start; the others are built when the
    // user turns to them, or when something asks for them.
    pages.fill(nullptr, int(zem::kCommandCount));
    for (int i = 0; i < int(zem::kCommandCount); ++i)
        browser->AddPage(
            QString::fromLatin1(zem::kCommands[i].name), [this, i] { return buildPage(i); });
}

iopanel *MainWindow::buildPage(int command)
{
    const zem::Command &c = zem::kCommands[command];
    auto *p = new iopanel(nullptr, QString::fromLatin1(c.name));
    populatePage(*p, c);
    pages[command] = p;
    const CommandSlots *s = slotsOf(c.name);
    Q_ASSERT(s && bool(s->getter) == bool(c.getter));
    connect(p->sendButton, &QPushButton::clicked, this, s->send);
    if (s->getter)
        connect(p->getterButton, &QPushButton::clicked, this, s->getter);
    connect(
        p, &iopanel::logMessage, this, qOverload<const QString &, LogLevel>(&MainWindow::AddLog));
    attachTrendMenus(*p, command);
    return p;
}

iopanel *MainWindow::pageAt(int command)
{
    if (!pages[command])
        browser->page(QString::fromLatin1(zem::kCommands[command].name));
    return pages[command];
}

void MainWindow::buildDocks()
{
    curve = new CurveDock(*m_context, this);
    // Calls of a run are logged as a Send of their page logs them, in the
    // order they were made.
    connect(session, &DeviceSession::callMade, this, [this](const zem::calls::Call &call) {
        if (call.origin == zem::calls::Origin::Curve
            && call.operation == zem::calls::Operation::Command)
            addFoldedLog(tr("%1 returned %2")
                             .arg(QLatin1String(call.operationName()),
                                 QString::fromStdString(zem::calls::logResultName(call.result))),
                levelOf(call.result));
    });
    connect(curve, &CurveDock::logMessage, this,
        qOverload<const QString &, LogLevel>(&MainWindow::AddLog));
    addDockWidget(Qt::RightDockWidgetArea, curve);

    callsDock = new CallsDock(*m_context, this);
    tabifyDockWidget(curve, callsDock);
    curve->raise();
    callsDock->attach();
    connect(callsDock, &CallsDock::sendAgainRequested, this, &MainWindow::sendAgain);
    // A new text lays out and repaints the status bar: the line follows the
    // calls, the connection and the notes once per frame.
    statusText = new StatusLine;
    statusBar()->addWidget(statusText, 1);
    statusUpdate = new FrameUpdate(
        [this] {
            statusText->refresh(session->isOpen(), statusUrl, callsDock->liveModel()->ring());
        },
        this);
    connect(callsDock, &CallsDock::callsChanged, this, &MainWindow::updateStatus);
    updateStatus();
    statusUpdate->flush();

    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    view->addAction(curve->toggleViewAction());
    view->addAction(callsDock->toggleViewAction());

    m_signatures = new SignaturesDock(*m_context, this);
    auto *signatures = m_signatures;
    connect(signatures, &SignaturesDock::logMessage, this,
        qOverload<const QString &, LogLevel>(&MainWindow::AddLog));
    addDockWidget(Qt::RightDockWidgetArea, signatures);
    tabifyDockWidget(curve, signatures);
    curve->raise();
    view->addAction(signatures->toggleViewAction());

    // Hidden until asked for: the history is opened by its Refresh, or by a
    // test run that is kept in it.
    // One way to the history for the window, on a thread of its own.
    zem::history::Worker *historyWorker = m_context->history();
    auto *history = new HistoryDock(*m_context, this);
    addDockWidget(Qt::RightDockWidgetArea, history);
    tabifyDockWidget(curve, history);
    history->hide();
    curve->raise();
    view->addAction(history->toggleViewAction());
    connect(historyWorker, &zem::history::Worker::synced, this,
        [this, history](int uploaded, int waiting, const QString &error) {
            if (uploaded > 0) {
                AddLog(tr("History: %n run(s) from the local spool uploaded", nullptr, uploaded),
                    LogLevel::Normal);
                if (history->isVisible())
                    history->refresh(); // the list read before the upload lacks them
            }
            if (!error.isEmpty())
                AddLog(tr("History: %n run(s) still wait in the local spool: %1", nullptr, waiting)
                           .arg(error),
                    LogLevel::Failure);
        });
    connect(signatures, &SignaturesDock::runRecorded, history, [history] {
        if (history->isVisible())
            history->refresh();
    });

    // The window grows by the dock and the menu bar, so the pages keep their size.
    resize(width() + curve->sizeHint().width(), height() + menuBar()->sizeHint().height());
    m_docks = { curve, callsDock, signatures, history };
}

iopanel *MainWindow::page(const QString &command)
{
    const int i = commandIndex(command.toLatin1().constData());
    return i < 0 ? nullptr : pageAt(i);
}

void MainWindow::setFileChooser(std::shared_ptr<FileChooser> chooser)
{
    m_context->setFileChooser(std::move(chooser));
}

void MainWindow::updateStatus()
{
    statusUpdate->request();
}

MainWindow::~MainWindow()
{
    // The docks' runs end first, so that none calls on a closed handle.
    session->stopRuns();
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        session->connection().close();
    }
    callsDock->detach();
    delete ui;
}

std::int32_t MainWindow::deviceHandle() const
{
    return session->connection().handle();
}

void MainWindow::connectButton()
{
    session->stopRuns();
    const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
    zem::Connection &device = session->connection();
    device.close();
    const QString url = urlEdit->text();
    device.open(url.toLatin1().toStdString());
    statusText->noteOpen(device, url);
    if (!device.isOpen()) {
        device.close();
        AddLog(tr("%1 device undefined").arg(url), LogLevel::Failure);
    } else {
        AddLog(tr("%1 connect").arg(url));
    }
    statusUrl = url;
    updateStatus();
    noteConnection(url);
}

void MainWindow::connectTo(const QString &url)
{
    urlEdit->setText(url);
    connectButton();
}

void MainWindow::openBoard(const QString &file)
{
    m_signatures->show();
    m_signatures->raise();
    m_signatures->openFileInBackground(file);
}

void MainWindow::dconnectButton()
{
    session->stopRuns();
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        session->connection().close();
    }
    AddLog(tr("Disconnect %1").arg(urlEdit->text()));
    statusText->clearNotes();
    updateStatus();
    noteConnection(QString());
}

void MainWindow::SearchSlot(const QString &str)
{
    browser->Search(str);
}

void MainWindow::GetProfileSlot()
{
    const QString name = m_context->files().saveFileName(saveProfileQuestion());
    const zem::calls::OriginScope origin(zem::calls::Origin::Profile);
    if (!name.isEmpty())
        addLogLines(saveProfile(session->connection(), name));
}

void MainWindow::SetProfileSlot()
{
    const QString name = m_context->files().openFileName(openProfileQuestion());
    const zem::calls::OriginScope origin(zem::calls::Origin::Profile);
    if (!name.isEmpty())
        addLogLines(loadProfile(session->connection(), name, profileText));
}
