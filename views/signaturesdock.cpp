#include "signaturesdock.h"

#include "signaturemodel.h"

#include "devicerun.h"
#include "devicesession.h"
#include "filechooser.h"
#include "historyrun.h"
#include "location.h"
#include "recording.h"
#include "records.h"
#include "report.h"
#include "sequence.h"
#include "store.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

QList<QPointF> pointsOf(const sig::IvCurve &c)
{
    QList<QPointF> pts;
    pts.reserve(qsizetype(c.volts.size()));
    for (std::size_t k = 0; k < c.volts.size() && k < c.milliamps.size(); ++k)
        pts.append(QPointF(c.volts[k], c.milliamps[k]));
    return pts;
}

} // namespace

SignaturesDock::SignaturesDock(DeviceSession &device, QWidget *parent)
    : QDockWidget(tr("Signatures"), parent)
    , device(device)
    , files(std::make_shared<FileChooser>())
    , historyLocation(zem::history::defaultLocationText())
{
    setObjectName(QStringLiteral("signaturesDock"));
    board.settings = sig::defaultSettings();
    // The widgets come when the dock is first shown or used.
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            buildUi();
    });

    // A run on a handle that is gone stops: later, as the run's own call may be
    // what closed it, and only that run.
    connect(&device, &DeviceSession::closed, this, [this] {
        if (isRunning())
            QTimer::singleShot(0, this, [this, runs = runCount] {
                if (runs == runCount)
                    stopRun();
            });
    });
}

SignaturesDock::~SignaturesDock() = default;

