#include "historydock.h"

#include "decimate.h"
#include "dockcontext.h"
#include "ivchart.h"
#include "location.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMap>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kListedRuns = 1000;

// Puts a series on the chart, against the chart's two axes.
void plot(QChart *chart, QAbstractSeries *series)
{
    chart->addSeries(series);
    for (QAbstractAxis *axis : chart->axes())
        series->attachAxis(axis);
}

QChartView *chartView(QChart *chart, const char *name)
{
    auto *view = new QChartView(chart);
    view->setObjectName(QLatin1String(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(200, 150);
    return view;
}

} // namespace

HistoryDock::HistoryDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("History"), parent)
    , m_context(context)
    , history(context.history())
{
    setObjectName(QStringLiteral("historyDock"));
    runs = new RunsModel(this);
    if (const QString kept = context.settings().historyLocation(); !kept.isEmpty())
        history->setLocationText(kept);
    // Built when first shown: most sessions never look at the history.
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            build();
    });
}

HistoryDock::~HistoryDock() = default;

// What one refresh reads, on the history's thread.
struct HistoryDock::Scores
{
    QString point;
    std::vector<zem::history::ScoreSample> samples;
    double tolerance = NAN; // the newest run's that scored the point
    QString error;
};

struct HistoryDock::Snapshot
{
    std::vector<zem::history::RunSummary> runs; // at most kListedRuns
    bool more = false; // the filter has older runs than these
    QString board;
    std::vector<zem::history::PointStats> pareto;
    std::vector<zem::history::DayYield> yield;
    Scores scores;
    QString error; // the first thing that could not be read
};

HistoryDock::Scores HistoryDock::readScores(
    zem::history::Store &store, const QString &board, const QString &point, const QDateTime &since)
{
    HistoryDock::Scores out;
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

void HistoryDock::setLocationText(const QString &text)
{
    if (locationEdit && locationEdit->text() != text)
        locationEdit->setText(text);
    if (text == history->locationText())
        return;
    history->setLocationText(text); // the next read opens the new one
    m_context.settings().setHistoryLocation(text);
}

void HistoryDock::build()
{
    if (locationEdit)
        return;
    auto *body = new QWidget(this);
    auto *layout = new QVBoxLayout(body);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("History:"), body));
    locationEdit = new QLineEdit(locationText(), body);
    locationEdit->setObjectName(QStringLiteral("historyLocationEdit"));
    locationEdit->setToolTip(
        tr("sqlite:PATH, PATH.sqlite or postgresql://user@host/db (no password: libpq finds it)"));
    top->addWidget(locationEdit, 1);
    auto *refreshButton = new QPushButton(tr("Refresh"), body);
    refreshButton->setObjectName(QStringLiteral("historyRefreshButton"));
    top->addWidget(refreshButton);
    layout->addLayout(top);

    auto *filters = new QHBoxLayout;
    boardFilter = new QLineEdit(body);
    boardFilter->setObjectName(QStringLiteral("historyBoardFilter"));
    boardFilter->setPlaceholderText(tr("Board type"));
    serialFilter = new QLineEdit(body);
    serialFilter->setObjectName(QStringLiteral("historySerialFilter"));
    serialFilter->setPlaceholderText(tr("Serial"));
    verdictFilter = new QLineEdit(body);
    verdictFilter->setObjectName(QStringLiteral("historyVerdictFilter"));
    verdictFilter->setPlaceholderText(tr("Verdict (pass, fail, unstable, different)"));
    for (QLineEdit *e : { boardFilter, serialFilter, verdictFilter }) {
        e->setClearButtonEnabled(true);
        filters->addWidget(e, 1);
        connect(e, &QLineEdit::returnPressed, this, &HistoryDock::refresh);
    }
    // Its lowest date stands for no date: every run, however old.
    sinceEdit = new QDateEdit(body);
    sinceEdit->setObjectName(QStringLiteral("historySinceEdit"));
    sinceEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    sinceEdit->setCalendarPopup(true);
    sinceEdit->setMinimumDate(QDate(2000, 1, 1));
    sinceEdit->setSpecialValueText(tr("Since any day"));
    sinceEdit->setDate(sinceEdit->minimumDate());
    sinceEdit->setToolTip(tr("Runs started on or after this day (UTC)"));
    filters->addWidget(sinceEdit);
    connect(sinceEdit, &QDateEdit::dateChanged, this, &HistoryDock::refresh);
    layout->addLayout(filters);

    auto *tabs = new QTabWidget(body);
    tabs->setObjectName(QStringLiteral("historyTabs"));
    tabs->addTab(buildRunsTab(), tr("Runs"));
    tabs->addTab(buildFailuresTab(), tr("Failures"));
    tabs->addTab(buildYieldTab(), tr("Yield"));
    tabs->addTab(buildScoresTab(), tr("Scores"));
    layout->addWidget(tabs, 1);

    status = new QLabel(body);
    status->setObjectName(QStringLiteral("historyStatus"));
    status->setWordWrap(true);
    layout->addWidget(status);
    setWidget(body);

    connect(locationEdit, &QLineEdit::editingFinished, this,
        [this] { setLocationText(locationEdit->text().trimmed()); });
    connect(locationEdit, &QLineEdit::returnPressed, this, &HistoryDock::refresh);
    connect(refreshButton, &QPushButton::clicked, this, [this] {
        setLocationText(locationEdit->text().trimmed());
        refresh();
    });
}

