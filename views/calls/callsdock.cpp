#include "callsdock.h"

#include "calldetail.h"
#include "callfile.h"
#include "callsfilter.h"
#include "callsmodel.h"
#include "callstats.h"
#include "csnippet.h"
#include "dockcontext.h"
#include "filechooser.h"
#include "recording.h"
#include "records.h"
#include "savefile.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const kCallFilter = QT_TR_NOOP("Call files (*.jsonl);; All files (*)");

// No translation ships, so plurals are chosen here rather than by "%n".
QString callsText(std::size_t n)
{
    return n == 1 ? CallsDock::tr("1 call") : CallsDock::tr("%1 calls").arg(n);
}

} // namespace

CallsDock::CallsDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("Calls"), parent)
    , m_context(context)
{
    setObjectName(QStringLiteral("callsDock"));
    live = new CallsModel(zem::calls::kDefaultRingCapacity, this);
    filter = new CallsFilter(this);

    // The live model tells of new calls once per frame: the table follows,
    // the counts and statistics are brought up to date as often.
    connect(live, &CallsModel::recorded, this, [this] {
        if (table && shownModel() == live) {
            if (follow)
                table->scrollToBottom();
            updateDropped();
            if (tabs->currentIndex() == 1)
                updateStats();
        }
        emit callsChanged();
    });

    // The tables and buttons are built when the dock is first shown: most
    // sessions never look at them, and they are a sixth of start-up. The
    // filter takes the live calls then too.
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            build();
    });
}

void CallsDock::build()
{
    if (tabs)
        return;
    tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("callsTabs"));
    tabs->addTab(buildCallsTab(), tr("Calls"));
    stats = new QTreeWidget;
    stats->setObjectName(QStringLiteral("callsStats"));
    stats->setRootIsDecorated(false);
    stats->header()->setStretchLastSection(false);
    stats->setHeaderLabels(
        { tr("Command"), tr("Calls"), tr("Failures"), tr("Min"), tr("Median"), tr("Max") });
    tabs->addTab(stats, tr("Statistics"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int i) {
        if (i == 1)
            updateStats();
    });
    setWidget(tabs);
    showModel(live);
}

CallsDock::~CallsDock()
{
    detach();
}