void SignaturesDock::buildUi()
{
    if (model)
        return;
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);

    auto *fileRow = new QHBoxLayout;
    auto *newButton = new QPushButton(tr("New"), body);
    auto *openButton = new QPushButton(tr("Open..."), body);
    saveButton = new QPushButton(tr("Save"), body);
    auto *saveAsButton = new QPushButton(tr("Save as..."), body);
    auto *reportButton = new QPushButton(tr("Report..."), body);
    newButton->setObjectName(QStringLiteral("signatureNewButton"));
    openButton->setObjectName(QStringLiteral("signatureOpenButton"));
    saveButton->setObjectName(QStringLiteral("signatureSaveButton"));
    reportButton->setObjectName(QStringLiteral("signatureReportButton"));
    for (QPushButton *b : { newButton, openButton, saveButton, saveAsButton, reportButton })
        fileRow->addWidget(b);
    fileRow->addStretch();
    layout->addLayout(fileRow);

    auto *names = new QHBoxLayout;
    names->addWidget(new QLabel(tr("Board:"), body));
    boardEdit = new QLineEdit(body);
    boardEdit->setObjectName(QStringLiteral("signatureBoardEdit"));
    names->addWidget(boardEdit, 1);
    names->addWidget(new QLabel(tr("Points:"), body));
    pointEdit = new QLineEdit(body);
    pointEdit->setObjectName(QStringLiteral("signaturePointEdit"));
    pointEdit->setPlaceholderText(tr("R1, R2, U1.3"));
    names->addWidget(pointEdit, 1);
    auto *addButton = new QPushButton(tr("Add"), body);
    auto *pasteButton = new QPushButton(tr("Paste names"), body);
    addButton->setObjectName(QStringLiteral("signatureAddButton"));
    names->addWidget(addButton);
    names->addWidget(pasteButton);
    layout->addLayout(names);

    auto *runRow = new QHBoxLayout;
    learnButton = new QRadioButton(tr("Learn"), body);
    testButton = new QRadioButton(tr("Test"), body);
    learnButton->setObjectName(QStringLiteral("signatureLearnButton"));
    testButton->setObjectName(QStringLiteral("signatureTestButton"));
    learnButton->setChecked(true);
    runButton = new QPushButton(tr("Start"), body);
    runButton->setObjectName(QStringLiteral("signatureRunButton"));
    measureButton = new QPushButton(tr("Measure"), body);
    measureButton->setObjectName(QStringLiteral("signatureMeasureButton"));
    measureButton->setToolTip(tr("Measure the selected point (Space, or the probe's button)"));
    runRow->addWidget(learnButton);
    runRow->addWidget(testButton);
    runRow->addWidget(runButton);
    runRow->addWidget(measureButton);
    runRow->addStretch();
    layout->addLayout(runRow);

    auto *historyRow = new QHBoxLayout;
    historyRow->addWidget(new QLabel(tr("Serial:"), body));
    serialEdit = new QLineEdit(body);
    serialEdit->setObjectName(QStringLiteral("signatureSerialEdit"));
    serialEdit->setPlaceholderText(tr("Scan or type, Enter tests"));
    historyRow->addWidget(serialEdit, 1);
    likelyFirstCheck = new QCheckBox(tr("Probe likely faults first"), body);
    likelyFirstCheck->setObjectName(QStringLiteral("signatureLikelyFirstCheck"));
    likelyFirstCheck->setToolTip(
        tr("Test the points this board type failed most often first, from the history"));
    keepHistoryCheck = new QCheckBox(tr("Keep test runs in the history"), body);
    keepHistoryCheck->setObjectName(QStringLiteral("signatureKeepHistoryCheck"));
    keepHistoryCheck->setChecked(true);
    historyRow->addWidget(likelyFirstCheck);
    historyRow->addWidget(keepHistoryCheck);
    layout->addLayout(historyRow);

    auto *split = new QSplitter(Qt::Horizontal, body);
    model = new SignatureModel(this);
    table = new QTableView(split);
    table->setObjectName(QStringLiteral("signatureTable"));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    chart = new QChart;
    referenceSeries = new QLineSeries;
    referenceSeries->setName(tr("Reference"));
    testSeries = new QLineSeries;
    testSeries->setName(tr("Test"));
    chart->addSeries(referenceSeries);
    chart->addSeries(testSeries);
    axisV = new QValueAxis;
    axisV->setTitleText(tr("Voltage (V)"));
    axisI = new QValueAxis;
    axisI->setTitleText(tr("Current (mA)"));
    chart->addAxis(axisV, Qt::AlignBottom);
    chart->addAxis(axisI, Qt::AlignLeft);
    for (QLineSeries *s : { referenceSeries, testSeries }) {
        s->attachAxis(axisV);
        s->attachAxis(axisI);
    }
    auto *view = new QChartView(chart, split);
    view->setObjectName(QStringLiteral("signatureChart"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(240, 180);
    split->addWidget(table);
    split->addWidget(view);
    split->setStretchFactor(1, 1);
    split->setSizes({ 420, 580 }); // the plot gets the larger share
    layout->addWidget(split, 1);

    status = new QLabel(body);
    status->setObjectName(QStringLiteral("signatureStatus"));
    status->setWordWrap(true);
    layout->addWidget(status);
    setWidget(body);

    connect(newButton, &QPushButton::clicked, this, [this] {
        if (confirmDiscard())
            newSignature();
    });
    connect(openButton, &QPushButton::clicked, this, &SignaturesDock::openDialog);
    connect(saveButton, &QPushButton::clicked, this, &SignaturesDock::saveDialog);
    connect(saveAsButton, &QPushButton::clicked, this, &SignaturesDock::saveAsDialog);
    connect(reportButton, &QPushButton::clicked, this, &SignaturesDock::reportDialog);
    connect(addButton, &QPushButton::clicked, this, [this] {
        if (addPoints(pointEdit->text()) > 0)
            pointEdit->clear();
    });
    connect(pointEdit, &QLineEdit::returnPressed, addButton, &QPushButton::click);
    connect(pasteButton, &QPushButton::clicked, this, &SignaturesDock::pasteNames);
    // A barcode scanner types the serial and presses Enter: the test starts.
    connect(serialEdit, &QLineEdit::returnPressed, this, [this] {
        if (isRunning())
            return;
        testButton->setChecked(true);
        startRun();
    });
    connect(boardEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        board.board = text;
        modified = true;
    });
    connect(runButton, &QPushButton::clicked, this,
        [this] { isRunning() ? stopRun() : startRun(); });
    connect(measureButton, &QPushButton::clicked, this, &SignaturesDock::measure);
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &SignaturesDock::measure);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) {
            if (!current.isValid())
                return;
            if (isRunning() && !measuring)
                run->post([p = probe.get(), row = current.row()] { p->select(row); });
            showPoint(current.row());
        });
    model->setSignature(&board);
    updateButtons();
}

void SignaturesDock::setFileChooser(std::shared_ptr<FileChooser> chooser)
{
    files = std::move(chooser);
}

const std::vector<sig::PointResult> *SignaturesDock::results() const
{
    return probe && runMode == sig::Session::Mode::Test ? &testResults : nullptr;
}

void SignaturesDock::updateButtons()
{
    const bool running = isRunning();
    runButton->setText(running ? tr("Stop") : tr("Start"));
    measureButton->setEnabled(running && !measuring);
    learnButton->setEnabled(!running);
    testButton->setEnabled(!running);
}

