#include "signaturesdock.h"

#include "boardview.h"
#include "signatureedits.h"
#include "signaturemodel.h"
#include "symmetry.h"

#include "board.h"
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
#include "worker.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

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
    , m_undo(new QUndoStack(this))
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

SignaturesDock::~SignaturesDock()
{
    // The table's widgets outlive the signature they show: an editor still
    // open commits when it is closed, after the members are gone.
    if (model)
        model->setSignature(nullptr);
}

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
    // Pins that should look alike (a group, or every point) compared with each
    // other: no good board needed.
    symmetryButton = new QRadioButton(tr("Compare alike"), body);
    symmetryButton->setObjectName(QStringLiteral("signatureSymmetryButton"));
    symmetryButton->setToolTip(tr("Measure the points of the selected point's group (or all) "
                                  "and flag the odd ones out"));
    runRow->addWidget(symmetryButton);
    runRow->addWidget(runButton);
    runRow->addWidget(measureButton);
    // Learn: one more good board of a lot, and each point's best range;
    // Test: captures of each point, which tell an unstable pin.
    addBoardCheck = new QCheckBox(tr("Add this board"), body);
    addBoardCheck->setObjectName(QStringLiteral("signatureAddBoardCheck"));
    addBoardCheck->setToolTip(tr("Learn: add this good board's curves to the references "
                                 "instead of replacing them"));
    autoSettingsCheck = new QCheckBox(tr("Choose ranges"), body);
    autoSettingsCheck->setObjectName(QStringLiteral("signatureAutoSettingsCheck"));
    autoSettingsCheck->setToolTip(tr(
        "Learn: measure each point with every current range and keep the one that shows it best"));
    repeatBox = new QSpinBox(body);
    repeatBox->setObjectName(QStringLiteral("signatureRepeatBox"));
    repeatBox->setRange(1, 20);
    repeatBox->setValue(2);
    repeatBox->setPrefix(tr("Captures: "));
    repeatBox->setToolTip(tr("Test: captures of each point; when they disagree the point is "
                             "unstable (retest)"));
    runRow->addWidget(addBoardCheck);
    runRow->addWidget(autoSettingsCheck);
    runRow->addWidget(repeatBox);
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
    // A station's choice, kept between sessions (by programs that name
    // themselves; tests and figures keep nothing).
    if (!QCoreApplication::organizationName().isEmpty()) {
        const std::pair<QCheckBox *, const char *> kept[]
            = { { likelyFirstCheck, "signatures/likelyFirst" },
                  { keepHistoryCheck, "signatures/keepHistory" } };
        for (const auto &[check, key] : kept) {
            check->setChecked(QSettings().value(QLatin1String(key), check->isChecked()).toBool());
            connect(check, &QCheckBox::toggled, this,
                [key = key](bool on) { QSettings().setValue(QLatin1String(key), on); });
        }
    }

    auto *split = new QSplitter(Qt::Horizontal, body);
    model = new SignatureModel(this);
    table = new QTableView(split);
    table->setObjectName(QStringLiteral("signatureTable"));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->verticalHeader()->hide();
    // Verdict and score right after the name, sized to their texts, so that
    // they show at the dock's default width; the reading takes what is left.
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(24);
    for (int column : { SignatureModel::Number, SignatureModel::Verdict, SignatureModel::Score })
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->resizeSection(SignatureModel::Name, 110);
    table->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
    table->setDragDropMode(QAbstractItemView::InternalMove);
    table->setDragDropOverwriteMode(false);
    table->setDropIndicatorShown(true);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);

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
    m_tabs = new QTabWidget(split);
    m_tabs->setObjectName(QStringLiteral("signatureTabs"));
    auto *view = new QChartView(chart, m_tabs);
    view->setObjectName(QStringLiteral("signatureChart"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(240, 180);
    m_tabs->addTab(view, tr("Curve"));
    m_boardPage = new QWidget(m_tabs);
    m_tabs->addTab(m_boardPage, tr("Board"));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int tab) {
        if (m_tabs->widget(tab) == m_boardPage)
            buildBoard();
    });
    split->addWidget(table);
    split->addWidget(m_tabs);
    split->setStretchFactor(1, 1);
    split->setSizes({ 460, 540 });
    layout->addWidget(split, 1);

    status = new QLabel(body);
    status->setObjectName(QStringLiteral("signatureStatus"));
    status->setWordWrap(true);
    layout->addWidget(status);
    setWidget(body);

    connect(newButton, &QPushButton::clicked, this, [this] {
        if (maybeSave())
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
    connect(
        runButton, &QPushButton::clicked, this, [this] { isRunning() ? stopRun() : startRun(); });
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
            if (m_boardView)
                m_boardView->setCurrent(current.row());
        });

    // The points' edits: each an undoable command.
    connect(model, &SignatureModel::renameRequested, this, [this](int row, const QString &name) {
        m_undo->push(new edits::RenamePoint(*model, row, name));
    });
    // Queued: the drop that asks is still in progress in the table.
    connect(
        model, &SignatureModel::moveRequested, this,
        [this](int from, int to) {
            if (!isRunning()) {
                m_undo->push(new edits::MovePoint(*model, from, to));
                selectRow(to);
            }
        },
        Qt::QueuedConnection);
    const auto action = [this](const QString &text, const QKeySequence &keys, auto &&slot) {
        auto *a = new QAction(text, this);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    QAction *undo = action(tr("Undo"), QKeySequence::Undo, [this] {
        if (!isRunning())
            m_undo->undo();
    });
    QAction *redo = action(tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] {
        if (!isRunning())
            m_undo->redo();
    });
    undo->setObjectName(QStringLiteral("signatureUndoAction"));
    redo->setObjectName(QStringLiteral("signatureRedoAction"));
    connect(m_undo, &QUndoStack::undoTextChanged, undo,
        [undo](const QString &text) { undo->setText(tr("Undo %1").arg(text).trimmed()); });
    connect(m_undo, &QUndoStack::redoTextChanged, redo,
        [redo](const QString &text) { redo->setText(tr("Redo %1").arg(text).trimmed()); });
    QAction *rename = action(tr("Rename"), QKeySequence(Qt::Key_F2), [this] {
        if (table->currentIndex().isValid() && !isRunning())
            table->edit(model->index(table->currentIndex().row(), SignatureModel::Name));
    });
    QAction *remove = action(tr("Delete"), QKeySequence::Delete, &SignaturesDock::deleteSelected);
    QAction *up
        = action(tr("Move up"), QKeySequence(Qt::ALT | Qt::Key_Up), [this] { moveCurrent(-1); });
    QAction *down
        = action(tr("Move down"), QKeySequence(Qt::ALT | Qt::Key_Down), [this] { moveCurrent(1); });
    for (QAction *a : { undo, redo, rename, remove, up, down })
        table->addAction(a);
    model->setSignature(&board);
    updateButtons();
}

