#include "signaturesdock.h"
#include "ui_signaturesdock.h"

#include "boardeditor.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "ivchart.h"
#include "pointtable.h"
#include "proberpanel.h"
#include "runcontroller.h"
#include "savequestion.h"
#include "signaturedocument.h"
#include "signaturemodel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequenceEdit>
#include <QMessageBox>
#include <QScrollArea>
#include <QShortcut>
#include <QUndoStack>

#include <algorithm>

SignaturesDock::SignaturesDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("Signatures"), parent)
    , m_context(context)
    , m_document(new SignatureDocument(this))
    , m_run(new RunController(context, *m_document, this))
{
    setObjectName(QStringLiteral("signaturesDock"));
    // The widgets come when the dock is first shown or used.
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            buildUi();
    });
    connect(m_document, &SignatureDocument::fileUsed, this, &SignaturesDock::fileUsed);
    connect(m_document, &SignatureDocument::opened, this, [this](bool ok) {
        if (ok)
            opened(m_document->path());
        else
            fail(m_document->errorString());
        emit fileOpened(ok);
    });
    connect(m_run, &RunController::logMessage, this, &SignaturesDock::logMessage);
    connect(m_run, &RunController::pointDone, this, &SignaturesDock::pointDone);
    connect(m_run, &RunController::runRecorded, this, &SignaturesDock::runRecorded);
}

SignaturesDock::~SignaturesDock() = default;

const sig::Signature &SignaturesDock::signature() const
{
    return m_document->signature();
}

const std::vector<sig::PointResult> *SignaturesDock::results() const
{
    return m_run->results();
}

bool SignaturesDock::isRunning() const
{
    return m_run->isRunning();
}

QUndoStack *SignaturesDock::undoStack() const
{
    return m_document->undoStack();
}

bool SignaturesDock::isModified() const
{
    return m_document->isModified();
}

