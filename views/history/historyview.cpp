#include "historyview.h"

#include "dockcontext.h"
#include "location.h"
#include "rundetail.h"

#include <QComboBox>
#include <QCompleter>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr int kListedRuns = 1000;

} // namespace

// What one refresh reads, on the history's thread.
struct HistoryView::Snapshot
{
    std::vector<zem::history::RunSummary> runs; // at most kListedRuns
    bool more = false; // the filter has older runs than these
    QStringList boards; // every board type the history holds
    QString board;
    std::vector<zem::history::PointStats> pareto;
    std::vector<zem::history::DayYield> yield;
    QString yieldBoard; // the yield's board type, empty for every one
    HistoryScores scores;
    QString error; // the first thing that could not be read
};

HistoryView::HistoryView(DockContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_history(context.history())
{
    setObjectName(QStringLiteral("historyView"));
    m_runs = new RunsModel(this);
    if (const QString kept = context.settings().historyLocation(); !kept.isEmpty())
        m_history->setLocationText(kept);
}

HistoryView::~HistoryView() = default;

void HistoryView::showEvent(QShowEvent *event)
{
    build();
    QWidget::showEvent(event);
}

HistoryScores HistoryView::readScores(
    zem::history::Store &store, const QString &board, const QString &point, const QDateTime &since)
{
    HistoryScores out;
    out.point = point;
    if (point.isEmpty() || board.isEmpty())
        return out;
    auto samples = store.scores(board, point, since);
    if (!samples) {
        out.error = store.errorString();
        return out;
    }
    out.samples = std::move(*samples);
    // The newest run that scored the point has the tolerance to draw.
    if (!out.samples.empty())
        out.tolerance = out.samples.back().tolerance;
    return out;
}

void HistoryView::setLocationText(const QString &text)
{
    if (m_locationEdit && m_locationEdit->text() != text)
        m_locationEdit->setText(text);
    if (text == m_history->locationText())
        return;
    m_history->setLocationText(text); // the next read opens the new one
    m_context.settings().setHistoryLocation(text);
}

void HistoryView::build()
{
    if (m_locationEdit)
        return;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("History:"), this));
    m_locationEdit = new QLineEdit(locationText(), this);
    m_locationEdit->setObjectName(QStringLiteral("historyLocationEdit"));
    m_locationEdit->setToolTip(
        tr("sqlite:PATH, PATH.sqlite or postgresql://user@host/db (no password: libpq finds it)"));
    top->addWidget(m_locationEdit, 1);
    auto *refreshButton = new QPushButton(tr("Refresh"), this);
    refreshButton->setObjectName(QStringLiteral("historyRefreshButton"));
    top->addWidget(refreshButton);
    layout->addLayout(top);

    auto *filters = new QHBoxLayout;
    // The board types come from the history itself (each refresh reads
    // them): pick one, or type part of a name and pick from what matches.
    m_boardFilter = new QComboBox(this);
    m_boardFilter->setObjectName(QStringLiteral("historyBoardFilter"));
    m_boardFilter->setEditable(true);
    m_boardFilter->setInsertPolicy(QComboBox::NoInsert);
    m_boardFilter->lineEdit()->setPlaceholderText(tr("Board type"));
    m_boardFilter->lineEdit()->setClearButtonEnabled(true);
    m_boardFilter->completer()->setCompletionMode(QCompleter::PopupCompletion);
    m_boardFilter->completer()->setFilterMode(Qt::MatchContains);
    m_boardFilter->setToolTip(tr("The board types the history holds; empty for all"));
    filters->addWidget(m_boardFilter, 1);
    connect(m_boardFilter, &QComboBox::activated, this, &HistoryView::requestRefresh);
    connect(
        m_boardFilter->lineEdit(), &QLineEdit::returnPressed, this, &HistoryView::requestRefresh);
    m_serialFilter = new QLineEdit(this);
    m_serialFilter->setObjectName(QStringLiteral("historySerialFilter"));
    m_serialFilter->setPlaceholderText(tr("Serial"));
    m_verdictFilter = new QLineEdit(this);
    m_verdictFilter->setObjectName(QStringLiteral("historyVerdictFilter"));
    m_verdictFilter->setPlaceholderText(tr("Verdict (pass, fail, unstable, different)"));
    for (QLineEdit *e : { m_serialFilter, m_verdictFilter }) {
        e->setClearButtonEnabled(true);
        filters->addWidget(e, 1);
        connect(e, &QLineEdit::returnPressed, this, &HistoryView::requestRefresh);
    }
    // Its lowest date stands for no date: every run, however old.
    m_sinceEdit = new QDateEdit(this);
    m_sinceEdit->setObjectName(QStringLiteral("historySinceEdit"));
    m_sinceEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_sinceEdit->setCalendarPopup(true);
    m_sinceEdit->setMinimumDate(QDate(2000, 1, 1));
    m_sinceEdit->setSpecialValueText(tr("Since any day"));
    m_sinceEdit->setDate(m_sinceEdit->minimumDate());
    m_sinceEdit->setToolTip(tr("Runs started on or after this day (UTC)"));
    filters->addWidget(m_sinceEdit);
    connect(m_sinceEdit, &QDateEdit::dateChanged, this, &HistoryView::requestRefresh);
    layout->addLayout(filters);

    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("historyTabs"));
    tabs->addTab(buildRunsTab(), tr("Runs"));
    tabs->addTab(m_charts.buildFailuresTab(), tr("Failures"));
    tabs->addTab(m_charts.buildYieldTab(), tr("Yield"));
    tabs->addTab(m_charts.buildScoresTab(), tr("Scores"));
    layout->addWidget(tabs, 1);
    // Titled before anything is read: empty charts say what they wait for.
    m_charts.showFailures({}, {}, {});
    m_charts.showYield({}, {});
    m_charts.showScores({}, {});
    connect(
        m_charts.pointCombo(), &QComboBox::currentTextChanged, this, [this] { refreshScores(); });

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("historyStatus"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    connect(m_locationEdit, &QLineEdit::editingFinished, this,
        [this] { setLocationText(m_locationEdit->text().trimmed()); });
    connect(m_locationEdit, &QLineEdit::returnPressed, this, &HistoryView::refresh);
    connect(refreshButton, &QPushButton::clicked, this, [this] {
        setLocationText(m_locationEdit->text().trimmed());
        refresh();
    });
}