void SignaturesDock::buildBoard()
{
    if (m_boardView)
        return;
    auto *layout = new QVBoxLayout(m_boardPage);
    layout->setContentsMargins(0, 4, 0, 0);
    auto *row = new QHBoxLayout;
    auto *pictureButton = new QPushButton(tr("Picture..."), m_boardPage);
    pictureButton->setObjectName(QStringLiteral("signaturePictureButton"));
    pictureButton->setToolTip(tr("A photo or scan of the board (PNG or JPEG), kept in the file"));
    auto *componentButton = new QPushButton(tr("Component..."), m_boardPage);
    componentButton->setObjectName(QStringLiteral("signatureComponentButton"));
    componentButton->setToolTip(tr("Add a component's pins and place them with two clicks"));
    m_boardHint = new QLabel(m_boardPage);
    m_boardHint->setObjectName(QStringLiteral("boardHint"));
    m_boardHint->setWordWrap(true);
    row->addWidget(pictureButton);
    row->addWidget(componentButton);
    row->addWidget(m_boardHint, 1);
    layout->addLayout(row);
    m_boardView = new BoardView(m_boardPage);
    layout->addWidget(m_boardView, 1);
    m_boardView->setModel(model);
    m_boardView->setCurrent(table->currentIndex().row());
    m_boardView->setEditable(!isRunning());
    connect(pictureButton, &QPushButton::clicked, this, &SignaturesDock::pictureDialog);
    connect(componentButton, &QPushButton::clicked, this, &SignaturesDock::componentDialog);
    connect(m_boardView, &BoardView::pointClicked, this, &SignaturesDock::selectRow);
    connect(m_boardView, &BoardView::pictureClicked, this, &SignaturesDock::onPictureClicked);
    connect(m_boardView, &BoardView::pointDragged, this, [this](int row, QPointF to) {
        m_undo->push(new edits::PlacePoints(
            *model, { { row, to } }, tr("Move %1").arg(board.points[std::size_t(row)].name)));
    });
    m_boardHint->setText(board.image ? tr("Choose a point and click on the picture to place it.")
                                     : tr("Load a picture of the board."));
}

