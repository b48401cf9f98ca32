#include "benchwindow.h"

#include "proberpanel.h"

#include "ui_benchwindow.h"
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "devicesession.h"
#include "dockcontext.h"
#include "historyview.h"
#include "ivchart.h"
#include "runcontroller.h"
#include "signaturedocument.h"
#include "signaturemodel.h"
#include "verdictbanner.h"
#include "worker.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QShortcut>

BenchWindow::BenchWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::BenchWindow>())
    , m_session(new DeviceSession(this))
    , m_context(std::make_unique<DockContext>(*m_session, new zem::history::Worker(this)))
    , m_document(new SignatureDocument(this))
    , m_run(new RunController(*m_context, *m_document, this))
{
    ui->setupUi(this);
    buildParts();
    wireRun();
    buildMenus();
    updateButtons();
    updateDeviceState();
    // The serial is what a technician types first; a scanner types it too.
    ui->serialEdit->setFocus();
}

BenchWindow::~BenchWindow()
{
    // The run's device thread stops before the parts it reports to go.
    m_run->stop();
    // The document and the prediction go with the window's children, once
    // this class's part of the window is gone: what they announce on the way
    // (the model's reset, the prediction stopped) must not come back here.
    m_document->disconnect(this);
    m_document->model()->disconnect(this);
    m_prediction->disconnect(this);
}

void BenchWindow::buildParts()
{
    Settings &settings = m_context->settings();
    m_banner = new VerdictBanner(ui->bannerSlot);
    m_banner->setObjectName(QStringLiteral("boardVerdict"));
    ui->bannerLayout->addWidget(m_banner);

    ui->urlCombo->addItems(settings.recentUrls());
    ui->urlCombo->setInsertPolicy(QComboBox::NoInsert);
    ui->operatorEdit->setText(settings.operatorName());
    ui->onContactCheck->setChecked(settings.measureOnContact());
    ui->modeCombo->addItems({ tr("Test"), tr("Learn"), tr("Compare alike") });

    ui->pointsTable->attach(m_document);
    ui->boardView->setModel(m_document->model());
    // The bench probes boards; placing points is the debugger's job.
    ui->boardView->setEditable(false);
    ui->boardView->hide(); // until a board with a picture is opened

    m_chart = new IvChart(ui->curvePage);
    m_chart->setObjectName(QStringLiteral("curveView"));
    m_chart->addCurve(IvChart::Role::Reference, tr("Reference"));
    m_chart->addCurve(IvChart::Role::Test, tr("Test"));
    ui->curveLayout->addWidget(m_chart);
    // At 1280 px the table shows every column; a wider screen grows both.
    ui->mainSplitter->setStretchFactor(0, 1);
    ui->mainSplitter->setStretchFactor(1, 1);
    ui->mainSplitter->setSizes({ 680, 600 });
    // The table and the curve share the height, so that a tall screen shows
    // more points rather than a taller curve.
    ui->sideSplitter->setStretchFactor(0, 1);
    ui->sideSplitter->setStretchFactor(1, 1);
    ui->sideSplitter->setSizes({ 400, 400 });

    connect(ui->connectButton, &QPushButton::clicked, this,
        [this] { connectTo(ui->urlCombo->currentText().trimmed()); });
    connect(ui->urlCombo->lineEdit(), &QLineEdit::returnPressed, ui->connectButton,
        &QPushButton::click);
    connect(ui->openButton, &QPushButton::clicked, this, &BenchWindow::openDialog);
    connect(ui->reportButton, &QPushButton::clicked, this, &BenchWindow::reportDialog);
    connect(ui->startButton, &QPushButton::clicked, this, &BenchWindow::startRun);
    connect(ui->stopButton, &QPushButton::clicked, this, &BenchWindow::stopRun);
    connect(ui->serialEdit, &QLineEdit::returnPressed, this, &BenchWindow::serialEntered);
    connect(ui->operatorEdit, &QLineEdit::editingFinished, this,
        [this] { m_context->settings().setOperatorName(ui->operatorEdit->text().trimmed()); });
    connect(ui->onContactCheck, &QCheckBox::toggled, this,
        [this](bool on) { m_context->settings().setMeasureOnContact(on); });
    connect(ui->pointsTable, &PointTable::currentRowChanged, this, [this](int row) {
        ui->boardView->setCurrent(row);
        if (!m_runSelects) {
            m_holdFailed = false;
            m_run->select(row);
        }
        showPoint(row);
    });
    connect(ui->boardView, &BoardView::pointClicked, ui->pointsTable, &PointTable::selectRow);
    // The machine that brings the probe, in a tab of its own (its arrow keys
    // jog there only): home, jog, Unlock after an alarm, teach; lent to a run.
    auto *machineTab = new QWidget(ui->benchTabs);
    machineTab->setObjectName(QStringLiteral("machineTab"));
    m_prober = new ProberPanel(*m_context, *m_document, machineTab, machineTab);
    // A column of a panel's width: buttons the width of the window are
    // hard to aim at.
    m_prober->setMaximumWidth(560);
    auto *machineLayout = new QHBoxLayout(machineTab);
    machineLayout->addWidget(m_prober, 0, Qt::AlignTop);
    machineLayout->addStretch();
    ui->benchTabs->addTab(machineTab, tr("&Machine"));
    connect(m_prober, &ProberPanel::probeMoved, ui->boardView, &BoardView::setProbe);
    connect(m_prober, &ProberPanel::stopRequested, this, &BenchWindow::stopRun);
    connect(m_prober, &ProberPanel::statusChanged, this, &BenchWindow::setStatus);
    connect(ui->benchTabs, &QTabWidget::currentChanged, this, [this](int tab) {
        if (ui->benchTabs->widget(tab) == ui->historyTab)
            showHistory();
    });

    // Space measures where the probing happens; the measure key (a foot
    // switch types it) wherever the focus is.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), ui->testPage);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &BenchWindow::measure);
    m_measureKey = new QShortcut(QKeySequence(settings.measureKey()), this);
    m_measureKey->setContext(Qt::ApplicationShortcut);
    connect(m_measureKey, &QShortcut::activated, this, &BenchWindow::measure);

    connect(m_session, &DeviceSession::opened, this, &BenchWindow::updateDeviceState);
    connect(m_session, &DeviceSession::closed, this, &BenchWindow::updateDeviceState);
    connect(m_session, &DeviceSession::lost, this, &BenchWindow::updateDeviceState);
}