QWidget *CallsDock::buildCallsTab()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);

    filterEdit = new QLineEdit;
    filterEdit->setObjectName(QStringLiteral("callsFilter"));
    filterEdit->setPlaceholderText(tr("Filter by command"));
    filterEdit->setClearButtonEnabled(true);
    errorsOnly = new QCheckBox(tr("Errors only"));
    errorsOnly->setObjectName(QStringLiteral("callsErrorsOnly"));
    dropped = new QLabel;
    dropped->setObjectName(QStringLiteral("callsDropped"));
    auto *top = new QHBoxLayout;
    top->addWidget(filterEdit, 1);
    top->addWidget(errorsOnly);
    top->addWidget(dropped);
    layout->addLayout(top);

    source = new QLabel;
    source->setObjectName(QStringLiteral("callsSource"));
    liveButton = new QPushButton(tr("Back to live calls"));
    liveButton->setObjectName(QStringLiteral("liveCallsButton"));
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(source, 1);
    fileRow->addWidget(liveButton);
    layout->addLayout(fileRow);

    table = new QTableView;
    table->setObjectName(QStringLiteral("callsView"));
    table->setModel(filter);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSortingEnabled(false);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Fixed row heights: the view never measures 100,000 rows.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    detail = new CallDetail;
    auto *split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("callsSplitter"));
    split->addWidget(table);
    split->addWidget(detail);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    // Neither side vanishes under the handle, and both can give way: a few
    // rows of the table, a few fields of the call.
    split->setChildrenCollapsible(false);
    const int row = table->verticalHeader()->defaultSectionSize();
    table->setMinimumHeight(4 * row);
    detail->setMinimumHeight(4 * row);
    layout->addWidget(split, 1);

    copyJsonButton = new QPushButton(tr("Copy JSON"));
    copyJsonButton->setObjectName(QStringLiteral("copyJsonButton"));
    copyCButton = new QPushButton(tr("Copy C"));
    copyCButton->setObjectName(QStringLiteral("copyCButton"));
    sendAgainButton = new QPushButton(tr("Send again"));
    sendAgainButton->setObjectName(QStringLiteral("sendAgainButton"));
    auto *clearButton = new QPushButton(tr("Clear"));
    clearButton->setObjectName(QStringLiteral("clearCallsButton"));
    auto *saveButton = new QPushButton(tr("Save..."));
    saveButton->setObjectName(QStringLiteral("saveCallsButton"));
    auto *openButton = new QPushButton(tr("Open..."));
    openButton->setObjectName(QStringLiteral("openCallsButton"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copyJsonButton);
    buttons->addWidget(copyCButton);
    buttons->addWidget(sendAgainButton);
    buttons->addStretch(1);
    buttons->addWidget(clearButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(openButton);
    layout->addLayout(buttons);

    status = new QLabel;
    status->setObjectName(QStringLiteral("callsMessage"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status);

    connect(filterEdit, &QLineEdit::textChanged, filter, &CallsFilter::setCommandText);
    connect(errorsOnly, &QCheckBox::toggled, filter, &CallsFilter::setErrorsOnly);
    connect(copyJsonButton, &QPushButton::clicked, this, &CallsDock::copyJson);
    connect(copyCButton, &QPushButton::clicked, this, &CallsDock::copyC);
    connect(sendAgainButton, &QPushButton::clicked, this, &CallsDock::sendAgain);
    connect(saveButton, &QPushButton::clicked, this, &CallsDock::saveCalls);
    connect(openButton, &QPushButton::clicked, this, &CallsDock::openCalls);
    connect(liveButton, &QPushButton::clicked, this, &CallsDock::showLive);
    connect(clearButton, &QPushButton::clicked, this, [this] {
        if (shownModel() == live)
            live->clear();
    });
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this](int value) { follow = value >= table->verticalScrollBar()->maximum(); });
    return page;
}

void CallsDock::attach()
{
    zem::calls::setSink(live);
}

void CallsDock::detach()
{
    if (zem::calls::sink() == live)
        zem::calls::setSink(nullptr);
}

CallsModel *CallsDock::shownModel() const
{
    auto *shown = qobject_cast<CallsModel *>(filter->sourceModel());
    return shown ? shown : live;
}

void CallsDock::showModel(CallsModel *model)
{
    // The live table comes back with every call recorded meanwhile.
    model->flush();
    filter->setSourceModel(model);
    // A new source model brings a new selection model.
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &CallsDock::selectionChanged);
    // Widths of the widest text each column can show, set again as a new
    // source resets the columns: measuring the contents of 100,000 rows would
    // take seconds.
    const int padding
        = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 4;
    for (int column = CallsModel::Time; column < CallsModel::Origin; ++column) {
        int width = table->horizontalHeader()->sectionSizeHint(column);
        for (const QString &text : CallsModel::columnTexts(CallsModel::Column(column)))
            width = std::max(width, table->fontMetrics().horizontalAdvance(text) + padding);
        table->setColumnWidth(column, width);
    }
    const bool isLive = model == live;
    source->setVisible(!isLive);
    liveButton->setVisible(!isLive);
    follow = true;
    table->scrollToBottom();
    selectionChanged();
    updateDropped();
    if (tabs && tabs->currentIndex() == 1)
        updateStats();
}

const zem::calls::Call *CallsDock::selectedCall() const
{
    if (!table)
        return nullptr;
    const QModelIndex index = filter->mapToSource(table->selectionModel()->currentIndex());
    return index.isValid() ? &shownModel()->call(index.row()) : nullptr;
}