void SignaturesDock::pictureDialog()
{
    const QString file = files->openFileName({ this, tr("Picture of the board"), path,
        tr("Pictures (*.png *.jpg *.jpeg);;All files (*)") });
    if (!file.isEmpty())
        setPicture(file);
}

bool SignaturesDock::setPicture(const QString &file)
{
    buildUi();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        fail(tr("Cannot read %1: %2").arg(file, in.errorString()));
        return false;
    }
    QString why;
    auto picture = sig::pictureFromData(in.readAll(), &why);
    if (!picture) {
        fail(tr("%1: %2").arg(file, why));
        return false;
    }
    const QSize size = picture->size;
    m_undo->push(new edits::SetPicture(*model, std::move(picture)));
    setStatus(tr("Picture %1 x %2 pixels").arg(size.width()).arg(size.height()));
    if (m_boardHint)
        m_boardHint->setText(tr("Choose a point and click on the picture to place it."));
    return true;
}

void SignaturesDock::componentDialog()
{
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Add a component"));
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(&dialog);
    name->setPlaceholderText(tr("U1"));
    auto *pins = new QSpinBox(&dialog);
    pins->setRange(1, 1000);
    pins->setValue(8);
    auto *twoRows = new QCheckBox(tr("Two rows (pins numbered around the package)"), &dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(tr("Name:"), name);
    form->addRow(tr("Pins:"), pins);
    form->addRow(twoRows);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || name->text().trimmed().isEmpty())
        return;
    if (addComponent(name->text().trimmed(), pins->value()) > 0 && board.image)
        placeComponent(name->text().trimmed(), twoRows->isChecked());
}