void SignaturesDock::buildUi()
{
    if (ui)
        return;
    ui = std::make_unique<Ui::SignaturesDock>();
    auto *body = new QWidget(this);
    ui->setupUi(body);
    PointTable *table = ui->signatureTable;
    table->attach(m_document);
    addActions(table->actions());

    m_chart = new IvChart(ui->curvePage);
    m_chart->setObjectName(QStringLiteral("signatureChart"));
    m_chart->setMinimumSize(240, 180);
    m_chart->addCurve(IvChart::Role::Reference, tr("Reference"));
    m_chart->addCurve(IvChart::Role::Test, tr("Test"));
    ui->curveLayout->addWidget(m_chart);
    ui->signatureSplitter->setStretchFactor(1, 1);
    ui->signatureSplitter->setSizes({ 460, 540 });
    // Its rows of buttons are wider than a dock beside the pages on a small
    // screen: they scroll, rather than widen the window past the screen.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("signaturesScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(body);
    setWidget(scroll);

    // A station's choices, kept between sessions.
    Settings &settings = m_context.settings();
    ui->signatureLikelyFirstCheck->setChecked(settings.likelyFaultsFirst(false));
    ui->signatureKeepHistoryCheck->setChecked(settings.keepTestRuns(true));
    connect(ui->signatureLikelyFirstCheck, &QCheckBox::toggled, this,
        [this](bool on) { m_context.settings().setLikelyFaultsFirst(on); });
    connect(ui->signatureKeepHistoryCheck, &QCheckBox::toggled, this,
        [this](bool on) { m_context.settings().setKeepTestRuns(on); });
    ui->signatureOnContactCheck->setChecked(settings.measureOnContact());
    connect(ui->signatureOnContactCheck, &QCheckBox::toggled, this,
        [this](bool on) { m_context.settings().setMeasureOnContact(on); });
    // A foot switch types its key into whatever has the focus.
    m_measureKey = new QShortcut(QKeySequence(settings.measureKey()), this);
    m_measureKey->setContext(Qt::ApplicationShortcut);
    connect(m_measureKey, &QShortcut::activated, this, &SignaturesDock::measure);
    ui->signatureMeasureKeyEdit->setKeySequence(m_measureKey->key());
    connect(ui->signatureMeasureKeyEdit, &QKeySequenceEdit::editingFinished, this, [this] {
        // One key, the first one pressed.
        const QKeySequence typed = ui->signatureMeasureKeyEdit->keySequence();
        const QKeySequence key = typed.isEmpty() ? QKeySequence() : QKeySequence(typed[0]);
        ui->signatureMeasureKeyEdit->setKeySequence(key);
        m_measureKey->setKey(key);
        m_context.settings().setMeasureKey(key.toString(QKeySequence::PortableText));
    });

    connect(ui->signatureNewButton, &QPushButton::clicked, this, [this] {
        if (maybeSave())
            newSignature();
    });
    connect(ui->signatureOpenButton, &QPushButton::clicked, this, &SignaturesDock::openDialog);
    connect(ui->signatureSaveButton, &QPushButton::clicked, this, &SignaturesDock::saveDialog);
    connect(ui->signatureSaveAsButton, &QPushButton::clicked, this, &SignaturesDock::saveAsDialog);
    connect(ui->signatureReportButton, &QPushButton::clicked, this, &SignaturesDock::reportDialog);
    connect(ui->signatureAddButton, &QPushButton::clicked, this, [this] {
        if (addPoints(ui->signaturePointEdit->text()) > 0)
            ui->signaturePointEdit->clear();
    });
    connect(ui->signaturePointEdit, &QLineEdit::returnPressed, ui->signatureAddButton,
        &QPushButton::click);
    connect(ui->signaturePasteButton, &QPushButton::clicked, this,
        [this] { addPoints(QGuiApplication::clipboard()->text()); });
    // A barcode scanner types the serial and presses Enter: the test starts.
    connect(ui->signatureSerialEdit, &QLineEdit::returnPressed, this, [this] {
        if (isRunning())
            return;
        ui->signatureTestButton->setChecked(true);
        startRun();
        // Space measures from here on; in the serial it would type a space.
        if (isRunning())
            ui->signatureTable->setFocus();
    });
    connect(ui->signatureBoardEdit, &QLineEdit::textEdited, m_document,
        &SignatureDocument::setBoardName);
    connect(ui->signatureRunButton, &QPushButton::clicked, this,
        [this] { isRunning() ? stopRun() : startRun(); });
    connect(ui->signatureMeasureButton, &QPushButton::clicked, this, &SignaturesDock::measure);
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &SignaturesDock::measure);
    connect(table, &PointTable::currentRowChanged, this, [this](int row) {
        m_run->select(row);
        showPoint(row);
        if (m_board)
            m_board->setCurrent(row);
    });
    connect(ui->signatureTabs, &QTabWidget::currentChanged, this, [this](int tab) {
        if (ui->signatureTabs->widget(tab) == ui->boardPage)
            boardEditor();
    });

    connect(m_run, &RunController::statusChanged, this, &SignaturesDock::setStatus);
    connect(m_run, &RunController::stateChanged, this, &SignaturesDock::updateButtons);
    connect(m_run, &RunController::pointSelected, this, &SignaturesDock::selectRow);
    connect(m_run, &RunController::curvesChanged, this, &SignaturesDock::plot);
    connect(m_run, &RunController::slow, this, [this](bool waiting) {
        if (waiting)
            widget()->setCursor(Qt::BusyCursor);
        else
            widget()->unsetCursor();
    });
    connect(m_document, &SignatureDocument::replaced, this, [this] {
        ui->signatureBoardEdit->setText(m_document->signature().board);
        if (!m_document->signature().points.empty())
            selectRow(0);
        else
            plot(nullptr, nullptr);
    });
    updateButtons();
}

BoardEditor *SignaturesDock::boardEditor()
{
    buildUi();
    if (m_board)
        return m_board;
    m_board = new BoardEditor(m_context, *m_document, ui->boardPage);
    ui->boardLayout->addWidget(m_board);
    m_board->setCurrent(ui->signatureTable->currentRow());
    m_board->setEditable(!isRunning());
    connect(m_board, &BoardEditor::pointChosen, this, &SignaturesDock::selectRow);
    connect(m_board, &BoardEditor::pictureChosen, this, &SignaturesDock::setPicture);
    connect(m_board, &BoardEditor::statusChanged, this, &SignaturesDock::setStatus);
    connect(m_board, &BoardEditor::stopRequested, this, &SignaturesDock::stopRun);
    connect(m_run, &RunController::machineMoved, m_board, [this](QPointF at) {
        if (m_board->prober())
            m_board->prober()->showRunPosition(at);
    });
    return m_board;
}