QWidget *HistoryDock::buildRunsTab()
{
    auto *split = new QSplitter(Qt::Vertical);
    runsTable = new QTableView(split);
    runsTable->setObjectName(QStringLiteral("historyRunsTable"));
    runsTable->setModel(runs);
    runsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    runsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    runsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    runsTable->verticalHeader()->hide();
    runsTable->horizontalHeader()->setStretchLastSection(true);
    // Columns fit the first rows, not all of a thousand.
    runsTable->horizontalHeader()->setResizeContentsPrecision(100);
    connect(runsTable, &QTableView::doubleClicked, this,
        [this](const QModelIndex &index) { showRun(index.row()); });

    auto *detail = new QSplitter(Qt::Horizontal, split);
    pointsTable = new QTableWidget(0, 5, detail);
    pointsTable->setObjectName(QStringLiteral("historyPointsTable"));
    pointsTable->setHorizontalHeaderLabels(
        { tr("Point"), tr("Verdict"), tr("Score (%)"), tr("Tolerance (%)"), tr("Cause") });
    pointsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    pointsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    pointsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pointsTable->verticalHeader()->hide();
    pointsTable->horizontalHeader()->setStretchLastSection(true);
    connect(pointsTable, &QTableWidget::currentCellChanged, this,
        [this](int row) { showPointCurve(row); });

    curveChart = new IvChart;
    curveChart->setObjectName(QStringLiteral("historyCurveChart"));
    curveChart->setMinimumSize(200, 150);
    // Drawn as the Signatures dock draws a reference: dashed, under the test.
    curveChart->addCurve(
        IvChart::Role::Reference, tr("Reference"), QPen(QColor(0x80, 0x80, 0x80), 2, Qt::DashLine));
    curveChart->addCurve(IvChart::Role::Test, tr("Measured"));
    detail->addWidget(pointsTable);
    detail->addWidget(curveChart);
    // The curve is what a run is opened for: it gets the larger share.
    detail->setStretchFactor(0, 2);
    detail->setStretchFactor(1, 3);
    detail->setSizes({ 400, 600 });
    split->addWidget(runsTable);
    split->addWidget(detail);
    return split;
}