int SignaturesDock::addComponent(const QString &component, int pins)
{
    buildUi();
    const QStringList names = sig::pinNames(component, pins);
    QStringList taken;
    for (const QString &n : names)
        if (!model->nameIsFree(n))
            taken << n;
    if (!taken.isEmpty() || pins < 1) {
        setStatus(tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
        return 0;
    }
    std::vector<std::pair<int, sig::Point>> points;
    for (const QString &n : names) {
        sig::Point p;
        p.name = n;
        p.component = component;
        points.emplace_back(model->rowCount() + int(points.size()), std::move(p));
    }
    m_undo->push(new edits::InsertPoints(
        *model, std::move(points), tr("Add %1 (%n pins)", nullptr, pins).arg(component)));
    if (table->currentIndex().row() < 0)
        selectRow(0);
    return pins;
}

void SignaturesDock::placeComponent(const QString &component, bool twoRows)
{
    buildUi();
    buildBoard();
    m_tabs->setCurrentWidget(m_boardPage);
    m_placing = component;
    m_placingTwoRows = twoRows;
    m_clicks.clear();
    m_boardHint->setText(tr("Click pin 1 of %1.").arg(component));
}

void SignaturesDock::onPictureClicked(QPointF at)
{
    if (isRunning())
        return;
    if (m_placing.isEmpty()) {
        // Place the chosen point, then choose the next one without a place.
        const int row = table->currentIndex().row();
        if (row < 0)
            return;
        m_undo->push(new edits::PlacePoints(
            *model, { { row, at } }, tr("Place %1").arg(board.points[std::size_t(row)].name)));
        for (int next = row + 1; next < model->rowCount(); ++next)
            if (!board.points[std::size_t(next)].at) {
                selectRow(next);
                break;
            }
        return;
    }
    std::vector<int> rows;
    for (std::size_t k = 0; k < board.points.size(); ++k)
        if (board.points[k].component == m_placing)
            rows.push_back(int(k));
    const int pins = int(rows.size());
    m_clicks.push_back(at);
    const int needed = m_placingTwoRows && pins > 2 ? 3 : 2;
    if (int(m_clicks.size()) == 1) {
        m_boardHint->setText(tr("Click pin %1 of %2.").arg(pins).arg(m_placing));
        return;
    }
    if (int(m_clicks.size()) < needed) {
        m_boardHint->setText(
            tr("Click pin %1 of %2, the last of pin 1's row.").arg((pins + 1) / 2).arg(m_placing));
        return;
    }
    const std::vector<QPointF> places = needed == 3
        ? sig::twoRowsOfPins(m_clicks[0], m_clicks[1], m_clicks[2], pins)
        : sig::rowOfPins(m_clicks[0], m_clicks[1], pins);
    // Pins in their number's order, whatever order the rows have in the table.
    std::sort(rows.begin(), rows.end(), [this](int a, int b) {
        const QString &na = board.points[std::size_t(a)].name;
        const QString &nb = board.points[std::size_t(b)].name;
        return na.section(QLatin1Char('.'), -1).toInt() < nb.section(QLatin1Char('.'), -1).toInt();
    });
    std::vector<std::pair<int, std::optional<QPointF>>> placed;
    for (std::size_t k = 0; k < rows.size() && k < places.size(); ++k)
        placed.emplace_back(rows[k], places[k]);
    m_undo->push(new edits::PlacePoints(*model, std::move(placed), tr("Place %1").arg(m_placing)));
    m_boardHint->setText(tr("%1 placed.").arg(m_placing));
    m_placing.clear();
    m_clicks.clear();
}

void SignaturesDock::deleteSelected()
{
    if (isRunning() || !table->selectionModel())
        return;
    std::vector<int> rows;
    for (const QModelIndex &i : table->selectionModel()->selectedRows())
        rows.push_back(i.row());
    if (rows.empty() && table->currentIndex().isValid())
        rows.push_back(table->currentIndex().row());
    if (rows.empty())
        return;
    const int first = *std::min_element(rows.begin(), rows.end());
    m_undo->push(new edits::DeletePoints(*model, std::move(rows)));
    if (model->rowCount() > 0)
        selectRow(std::min(first, model->rowCount() - 1));
}

void SignaturesDock::moveCurrent(int by)
{
    const int row = table->currentIndex().row();
    const int to = row + by;
    if (isRunning() || row < 0 || to < 0 || to >= model->rowCount())
        return;
    m_undo->push(new edits::MovePoint(*model, row, to));
    selectRow(to);
}

void SignaturesDock::setEditing(bool allowed)
{
    model->setEditable(allowed);
    table->setDragEnabled(allowed);
    if (m_boardView)
        m_boardView->setEditable(allowed);
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
    setEditing(!running);
    runButton->setText(running ? tr("Stop") : tr("Start"));
    measureButton->setEnabled(running && !measuring);
    learnButton->setEnabled(!running);
    testButton->setEnabled(!running);
    symmetryButton->setEnabled(!running);
}

void SignaturesDock::setStatus(const QString &text)
{
    status->setText(text);
}

bool SignaturesDock::isModified() const
{
    return modified || !m_undo->isClean();
}

bool SignaturesDock::maybeSave()
{
    if (!isModified())
        return true;
    QMessageBox box(QMessageBox::Warning, tr("Signatures"),
        board.board.isEmpty()
            ? tr("The signature has changes that are not saved.")
            : tr("The signature of %1 has changes that are not saved.").arg(board.board),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedQuestion"));
    box.setInformativeText(tr("Save them first?"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return saveDialog();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
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
    boardEdit->clear();
    afterLoad();
    plot(nullptr, nullptr);
    setStatus(QString());
}

void SignaturesDock::afterLoad()
{
    modified = false;
    m_undo->clear();
    testResults.clear();
    finished = false;
    m_placing.clear();
    model->setSignature(&board);
    if (m_boardHint)
        m_boardHint->setText(board.image
                ? tr("Choose a point and click on the picture to place it.")
                : tr("Load a picture of the board."));
}

int SignaturesDock::addPoints(const QString &names)
{
    buildUi();
    std::vector<std::pair<int, sig::Point>> points;
    QStringList taken, added;
    for (const QString &name : sig::splitNames(names)) {
        if (model->nameIsFree(name) && !added.contains(name)) {
            sig::Point p;
            p.name = name;
            points.emplace_back(model->rowCount() + int(points.size()), std::move(p));
            added << name;
        } else {
            taken << name;
        }
    }
    if (!points.empty())
        m_undo->push(new edits::InsertPoints(
            *model, std::move(points), tr("Add %1").arg(added.join(QStringLiteral(", ")))));
    if (!taken.isEmpty())
        setStatus(tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
    if (!added.isEmpty() && table->currentIndex().row() < 0)
        selectRow(0);
    return int(added.size());
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
    return takeLoaded(file, std::move(loaded), error);
}

void SignaturesDock::openFileInBackground(const QString &file)
{
    buildUi();
    struct Loaded
    {
        std::optional<sig::Signature> signature;
        QString error;
    };
    setStatus(tr("Opening %1...").arg(file));
    auto *watcher = new QFutureWatcher<Loaded>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, file] {
        watcher->deleteLater();
        Loaded loaded = watcher->result();
        emit fileOpened(takeLoaded(file, std::move(loaded.signature), loaded.error));
    });
    watcher->setFuture(QtConcurrent::run([file] {
        Loaded loaded;
        loaded.signature = sig::load(file, &loaded.error);
        return loaded;
    }));
}

bool SignaturesDock::takeLoaded(
    const QString &file, std::optional<sig::Signature> loaded, const QString &error)
{
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
    boardEdit->setText(board.board);
    afterLoad();
    setStatus(tr("Opened %1: %2 points").arg(file).arg(board.points.size()));
    emit fileUsed(file);
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
    m_undo->setClean();
    setStatus(tr("Saved %1").arg(file));
    emit fileUsed(file);
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
    if (!maybeSave())
        return;
    const QString file = files->openFileName(
        { this, tr("Open signature"), path, tr("Signature files (*.json);;All files (*)") });
    if (!file.isEmpty())
        openFileInBackground(file);
}

bool SignaturesDock::saveDialog()
{
    return path.isEmpty() ? saveAsDialog() : saveFile(path);
}

bool SignaturesDock::saveAsDialog()
{
    const QString file = files->saveFileName(
        { this, tr("Save signature"), path, tr("Signature files (*.json);;All files (*)") });
    return !file.isEmpty() && saveFile(file);
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
    if (row < 0 || row >= model->rowCount())
        return;
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
    symmetryRun = symmetryButton->isChecked();
    // Compared pins are measured as a board is learned, into nothing kept.
    runMode = learnButton->isChecked() || symmetryRun ? sig::Session::Mode::Learn
                                                      : sig::Session::Mode::Test;
    if (runMode == sig::Session::Mode::Learn && !addBoardCheck->isChecked() && !symmetryRun) {
        const auto learned = std::count_if(board.points.begin(), board.points.end(),
            [](const sig::Point &p) { return p.learned(); });
        if (learned > 0) {
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
    }
    const int row = finished ? 0 : std::max(0, table->currentIndex().row());
    if (runMode != sig::Session::Mode::Test || !likelyFirstCheck->isChecked() || !history)
        return beginRun(row, {});
    // The order is read on the history's thread; the run starts when it comes.
    orderPending = true;
    updateButtons();
    setStatus(tr("Reading the probing order from the history..."));
    history->post(this,
        [this, row, type = board.board](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            std::optional<QStringList> likely;
            if (store)
                likely = store->probeOrder(type);
            const QString why = store ? store->errorString() : error;
            return [this, row, likely, why] {
                if (!orderPending)
                    return; // stopped meanwhile
                orderPending = false;
                if (!device.isOpen()) { // disconnected meanwhile
                    updateButtons();
                    return setStatus(tr("Connect to an instrument first."));
                }
                // Without the history the run goes in the usual order: it still tests.
                std::vector<int> order(board.points.size());
                for (std::size_t k = 0; k < order.size(); ++k)
                    order[k] = int(k);
                if (!likely)
                    emit logMessage(tr("Signatures: no probing order from the history %1: %2")
                                        .arg(history->locationText(), why),
                        LogLevel::Failure);
                else
                    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                        const auto rank = [&](int k) {
                            const qsizetype at = likely->indexOf(board.points[std::size_t(k)].name);
                            return at < 0 ? likely->size() : at;
                        };
                        return rank(a) < rank(b);
                    });
                beginRun(row, std::move(order));
            };
        });
}

void SignaturesDock::beginRun(int row, std::vector<int> order)
{
    finished = false;
    model->setResults(nullptr);
    run.reset();
    testResults.assign(board.points.size(), sig::PointResult());
    runOrder = std::move(order);
    symmetryCurves.assign(board.points.size(), sig::IvCurve());
    if (symmetryRun) {
        const QString group = board.points[std::size_t(row)].group;
        for (std::size_t k = 0; k < board.points.size(); ++k)
            if (group.isEmpty() || board.points[k].group == group)
                runOrder.push_back(int(k));
    }
    const int first = runOrder.empty() ? row : runOrder.front();
    runStarted = QDateTime::currentDateTimeUtc();
    sig::ProbeRun::Options options;
    options.pollButton = true;
    options.session.add = addBoardCheck->isChecked();
    options.session.autoSettings = autoSettingsCheck->isChecked();
    options.session.repeat = repeatBox->value();
    // The machine's events come on the device thread; the dock takes them on its own.
    probe = std::make_unique<sig::ProbeRun>(device.connection(), board, runMode, options, runOrder,
        [this](const sig::ProbeRun::Event &e) { run->toWindow([this, e] { onRunEvent(e); }); });
    probe->select(first);
    sig::ProbeRun *p = probe.get();
    run = std::make_unique<DeviceRun>(
        device, zem::calls::Origin::Signature,
        [p](sig::ProbeRun::Clock::time_point now) { return p->advance(now); }, [p] { p->cancel(); },
        this);
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
    if (orderPending) {
        orderPending = false;
        setStatus(tr("Run stopped"));
        updateButtons();
    } else if (running) {
        run->stop();
    }
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
    if (finished && runMode == sig::Session::Mode::Test && keepHistoryCheck->isChecked() && history)
        recordRun();
    if (finished && symmetryRun)
        showSymmetry();
}

void SignaturesDock::showSymmetry()
{
    std::vector<sig::IvCurve> curves;
    for (int k : runOrder)
        curves.push_back(symmetryCurves[std::size_t(k)]);
    const auto members = sig::symmetry(curves, board.settings, board.tolerance);
    testResults.assign(board.points.size(), sig::PointResult());
    int odd = 0;
    for (std::size_t i = 0; i < members.size() && i < runOrder.size(); ++i) {
        sig::PointResult &r = testResults[std::size_t(runOrder[i])];
        r.verdict = members[i].outlier ? sig::Verdict::Different : sig::Verdict::Pass;
        r.score = members[i].score;
        r.curves = { curves[i] };
        r.reading = sig::read(curves[i], board.settings);
        if (members[i].outlier) {
            r.cause = members[i].cause;
            ++odd;
        }
    }
    model->setResults(&testResults);
    const QString text = tr("%n point(s) differ from the others", nullptr, odd);
    setStatus(text);
    emit logMessage(tr("Signatures: %1").arg(text), odd ? LogLevel::Failure : LogLevel::Normal);
}

void SignaturesDock::recordRun()
{
    std::vector<int> order = runOrder;
    if (order.empty())
        for (std::size_t k = 0; k < board.points.size(); ++k)
            order.push_back(int(k));
    const zem::history::Run record = zem::history::historyRun(board, testResults, order, runStarted,
        serialEdit->text().trimmed(), QFileInfo(path).fileName());
    const QString uuid = record.uuid.toString(QUuid::WithoutBraces);
    // The window goes on while the run is written; the history's thread
    // finishes it even when the window closes first.
    history->post(this,
        [this, record, uuid, where = history->locationText()](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            if (!store)
                return [this, uuid, where, error] {
                    emit logMessage(tr("Signatures: run %1 not kept in the history %2: %3")
                                        .arg(uuid, where, error),
                        LogLevel::Failure);
                };
            const auto outcome = store->record(record);
            const QString why = store->errorString();
            return [this, uuid, outcome, why] {
                switch (outcome) {
                case zem::history::Store::Outcome::Stored:
                case zem::history::Store::Outcome::AlreadyStored:
                    emit logMessage(
                        tr("Signatures: run %1 kept in the history").arg(uuid), LogLevel::Normal);
                    emit runRecorded();
                    break;
                case zem::history::Store::Outcome::Spooled:
                    emit logMessage(tr("Signatures: the history server cannot be reached (%1); "
                                       "run %2 waits in the local spool")
                                        .arg(why, uuid),
                        LogLevel::Failure);
                    break;
                case zem::history::Store::Outcome::Failed:
                    emit logMessage(
                        tr("Signatures: run %1 not kept in the history: %2").arg(uuid, why),
                        LogLevel::Failure);
                    break;
                }
            };
        });
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
        if (m_boardView)
            m_boardView->setCurrent(e.point);
        const QString &name = board.points[std::size_t(e.point)].name;
        setStatus(learning ? tr("Learning: probe %1 and measure.").arg(name)
                           : tr("Testing: probe %1 and measure.").arg(name));
        break;
    }
    case Event::Measured: {
        sig::Point &p = board.points[std::size_t(e.point)];
        if (symmetryRun) {
            if (e.measurement == 0)
                symmetryCurves[std::size_t(e.point)] = e.curve;
            plot(nullptr, &e.curve);
        } else if (learning) {
            plot(&e.curve, nullptr); // stored once the point is done (PointDone)
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
            text = symmetryRun ? tr("%1 measured").arg(p.name) : tr("%1 learned").arg(p.name);
            if (!symmetryRun && e.learned
                && e.learned->measurements.size() == p.measurements.size()) {
                m_undo->beginMacro(tr("Learn %1").arg(p.name));
                for (std::size_t m = 0; m < p.measurements.size(); ++m)
                    m_undo->push(new edits::Learn(*model, e.point, m, e.learned->measurements[m]));
                m_undo->endMacro();
            }
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