void BenchWindow::wireRun()
{
    connect(m_run, &RunController::statusChanged, this, &BenchWindow::setStatus);
    connect(m_run, &RunController::logMessage, this, &BenchWindow::log);
    connect(m_run, &RunController::stateChanged, this, [this] {
        if (!m_run->isRunning())
            m_prober->runEnded();
        updateButtons();
        updateBanner();
    });
    connect(m_run, &RunController::machineMoved, m_prober, &ProberPanel::showRunPosition);
    connect(m_run, &RunController::verdictChanged, this, &BenchWindow::updateBanner);
    connect(m_run, &RunController::pointSelected, this, [this](int row) {
        m_runSelects = true;
        ui->pointsTable->selectRow(row);
        m_runSelects = false;
    });
    connect(m_run, &RunController::curvesChanged, this,
        [this](const sig::IvCurve *reference, const sig::IvCurve *test) {
            // A new capture: whatever was held gives way to it.
            m_holdFailed = false;
            plot(reference, test);
        });
    connect(m_run, &RunController::pointDone, this, &BenchWindow::pointDone);
    connect(m_run, &RunController::pointDone, this, [this](int, sig::Verdict verdict) {
        m_holdFailed = m_testRun && verdict != sig::Verdict::Pass;
    });
    connect(m_run, &RunController::slow, this, [this](bool waiting) {
        if (waiting)
            setCursor(Qt::BusyCursor);
        else
            unsetCursor();
    });
    connect(m_run, &RunController::runRecorded, this, [this] {
        if (m_history)
            m_history->refresh();
    });
    connect(m_document, &SignatureDocument::opened, this, [this](bool ok) {
        if (!ok) {
            fail(m_document->errorString());
        } else {
            const QString path = m_document->path();
            ui->boardFile->setText(
                tr("%1 (%2, %n point(s))", nullptr, int(m_document->signature().points.size()))
                    .arg(m_document->signature().board, QFileInfo(path).fileName()));
            ui->boardFile->setToolTip(path);
            setStatus(tr("Opened %1").arg(path));
            for (const QString &w : m_document->signature().warnings)
                log(tr("%1: %2").arg(path, w), LogLevel::Failure);
            fillRecentBoards();
        }
        emit boardOpened(ok);
    });
    connect(m_document, &SignatureDocument::fileUsed, this,
        [this](const QString &path) { m_context->settings().noteSignature(path); });
    connect(m_document, &SignatureDocument::replaced, this, [this] {
        // Without a picture the table and the curve take the whole width.
        ui->boardView->setVisible(m_document->signature().image.has_value());
        m_testRun = false;
        updateBanner();
        if (!m_document->signature().points.empty())
            ui->pointsTable->selectRow(0);
        else
            plot(nullptr, nullptr);
    });
}

bool BenchWindow::connectTo(const QString &url)
{
    m_session->stopRuns();
    const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
    zem::Connection &device = m_session->connection();
    device.close();
    m_url = url;
    device.open(url.toStdString());
    if (!device.isOpen()) {
        const QString why = QString::fromStdString(device.openFailure(url.toStdString()));
        device.close();
        fail(tr("Not connected: %1").arg(why));
        updateDeviceState();
        return false;
    }
    QStringList recent = m_context->settings().recentUrls();
    recent.removeAll(url);
    recent.prepend(url);
    m_context->settings().setRecentUrls(recent);
    ui->urlCombo->clear();
    ui->urlCombo->addItems(recent.mid(0, Settings::kRecentUrls));
    ui->urlCombo->setCurrentIndex(0);
    setStatus(tr("Connected to %1").arg(url));
    updateDeviceState();
    return true;
}