QWidget *HistoryDock::buildFailuresTab()
{
    auto *chart = new QChart;
    chart->setTitle(tr("Failures per point"));
    chart->legend()->hide();
    paretoSeries = new QBarSeries;
    paretoAxis = new QBarCategoryAxis;
    paretoCount = new QValueAxis;
    paretoCount->setLabelFormat(QStringLiteral("%d"));
    paretoCount->setTitleText(tr("Failures"));
    chart->addAxis(paretoAxis, Qt::AlignBottom);
    chart->addAxis(paretoCount, Qt::AlignLeft);
    plot(chart, paretoSeries);
    return chartView(chart, "historyParetoChart");
}

QWidget *HistoryDock::buildYieldTab()
{
    auto *split = new QSplitter(Qt::Vertical);
    yieldChart = new QChart;
    yieldChart->setTitle(tr("Yield per board type and day"));
    auto *days = new QDateTimeAxis;
    days->setFormat(QStringLiteral("yyyy-MM-dd"));
    // Never an empty range: an axis shown with one draws no labels after.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    days->setRange(now.addDays(-30), now);
    auto *percent = new QValueAxis;
    percent->setRange(0, 100);
    percent->setLabelFormat(QStringLiteral("%d"));
    percent->setTitleText(tr("Yield (%)"));
    yieldChart->addAxis(days, Qt::AlignBottom);
    yieldChart->addAxis(percent, Qt::AlignLeft);
    split->addWidget(chartView(yieldChart, "historyYieldChart"));

    // The figures behind the chart, for the days a chart point hides.
    yieldTable = new QTreeWidget(split);
    yieldTable->setObjectName(QStringLiteral("historyYieldTable"));
    yieldTable->setRootIsDecorated(false);
    yieldTable->setHeaderLabels(
        { tr("Board"), tr("Day (UTC)"), tr("Runs"), tr("Passed"), tr("Yield (%)") });
    split->addWidget(yieldTable);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({ 300, 100 });
    return split;
}

QWidget *HistoryDock::buildScoresTab()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Point:"), page));
    pointCombo = new QComboBox(page);
    pointCombo->setObjectName(QStringLiteral("historyPointCombo"));
    row->addWidget(pointCombo, 1);
    layout->addLayout(row);
    connect(pointCombo, &QComboBox::currentTextChanged, this, [this] { refreshScores(); });

    scoreChart = new QChart;
    scoreChart->setTitle(tr("Score over time"));
    scoreSeries = new QLineSeries;
    scoreSeries->setName(tr("Score"));
    scoreSeries->setPointsVisible(true);
    // A reference that drifts shows as scores creeping towards this line.
    toleranceSeries = new QLineSeries;
    toleranceSeries->setName(tr("Tolerance"));
    auto *time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy-MM-dd"));
    auto *percent = new QValueAxis;
    percent->setTitleText(tr("Score (%)"));
    scoreChart->addAxis(time, Qt::AlignBottom);
    scoreChart->addAxis(percent, Qt::AlignLeft);
    plot(scoreChart, scoreSeries);
    plot(scoreChart, toleranceSeries);
    layout->addWidget(chartView(scoreChart, "historyScoreChart"), 1);
    return page;
}

void HistoryDock::setStatus(const QString &text, bool error)
{
    status->setText(text);
    status->setStyleSheet(error ? QStringLiteral("color: red") : QString());
}

void HistoryDock::read(zem::history::Worker::Job job)
{
    history->post(this,
        [this, job = std::move(job), where = history->locationText()](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            if (store)
                return job(store, error);
            return [this, where, error] {
                setStatus(tr("History %1: %2").arg(where, error), true);
                emit shown();
            };
        });
}

QDateTime HistoryDock::sinceFilter() const
{
    return sinceEdit->date() > sinceEdit->minimumDate()
        ? QDateTime(sinceEdit->date(), QTime(0, 0), Qt::UTC)
        : QDateTime();
}