void SignaturesDock::startRun()
{
    buildUi();
    if (isRunning())
        return;
    using Kind = RunController::Kind;
    RunController::Options options;
    options.kind = ui->signatureSymmetryButton->isChecked() ? Kind::CompareAlike
        : ui->signatureLearnButton->isChecked()             ? Kind::Learn
                                                            : Kind::Test;
    options.addBoard = ui->signatureAddBoardCheck->isChecked();
    options.autoSettings = ui->signatureAutoSettingsCheck->isChecked();
    options.repeat = ui->signatureRepeatBox->value();
    options.onContact = ui->signatureOnContactCheck->isChecked();
    options.likelyFirst = ui->signatureLikelyFirstCheck->isChecked();
    options.keepInHistory = ui->signatureKeepHistoryCheck->isChecked();
    options.serial = ui->signatureSerialEdit->text().trimmed();
    options.row = ui->signatureTable->currentRow();
    const auto &points = signature().points;
    const auto learned = std::count_if(
        points.begin(), points.end(), [](const sig::Point &p) { return p.learned(); });
    if (options.kind == Kind::Learn && !options.addBoard && learned > 0
        && m_context.session().isOpen()) {
        QMessageBox box(QMessageBox::Question, tr("Signatures"),
            tr("Replace %n learned reference(s)?", nullptr, int(learned)),
            QMessageBox::Yes | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("replaceQuestion"));
        box.setInformativeText(tr("A point measured again gets a new reference; "
                                  "Ctrl+Z takes it back after the run."));
        box.button(QMessageBox::Yes)->setText(tr("Replace"));
        if (box.exec() != QMessageBox::Yes)
            return;
    }
    // A machine connected on the Board tab probes the run; its line is the
    // run's until the run ends.
    ProberPanel *prober = m_board ? m_board->prober() : nullptr;
    options.proberUrl = prober ? prober->takeForRun() : QString();
    if (!m_run->start(options) && prober)
        prober->runEnded();
}

void SignaturesDock::stopRun()
{
    m_run->stop();
}

void SignaturesDock::measure()
{
    m_run->measure();
}

void SignaturesDock::showPoint(int row)
{
    if (row < 0 || row >= int(signature().points.size()))
        return;
    const auto [reference, test] = m_run->curvesOf(row);
    plot(reference, test);
}

void SignaturesDock::plot(const sig::IvCurve *reference, const sig::IvCurve *test)
{
    const auto pointsOf = [](const sig::IvCurve *c) {
        return c ? IvChart::pointsOf(c->volts, c->milliamps) : QList<QPointF>();
    };
    m_chart->setCurves(pointsOf(reference), pointsOf(test));
}

void SignaturesDock::selectRow(int row)
{
    if (ui)
        ui->signatureTable->selectRow(row);
}

void SignaturesDock::setStatus(const QString &text)
{
    buildUi();
    ui->signatureStatus->setText(text);
}

void SignaturesDock::fail(const QString &message)
{
    setStatus(message);
    emit logMessage(message, LogLevel::Failure);
}

void SignaturesDock::updateButtons()
{
    const bool running = isRunning();
    ui->signatureTable->setEditable(!running);
    if (m_board)
        m_board->setEditable(!running);
    if (m_board && m_board->prober() && !running)
        m_board->prober()->runEnded();
    ui->signatureRunButton->setText(running ? tr("Stop") : tr("Start"));
    ui->signatureMeasureButton->setEnabled(running && !m_run->isMeasuring());
    for (QWidget *w :
        { ui->signatureLearnButton, ui->signatureTestButton, ui->signatureSymmetryButton })
        w->setEnabled(!running);
}

int SignaturesDock::addPoints(const QString &names)
{
    buildUi();
    QStringList taken;
    const int added = m_document->addPoints(names, &taken);
    if (!taken.isEmpty())
        setStatus(tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
    if (added > 0 && ui->signatureTable->currentRow() < 0)
        selectRow(0);
    return added;
}

int SignaturesDock::addComponent(const QString &component, int pins)
{
    buildUi();
    QStringList taken;
    const int added = m_document->addComponent(component, pins, &taken);
    if (added == 0)
        setStatus(tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
    else if (ui->signatureTable->currentRow() < 0)
        selectRow(0);
    return added;
}

void SignaturesDock::placeComponent(const QString &component, bool twoRows)
{
    BoardEditor *editor = boardEditor();
    ui->signatureTabs->setCurrentWidget(ui->boardPage);
    editor->placeComponent(component, twoRows);
}

bool SignaturesDock::setPicture(const QString &file)
{
    buildUi();
    if (!m_document->setPicture(file)) {
        fail(m_document->errorString());
        return false;
    }
    const QSize size = signature().image->size;
    setStatus(tr("Picture %1 x %2 pixels").arg(size.width()).arg(size.height()));
    if (m_board)
        m_board->showHint();
    return true;
}