void BenchWindow::updateDeviceState()
{
    const bool open = m_session->isOpen();
    ui->deviceState->setText(open ? tr("connected") : tr("not connected"));
    QPalette p = ui->deviceState->palette();
    p.setColor(QPalette::WindowText, open ? QColor(0x1a, 0x7f, 0x37) : QColor(0xc0, 0x39, 0x2b));
    ui->deviceState->setPalette(p);
    ui->connectButton->setText(open ? tr("Reconnect") : tr("Connect"));
    updateButtons();
}

void BenchWindow::openBoard(const QString &file)
{
    if (m_run->isRunning() || !maybeSave())
        return;
    setStatus(tr("Opening %1...").arg(file));
    m_document->openInBackground(file);
}

bool BenchWindow::saveBoard(const QString &file)
{
    if (!m_document->save(file)) {
        fail(m_document->errorString());
        return false;
    }
    setStatus(tr("Saved %1").arg(file));
    return true;
}

bool BenchWindow::writeReport(const QString &file)
{
    if (!m_run->writeReport(file)) {
        fail(m_document->errorString());
        return false;
    }
    setStatus(tr("Report written to %1").arg(file));
    return true;
}

void BenchWindow::serialEntered()
{
    // A scanner's Enter starts the test and hands the keys to the probing, so
    // that Space measures instead of typing into the serial.
    if (m_run->isRunning())
        return;
    setMode(0);
    startRun();
    if (m_run->isRunning())
        ui->pointsTable->setFocus();
}

void BenchWindow::startRun()
{
    if (m_run->isRunning())
        return;
    using Kind = RunController::Kind;
    RunController::Options options;
    const int mode = ui->modeCombo->currentIndex();
    options.kind = mode == 1 ? Kind::Learn : mode == 2 ? Kind::CompareAlike : Kind::Test;
    options.repeat = ui->capturesBox->value();
    options.onContact = ui->onContactCheck->isChecked();
    options.serial = ui->serialEdit->text().trimmed();
    options.operatorName = ui->operatorEdit->text().trimmed();
    m_context->settings().setOperatorName(options.operatorName);
    options.row = std::max(0, ui->pointsTable->currentRow());
    options.addBoard = true; // a bench adds good boards, never wipes what was learned
    m_testRun = options.kind == Kind::Test;
    m_holdFailed = false;
    // A machine connected on the Machine tab probes the run; its line is
    // the run's until the run ends.
    options.proberUrl = m_prober->takeForRun();
    if (m_run->start(options))
        ui->pointsTable->setFocus();
    else
        m_prober->runEnded();
    updateBanner();
}

void BenchWindow::stopRun()
{
    m_run->stop();
}

void BenchWindow::measure()
{
    m_run->measure();
}

void BenchWindow::updateButtons()
{
    const bool running = m_run->isRunning();
    ui->startButton->setEnabled(!running);
    ui->stopButton->setEnabled(running);
    ui->modeCombo->setEnabled(!running);
    ui->capturesBox->setEnabled(!running);
    ui->openButton->setEnabled(!running);
    ui->pointsTable->setEditable(false);
}

void BenchWindow::updateBanner()
{
    using State = VerdictBanner::State;
    const bool running = m_run->isRunning();
    if (m_testRun && m_run->results())
        m_banner->setVerdict(running ? State::Testing : State::Done, m_run->boardVerdict());
    else
        m_banner->setVerdict(running ? State::Learning : State::Idle, sig::BoardVerdict());
}

void BenchWindow::showPoint(int row)
{
    // The failed point's overlay stays until the next point's capture.
    if (row < 0 || row >= int(m_document->signature().points.size())
        || (m_holdFailed && m_run->isRunning()))
        return;
    const auto [reference, test] = m_run->curvesOf(row);
    plot(reference, test);
}

void BenchWindow::plot(const sig::IvCurve *reference, const sig::IvCurve *test)
{
    const auto pointsOf = [](const sig::IvCurve *c) {
        return c ? IvChart::pointsOf(c->volts, c->milliamps) : QList<QPointF>();
    };
    m_chart->setCurves(pointsOf(reference), pointsOf(test));
}

void BenchWindow::setStatus(const QString &text)
{
    statusBar()->showMessage(text);
}

void BenchWindow::fail(const QString &text)
{
    setStatus(text);
    log(text, LogLevel::Failure);
}

void BenchWindow::log(const QString &text, LogLevel level)
{
    // No event log on the bench: failures go to the journal for whoever
    // looks after the station.
    if (level == LogLevel::Failure)
        qWarning("%s", qUtf8Printable(text));
}

void BenchWindow::showHistory()
{
    if (m_history)
        return;
    m_history = new HistoryView(*m_context, ui->historyTab);
    ui->historyLayout->addWidget(m_history);
    m_history->refresh();
}

void BenchWindow::closeEvent(QCloseEvent *event)
{
    if (!maybeSave()) {
        event->ignore();
        return;
    }
    m_run->stop();
    m_context->settings().setWindow(saveGeometry(), saveState());
    event->accept();
}