void CallsDock::selectionChanged()
{
    const QModelIndex index = filter->mapToSource(table->selectionModel()->currentIndex());
    const zem::calls::Call *call = nullptr;
    const zem::calls::Call *previous = nullptr;
    if (index.isValid()) {
        const CallsModel *model = shownModel();
        call = &model->call(index.row());
        const int before = model->previousOfSameCommand(index.row());
        if (before >= 0)
            previous = &model->call(before);
    }
    detail->showCall(call, previous);
    copyJsonButton->setEnabled(call);
    copyCButton->setEnabled(call);
    // Commands only: open, close and the profiles belong to their own buttons.
    sendAgainButton->setEnabled(call && call->commandEntry()
        && (!call->commandEntry()->request
            || (call->hasRequest && call->requestSize == call->commandEntry()->request->size)));
}

void CallsDock::copyJson()
{
    if (const zem::calls::Call *call = selectedCall())
        QApplication::clipboard()->setText(QString::fromStdString(zem::calls::callLine(*call)));
}

void CallsDock::copyC()
{
    if (const zem::calls::Call *call = selectedCall())
        QApplication::clipboard()->setText(QString::fromStdString(zem::calls::cSnippet(*call)));
}

void CallsDock::sendAgain()
{
    const zem::calls::Call *call = selectedCall();
    if (!call || !call->commandEntry())
        return;
    emit sendAgainRequested(int(call->command),
        QByteArray(reinterpret_cast<const char *>(call->request()), qsizetype(call->requestSize)));
}

void CallsDock::saveCalls()
{
    const CallsModel *model = shownModel();
    saveWithDialog(m_context,
        { this, tr("Save calls..."), QStringLiteral("calls.jsonl"), tr(kCallFilter) },
        tr("Save calls"), [this, model](const QString &name, const QString &) {
            std::string error;
            if (zem::calls::writeCallFile(name.toStdString(), model->ring(), error)) {
                message(tr("Saved %1 to %2").arg(callsText(model->ring().size()), name), false);
                return QString();
            }
            const QString failure = tr("Not saved: %1").arg(QString::fromStdString(error));
            message(failure, true);
            return failure;
        });
}

void CallsDock::openCalls()
{
    build();
    const QString name
        = m_context.files().openFileName({ this, tr("Open calls..."), QString(), tr(kCallFilter) });
    if (name.isEmpty())
        return;
    std::vector<zem::calls::Call> calls;
    std::string error, note;
    if (!zem::calls::readCallFile(name.toStdString(), calls, error, &note)) {
        message(tr("Cannot open %1: %2").arg(name, QString::fromStdString(error)), true);
        return;
    }
    const std::size_t count = calls.size();
    auto model = std::make_unique<CallsModel>(std::move(calls));
    showModel(model.get());
    file = std::move(model); // the previous file's model goes only after the switch
    source->setText(tr("%1: %2, read-only").arg(QFileInfo(name).fileName(), callsText(count)));
    // A file cut short (a full disk while recording) opens up to its last whole line.
    message(QString::fromStdString(note), !note.empty());
}

void CallsDock::showLive()
{
    showModel(live);
    file.reset();
    message(QString(), false);
}

void CallsDock::updateDropped()
{
    const CallsModel *model = shownModel();
    const auto n = model ? model->ring().dropped() : 0;
    dropped->setText(n ? tr("%1 oldest dropped").arg(n) : QString());
    dropped->setToolTip(
        tr("The table keeps the newest %1 calls").arg(model ? model->ring().capacity() : 0));
}

void CallsDock::updateStats()
{
    stats->clear();
    const CallsModel *model = shownModel();
    if (!model)
        return;
    for (const zem::calls::CommandStats &s : zem::calls::commandStats(model->ring())) {
        auto *item = new QTreeWidgetItem(stats,
            { QString::fromStdString(s.command), QString::number(s.calls),
                QString::number(s.failures), CallsModel::durationText(s.minNs),
                CallsModel::durationText(s.medianNs), CallsModel::durationText(s.maxNs) });
        for (int c = 1; c < 6; ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int c = 0; c < 6; ++c)
        stats->resizeColumnToContents(c);
}

void CallsDock::message(const QString &text, bool error)
{
    status->setText(text);
    status->setStyleSheet(error ? QStringLiteral("color: #b00020;") : QString());
}