void HistoryDock::refresh()
{
    build();
    zem::history::RunFilter filter;
    filter.boardType = boardFilter->text().trimmed();
    filter.boardSerial = serialFilter->text().trimmed();
    filter.verdict = verdictFilter->text().trimmed();
    filter.since = sinceFilter();
    // A line's history holds runs by the hundred thousand: the list shows the
    // newest, one more read to tell that there are more.
    filter.limit = kListedRuns + 1;
    const QString point = pointCombo->currentText();
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
        // Without a board typed, the charts are of the newest run's board.
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
        return [this, s] { showSnapshot(*s); }; // s is this reply's alone
    });
}

void HistoryDock::showSnapshot(Snapshot &s)
{
    board = s.board;
    const std::size_t count = s.runs.size();
    runs->setRuns(std::move(s.runs));
    runsTable->resizeColumnsToContents();
    if (!s.error.isEmpty())
        setStatus(s.error, true);
    else if (s.more)
        setStatus(tr("The newest %1 runs; filter by board, serial or verdict for older ones")
                      .arg(kListedRuns),
            false);
    else
        setStatus(count == 1 ? tr("1 run") : tr("%1 runs").arg(count), false);
    showFailures(s.pareto, s.scores.point);
    showYield(s.yield);
    showScores(s.scores);
    emit shown();
}

void HistoryDock::showFailures(
    const std::vector<zem::history::PointStats> &stats, const QString &point)
{
    paretoSeries->clear();
    paretoAxis->clear();
    const QSignalBlocker quiet(pointCombo);
    pointCombo->clear();
    if (stats.empty())
        return;
    auto *failures = new QBarSet(tr("Failures"));
    QStringList names;
    qint64 most = 1;
    for (const auto &s : stats) {
        *failures << double(s.failed);
        names << s.name;
        most = std::max(most, s.failed);
    }
    paretoSeries->append(failures);
    paretoAxis->append(names);
    paretoCount->setRange(0, double(most));
    // Whole failures only: one tick per count while they are few.
    if (most <= 10)
        paretoCount->setTickCount(int(most) + 1);
    else
        paretoCount->applyNiceNumbers();
    pointCombo->addItems(names);
    pointCombo->setCurrentIndex(std::max(0, pointCombo->findText(point)));
}

void HistoryDock::showYield(const std::vector<zem::history::DayYield> &days)
{
    yieldTable->clear();
    for (QAbstractSeries *old : yieldChart->series()) {
        yieldChart->removeSeries(old);
        delete old;
    }
    auto *time = qobject_cast<QDateTimeAxis *>(yieldChart->axes(Qt::Horizontal).value(0));
    QMap<QString, QLineSeries *> perBoard;
    QDate first, last;
    for (const auto &d : days) {
        yieldTable->addTopLevelItem(
            new QTreeWidgetItem({ d.boardType, d.day.toString(Qt::ISODate), QString::number(d.runs),
                QString::number(d.passed), QString::number(100 * d.yield, 'f', 1) }));
        QLineSeries *&series = perBoard[d.boardType];
        if (!series) {
            series = new QLineSeries;
            series->setName(d.boardType);
            series->setPointsVisible(true);
        }
        // Noon, so that a day's point sits in the middle of its day.
        series->append(
            double(QDateTime(d.day, QTime(12, 0), Qt::UTC).toMSecsSinceEpoch()), 100 * d.yield);
        first = first.isValid() ? std::min(first, d.day) : d.day;
        last = last.isValid() ? std::max(last, d.day) : d.day;
    }
    for (QLineSeries *series : perBoard) {
        plot(yieldChart, series);
    }
    if (first.isValid())
        time->setRange(QDateTime(first, QTime(0, 0), Qt::UTC),
            QDateTime(last.addDays(1), QTime(0, 0), Qt::UTC));
}

void HistoryDock::refreshScores()
{
    const QString point = pointCombo->currentText();
    if (point.isEmpty() || board.isEmpty())
        return showScores({});
    read([this, shownBoard = board, point, since = sinceFilter()](
             zem::history::Store *store, const QString &) {
        auto scores = std::make_shared<Scores>(readScores(*store, shownBoard, point, since));
        return [this, scores] {
            showScores(*scores);
            emit shown();
        };
    });
}