void SignaturesDock::setStatus(const QString &text)
{
    status->setText(text);
}

bool SignaturesDock::confirmDiscard()
{
    if (!modified)
        return true;
    return QMessageBox::question(this, tr("Signatures"),
               tr("The signature has changes that are not saved. Discard them?"))
        == QMessageBox::Yes;
}

void SignaturesDock::newSignature()
{
    buildUi();
    stopRun();
    run.reset();
    probe.reset();
    model->setResults(nullptr);
    board = sig::Signature();
    board.settings = sig::defaultSettings();
    path.clear();
    modified = false;
    boardEdit->clear();
    model->setSignature(&board);
    plot(nullptr, nullptr);
    setStatus(QString());
}

int SignaturesDock::addPoints(const QString &names)
{
    buildUi();
    int added = 0;
    QStringList taken;
    for (const QString &name : sig::splitNames(names)) {
        if (model->appendPoint(name))
            ++added;
        else
            taken << name;
    }
    if (added)
        modified = true;
    if (!taken.isEmpty())
        setStatus(tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
    if (added && table->currentIndex().row() < 0)
        selectRow(0);
    return added;
}

void SignaturesDock::pasteNames()
{
    addPoints(QGuiApplication::clipboard()->text());
}

bool SignaturesDock::openFile(const QString &file)
{
    buildUi();
    QString error;
    auto loaded = sig::load(file, &error);
    if (!loaded) {
        fail(error);
        return false;
    }
    stopRun();
    run.reset();
    probe.reset();
    model->setResults(nullptr);
    board = std::move(*loaded);
    path = file;
    modified = false;
    boardEdit->setText(board.board);
    model->setSignature(&board);
    setStatus(tr("Opened %1: %2 points").arg(file).arg(board.points.size()));
    if (!board.points.empty())
        selectRow(0);
    return true;
}

bool SignaturesDock::saveFile(const QString &file)
{
    QString error;
    if (!sig::save(board, file, &error)) {
        fail(error);
        return false;
    }
    path = file;
    modified = false;
    setStatus(tr("Saved %1").arg(file));
    return true;
}

bool SignaturesDock::writeReport(const QString &file)
{
    QString error;
    static const std::vector<sig::PointResult> none;
    const auto *r = results();
    if (!sig::writeReport(board, r ? *r : none, QDateTime::currentDateTime(), file, &error)) {
        fail(error);
        return false;
    }
    setStatus(tr("Report written to %1").arg(file));
    return true;
}

void SignaturesDock::openDialog()
{
    if (!confirmDiscard())
        return;
    const QString file = files->openFileName(
        { this, tr("Open signature"), path, tr("Signature files (*.json);;All files (*)") });
    if (!file.isEmpty())
        openFile(file);
}

void SignaturesDock::saveDialog()
{
    if (path.isEmpty())
        saveAsDialog();
    else
        saveFile(path);
}

void SignaturesDock::saveAsDialog()
{
    const QString file = files->saveFileName(
        { this, tr("Save signature"), path, tr("Signature files (*.json);;All files (*)") });
    if (!file.isEmpty())
        saveFile(file);
}

void SignaturesDock::reportDialog()
{
    const QString file = files->saveFileName(
        { this, tr("Write report"), QString(), tr("HTML files (*.html);;All files (*)") });
    if (!file.isEmpty())
        writeReport(file);
}

void SignaturesDock::selectRow(int row)
{
    table->setCurrentIndex(model->index(row, SignatureModel::Name));
    table->scrollTo(model->index(row, SignatureModel::Name));
}

void SignaturesDock::fail(const QString &message)
{
    setStatus(message);
    emit logMessage(message, LogLevel::Failure);
}

void SignaturesDock::startRun()
{
    buildUi();
    if (isRunning())
        return;
    if (!device.isOpen()) {
        setStatus(tr("Connect to an instrument first."));
        return;
    }
    if (board.points.empty()) {
        setStatus(tr("Add the points to probe first."));
        return;
    }
    runMode = learnButton->isChecked() ? sig::Session::Mode::Learn : sig::Session::Mode::Test;
    const int row = finished ? 0 : std::max(0, table->currentIndex().row());
    finished = false;
    model->setResults(nullptr);
    run.reset();
    testResults.assign(board.points.size(), sig::PointResult());
    runOrder = runMode == sig::Session::Mode::Test && likelyFirstCheck->isChecked()
        ? likelyOrder()
        : std::vector<int>();
    const int first = runOrder.empty() ? row : runOrder.front();
    runStarted = QDateTime::currentDateTimeUtc();
    sig::ProbeRun::Options options;
    options.pollButton = true;
    // The machine's events come on the device thread; the dock takes them on its own.
    probe = std::make_unique<sig::ProbeRun>(device.connection(), board, runMode, options,
        runOrder, [this](const sig::ProbeRun::Event &e) {
            run->toWindow([this, e] { onRunEvent(e); });
        });
    probe->select(first);
    sig::ProbeRun *p = probe.get();
    run = std::make_unique<DeviceRun>(
        device, zem::calls::Origin::Signature,
        [p](sig::ProbeRun::Clock::time_point now) { return p->advance(now); },
        [p] { p->cancel(); }, this);
    connect(run.get(), &DeviceRun::finished, this, &SignaturesDock::runFinished);
    connect(run.get(), &DeviceRun::waiting, this, &SignaturesDock::showWaiting);
    ++runCount;
    model->setResults(runMode == sig::Session::Mode::Test ? &testResults : nullptr);
    selectRow(first);
    running = true;
    measuring = false;
    updateButtons();
    emit logMessage(runMode == sig::Session::Mode::Learn ? tr("Signatures: learning started")
                                                         : tr("Signatures: test started"),
        LogLevel::Normal);
    run->start();
}

void SignaturesDock::stopRun()
{
    if (isRunning())
        run->stop();
}

void SignaturesDock::measure()
{
    if (!isRunning() || measuring)
        return;
    run->post([p = probe.get()] { p->trigger(); });
}

void SignaturesDock::runFinished()
{
    running = false;
    measuring = false;
    widget()->unsetCursor();
    // The device thread is done with the machine.
    finished = probe && probe->session().done();
    emit logMessage(tr("Signatures: run stopped"), LogLevel::Normal);
    updateButtons();
    if (finished && runMode == sig::Session::Mode::Test && keepHistoryCheck->isChecked())
        recordRun();
}

std::vector<int> SignaturesDock::likelyOrder()
{
    std::vector<int> order(board.points.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        order[k] = int(k);
    // Without the history the run goes in the usual order: it still tests.
    QString error;
    const auto where = zem::history::parseLocation(historyLocation, &error);
    zem::history::Store store;
    if (!where || !store.open(*where)) {
        emit logMessage(tr("Signatures: no probing order from the history %1: %2")
                            .arg(historyLocation, where ? store.errorString() : error),
            LogLevel::Failure);
        return order;
    }
    const auto likely = store.probeOrder(board.board);
    if (!likely) {
        emit logMessage(tr("Signatures: no probing order from the history %1: %2")
                            .arg(historyLocation, store.errorString()),
            LogLevel::Failure);
        return order;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const auto rank = [&](int k) {
            const qsizetype at = likely->indexOf(board.points[std::size_t(k)].name);
            return at < 0 ? likely->size() : at;
        };
        return rank(a) < rank(b);
    });
    return order;
}

void SignaturesDock::recordRun()
{
    std::vector<int> order = runOrder;
    if (order.empty())
        for (std::size_t k = 0; k < board.points.size(); ++k)
            order.push_back(int(k));
    const zem::history::Run record = sig::historyRun(board, testResults, order, runStarted,
        serialEdit->text().trimmed(), QFileInfo(path).fileName());
    const QString uuid = record.uuid.toString(QUuid::WithoutBraces);
    QString error;
    const auto where = zem::history::parseLocation(historyLocation, &error);
    zem::history::Store store;
    if (!where || !store.open(*where)) {
        emit logMessage(tr("Signatures: run %1 not kept in the history %2: %3")
                            .arg(uuid, historyLocation, where ? store.errorString() : error),
            LogLevel::Failure);
        return;
    }
    switch (store.record(record)) {
    case zem::history::Store::Outcome::Stored:
    case zem::history::Store::Outcome::AlreadyStored:
        emit logMessage(tr("Signatures: run %1 kept in the history").arg(uuid), LogLevel::Normal);
        emit runRecorded();
        break;
    case zem::history::Store::Outcome::Spooled:
        emit logMessage(tr("Signatures: the history server cannot be reached (%1); run %2 waits "
                           "in the local spool")
                            .arg(store.errorString(), uuid),
            LogLevel::Failure);
        break;
    case zem::history::Store::Outcome::Failed:
        emit logMessage(tr("Signatures: run %1 not kept in the history: %2")
                            .arg(uuid, store.errorString()),
            LogLevel::Failure);
        break;
    }
}

void SignaturesDock::showWaiting(bool slow)
{
    if (slow)
        widget()->setCursor(Qt::BusyCursor);
    else
        widget()->unsetCursor();
}

void SignaturesDock::onRunEvent(const sig::ProbeRun::Event &e)
{
    using Event = sig::ProbeRun::Event;
    const bool learning = runMode == sig::Session::Mode::Learn;
    switch (e.kind) {
    case Event::Measuring:
        measuring = true;
        updateButtons();
        break;
    case Event::Waiting: {
        selectRow(e.point);
        const QString &name = board.points[std::size_t(e.point)].name;
        setStatus(learning ? tr("Learning: probe %1 and measure.").arg(name)
                           : tr("Testing: probe %1 and measure.").arg(name));
        break;
    }
    case Event::Measured: {
        sig::Point &p = board.points[std::size_t(e.point)];
        if (learning) {
            p.measurements[e.measurement].reference = e.curve;
            modified = true;
            plot(&e.curve, nullptr);
        } else {
            const auto &ref = p.measurements[e.measurement].reference;
            plot(ref ? &*ref : nullptr, &e.curve);
        }
        measuring = false;
        model->pointChanged(e.point);
        updateButtons();
        break;
    }
    case Event::PointDone: {
        const sig::Point &p = board.points[std::size_t(e.point)];
        QString text;
        if (learning) {
            text = tr("%1 learned").arg(p.name);
        } else {
            testResults[std::size_t(e.point)] = e.result;
            model->pointChanged(e.point);
            const sig::PointResult &r = e.result;
            text = std::isnan(r.score) ? tr("%1: %2").arg(p.name, sig::verdictText(r.verdict))
                                       : tr("%1: %2, score %3 % (tolerance %4 %); %5")
                                             .arg(p.name, sig::verdictText(r.verdict))
                                             .arg(r.score, 0, 'f', 1)
                                             .arg(board.toleranceOf(p), 0, 'f', 1)
                                             .arg(r.reading.text());
            emit logMessage(tr("Signatures: %1").arg(text),
                r.verdict == sig::Verdict::Pass ? LogLevel::Normal : LogLevel::Failure);
        }
        setStatus(text);
        emit pointDone(e.point, e.step.verdict);
        break;
    }
    case Event::Failed:
        measuring = false;
        setStatus(e.message);
        emit logMessage(tr("Signatures: %1").arg(e.message), LogLevel::Failure);
        updateButtons();
        break;
    case Event::Ended:
        if (e.complete)
            setStatus(tr("%1. All points done.").arg(status->text()));
        break;
    }
}

void SignaturesDock::showPoint(int row)
{
    if (row < 0 || row >= int(board.points.size()))
        return;
    const sig::Point &p = board.points[std::size_t(row)];
    const auto &ref = p.measurements.front().reference;
    const auto *r = results();
    const sig::IvCurve *test
        = r && std::size_t(row) < r->size() && !(*r)[std::size_t(row)].curves.empty()
        ? &(*r)[std::size_t(row)].curves.front()
        : nullptr;
    plot(ref ? &*ref : nullptr, test);
}

void SignaturesDock::plot(const sig::IvCurve *reference, const sig::IvCurve *test)
{
    referenceSeries->replace(reference ? pointsOf(*reference) : QList<QPointF>());
    testSeries->replace(test ? pointsOf(*test) : QList<QPointF>());
    double vlo = -1, vhi = 1, ilo = -1, ihi = 1;
    bool any = false;
    for (const sig::IvCurve *c : { reference, test }) {
        if (!c)
            continue;
        for (std::size_t k = 0; k < c->volts.size() && k < c->milliamps.size(); ++k) {
            if (!std::isfinite(c->volts[k]) || !std::isfinite(c->milliamps[k]))
                continue;
            if (!any) {
                vlo = vhi = c->volts[k];
                ilo = ihi = c->milliamps[k];
                any = true;
            }
            vlo = std::min(vlo, c->volts[k]);
            vhi = std::max(vhi, c->volts[k]);
            ilo = std::min(ilo, c->milliamps[k]);
            ihi = std::max(ihi, c->milliamps[k]);
        }
    }
    const auto pad = [](double &lo, double &hi) {
        const double m = std::max(0.05 * (hi - lo), 1e-3);
        lo -= m;
        hi += m;
    };
    pad(vlo, vhi);
    pad(ilo, ihi);
    axisV->setRange(vlo, vhi);
    axisI->setRange(ilo, ihi);
}