QWidget *HistoryView::buildRunsTab()
{
    auto *split = new QSplitter(Qt::Vertical);
    m_runsTable = new QTableView(split);
    m_runsTable->setObjectName(QStringLiteral("historyRunsTable"));
    m_runsTable->setModel(m_runs);
    m_runsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_runsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_runsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_runsTable->verticalHeader()->hide();
    m_runsTable->horizontalHeader()->setStretchLastSection(true);
    // Columns fit the first rows, not all of a thousand.
    m_runsTable->horizontalHeader()->setResizeContentsPrecision(100);
    connect(m_runsTable, &QTableView::doubleClicked, this,
        [this](const QModelIndex &index) { showRun(index.row()); });

    m_detail = new RunDetail(split);
    split->addWidget(m_runsTable);
    split->addWidget(m_detail);
    return split;
}

void HistoryView::setStatus(const QString &text, bool error)
{
    m_status->setText(text);
    m_status->setStyleSheet(error ? QStringLiteral("color: red") : QString());
}

void HistoryView::read(zem::history::Worker::Job job)
{
    m_history->post(this,
        [this, job = std::move(job), where = m_history->locationText()](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            if (store)
                return job(store, error);
            return [this, where, error] {
                setStatus(tr("History %1: %2").arg(where, error), true);
                emit shown();
            };
        });
}

void HistoryView::requestRefresh()
{
    // Return on a board type that is in the list also activates it.
    if (std::exchange(m_refreshQueued, true))
        return;
    QTimer::singleShot(0, this, [this] {
        m_refreshQueued = false;
        refresh();
    });
}

QDateTime HistoryView::sinceFilter() const
{
    return m_sinceEdit->date() > m_sinceEdit->minimumDate()
        ? QDateTime(m_sinceEdit->date(), QTime(0, 0), Qt::UTC)
        : QDateTime();
}

QString HistoryView::boardFilterText() const
{
    const QString typed = m_boardFilter->currentText().trimmed();
    const int known = m_boardFilter->findText(typed, Qt::MatchFixedString);
    return known > 0 ? m_boardFilter->itemText(known) : typed;
}