void HistoryDock::showScores(const Scores &s)
{
    scoreSeries->clear();
    toleranceSeries->clear();
    if (!s.error.isEmpty())
        setStatus(s.error, true);
    if (s.samples.empty())
        return;
    double lo = 0, hi = 1;
    QList<QPointF> points;
    points.reserve(qsizetype(s.samples.size()));
    for (const auto &sample : s.samples) {
        points.append(QPointF(double(sample.started.toMSecsSinceEpoch()), sample.score));
        hi = std::max(hi, sample.score);
    }
    // A busy board type has 100,000: drawn from what each pixel column
    // shows, with markers only while they can be told apart.
    const int columns = std::max(100, int(scoreChart->plotArea().width()));
    scoreSeries->replace(decimate(points.constData(), points.constData() + points.size(),
        points.front().x(), points.back().x(), columns));
    scoreSeries->setPointsVisible(points.size() <= 500);
    auto *time = qobject_cast<QDateTimeAxis *>(scoreChart->axes(Qt::Horizontal).value(0));
    auto *percent = qobject_cast<QValueAxis *>(scoreChart->axes(Qt::Vertical).value(0));
    const QDateTime first = s.samples.front().started;
    const QDateTime last = std::max(s.samples.back().started, first.addSecs(60));
    // A reference that drifts shows as scores creeping towards this line.
    if (std::isfinite(s.tolerance)) {
        toleranceSeries->append(double(first.toMSecsSinceEpoch()), s.tolerance);
        toleranceSeries->append(double(last.toMSecsSinceEpoch()), s.tolerance);
        hi = std::max(hi, s.tolerance);
    }
    time->setRange(first, last);
    percent->setRange(lo, hi * 1.1);
}

void HistoryDock::showRun(int row)
{
    const auto *summary = runs->runAt(row);
    if (!summary)
        return;
    read([this, uuid = summary->run.uuid](zem::history::Store *store, const QString &) {
        auto found = std::make_shared<std::optional<zem::history::Run>>(store->run(uuid));
        const QString error = *found ? QString() : store->errorString();
        return [this, found, error] {
            pointsTable->setRowCount(0);
            curveChart->setCurves({}, {});
            shownRun = *found;
            if (!shownRun) {
                setStatus(error, true);
                emit shown();
                return;
            }
            pointsTable->setRowCount(int(shownRun->points.size()));
            for (int k = 0; k < int(shownRun->points.size()); ++k) {
                const auto &p = shownRun->points[std::size_t(k)];
                const QString cause
                    = p.causeText.isEmpty() ? p.reading : tr("%1 (%2)").arg(p.causeText, p.reading);
                const QStringList cells { p.name, p.verdict,
                    p.score ? QString::number(*p.score, 'f', 1) : QString(),
                    QString::number(p.tolerance, 'f', 1), cause };
                for (int c = 0; c < cells.size(); ++c)
                    pointsTable->setItem(k, c, new QTableWidgetItem(cells[c]));
            }
            pointsTable->resizeColumnsToContents();
            setStatus(tr("Run of %1 %2: %3")
                          .arg(shownRun->boardType, shownRun->boardSerial, shownRun->verdict),
                false);
            if (!shownRun->points.empty())
                pointsTable->setCurrentCell(0, 0);
            emit shown();
        };
    });
}

void HistoryDock::showPointCurve(int row)
{
    if (!shownRun || row < 0 || std::size_t(row) >= shownRun->points.size())
        return curveChart->setCurves({}, {});
    const auto &p = shownRun->points[std::size_t(row)];
    curveChart->setCurves(
        IvChart::pointsOf(p.refVolts, p.refMilliamps), IvChart::pointsOf(p.volts, p.milliamps));
}