void HistoryView::refresh()
{
    build();
    m_capability.reset(); // runs may have been recorded since
    zem::history::RunFilter filter;
    filter.boardType = boardFilterText();
    filter.boardSerial = m_serialFilter->text().trimmed();
    filter.verdict = m_verdictFilter->text().trimmed();
    filter.since = sinceFilter();
    // A line's history holds runs by the hundred thousand: the list shows the
    // newest, one more read to tell that there are more.
    filter.limit = kListedRuns + 1;
    const QString point = m_charts.pointCombo()->currentText();
    // Only values go to the history's thread, and only values come back.
    read([this, filter, point](zem::history::Store *store, const QString &) {
        auto s = std::make_shared<Snapshot>();
        const auto fail = [&] {
            if (s->error.isEmpty())
                s->error = store->errorString();
        };
        if (auto found = store->runs(filter)) {
            s->runs = std::move(*found);
            s->more = s->runs.size() > std::size_t(kListedRuns);
            s->runs.resize(std::min(s->runs.size(), std::size_t(kListedRuns)));
        } else {
            fail();
        }
        if (auto boards = store->boardTypes())
            s->boards = std::move(*boards);
        else
            fail();
        // Without a board chosen, the charts are of the newest run's board.
        s->board = !filter.boardType.isEmpty() ? filter.boardType
            : s->runs.empty()                  ? QString()
                                               : s->runs.front().run.boardType;
        if (!s->board.isEmpty()) {
            if (auto stats = store->pareto(s->board, filter.since.date()))
                s->pareto = std::move(*stats);
            else
                fail();
        }
        if (auto days = store->yieldPerDay(filter.boardType, filter.since.date()))
            s->yield = std::move(*days);
        else
            fail();
        const bool known = std::any_of(s->pareto.begin(), s->pareto.end(),
            [&](const zem::history::PointStats &p) { return p.name == point; });
        s->scores = readScores(*store, s->board,
            known                   ? point
                : s->pareto.empty() ? QString()
                                    : s->pareto.front().name,
            filter.since);
        s->yieldBoard = filter.boardType;
        return [this, s] { showSnapshot(*s); }; // s is this reply's alone
    });
}

void HistoryView::showBoards(const QStringList &boards)
{
    // The choice survives the list's refill, typed or picked.
    const QString typed = m_boardFilter->currentText();
    const QSignalBlocker quiet(m_boardFilter);
    m_boardFilter->clear();
    m_boardFilter->addItem(QString()); // every board type
    m_boardFilter->addItems(boards);
    const int at = m_boardFilter->findText(typed);
    if (at >= 0)
        m_boardFilter->setCurrentIndex(at);
    else
        m_boardFilter->setEditText(typed);
}

void HistoryView::showSnapshot(Snapshot &s)
{
    m_board = s.board;
    showBoards(s.boards);
    const std::size_t count = s.runs.size();
    m_runs->setRuns(std::move(s.runs));
    m_runsTable->resizeColumnsToContents();
    if (!s.error.isEmpty())
        setStatus(s.error, true);
    else if (s.more)
        setStatus(tr("The newest %1 runs; filter by board, serial or verdict for older ones")
                      .arg(kListedRuns),
            false);
    else
        setStatus(count == 1 ? tr("1 run") : tr("%1 runs").arg(count), false);
    m_charts.showFailures(m_board, s.pareto, s.scores.point);
    m_charts.showYield(s.yieldBoard, s.yield);
    showScores(s.scores);
    emit shown();
}

void HistoryView::refreshScores()
{
    const QString point = m_charts.pointCombo()->currentText();
    if (point.isEmpty() || m_board.isEmpty())
        return showScores({});
    read([this, shownBoard = m_board, point, since = sinceFilter()](
             zem::history::Store *store, const QString &) {
        auto scores = std::make_shared<HistoryScores>(readScores(*store, shownBoard, point, since));
        return [this, scores] {
            showScores(*scores);
            emit shown();
        };
    });
}

void HistoryView::showScores(const HistoryScores &s)
{
    if (!s.error.isEmpty())
        setStatus(s.error, true);
    m_charts.showScores(m_board, s);
}
