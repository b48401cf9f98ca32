#include "historycharts.h"

#include "decimate.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMap>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

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

// Sets a time axis to [first, last] and labels it to suit the span.
void setTimeRange(QChart *chart, const QDateTime &first, const QDateTime &last)
{
    auto *time = qobject_cast<QDateTimeAxis *>(chart->axes(Qt::Horizontal).value(0));
    time->setRange(first, last);
    time->setFormat(timeAxisFormat(first.msecsTo(last)));
}

} // namespace

QString timeAxisFormat(qint64 spanMs)
{
    constexpr qint64 kDay = 24 * 3600 * 1000;
    if (spanMs < 10 * 60 * 1000)
        return QStringLiteral("HH:mm:ss");
    if (spanMs < kDay)
        return QStringLiteral("HH:mm");
    if (spanMs < 2 * kDay)
        return QStringLiteral("MM-dd HH:mm");
    return QStringLiteral("yyyy-MM-dd");
}

QWidget *HistoryCharts::buildFailuresTab()
{
    m_paretoChart = new QChart;
    m_paretoChart->legend()->hide();
    m_paretoSeries = new QBarSeries;
    m_paretoAxis = new QBarCategoryAxis;
    m_paretoCount = new QValueAxis;
    m_paretoCount->setLabelFormat(QStringLiteral("%d"));
    m_paretoCount->setTitleText(tr("Failures"));
    m_paretoChart->addAxis(m_paretoAxis, Qt::AlignBottom);
    m_paretoChart->addAxis(m_paretoCount, Qt::AlignLeft);
    plot(m_paretoChart, m_paretoSeries);
    return chartView(m_paretoChart, "historyParetoChart");
}

QWidget *HistoryCharts::buildYieldTab()
{
    auto *split = new QSplitter(Qt::Vertical);
    m_yieldChart = new QChart;
    auto *days = new QDateTimeAxis;
    auto *percent = new QValueAxis;
    percent->setRange(0, 100);
    percent->setLabelFormat(QStringLiteral("%d"));
    percent->setTitleText(tr("Yield (%)"));
    m_yieldChart->addAxis(days, Qt::AlignBottom);
    m_yieldChart->addAxis(percent, Qt::AlignLeft);
    // Never an empty range: an axis shown with one draws no labels after.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    setTimeRange(m_yieldChart, now.addDays(-30), now);
    split->addWidget(chartView(m_yieldChart, "historyYieldChart"));

    // The figures behind the chart, for the days a chart point hides.
    m_yieldTable = new QTreeWidget(split);
    m_yieldTable->setObjectName(QStringLiteral("historyYieldTable"));
    m_yieldTable->setRootIsDecorated(false);
    m_yieldTable->setHeaderLabels(
        { tr("Board"), tr("Day (UTC)"), tr("Runs"), tr("Passed"), tr("Yield (%)") });
    split->addWidget(m_yieldTable);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({ 300, 100 });
    return split;
}

QWidget *HistoryCharts::buildScoresTab()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Point:"), page));
    m_pointCombo = new QComboBox(page);
    m_pointCombo->setObjectName(QStringLiteral("historyPointCombo"));
    row->addWidget(m_pointCombo, 1);
    layout->addLayout(row);

    m_scoreChart = new QChart;
    m_scoreSeries = new QLineSeries;
    m_scoreSeries->setName(tr("Score"));
    m_scoreSeries->setPointsVisible(true);
    // A reference that drifts shows as scores creeping towards this line.
    m_toleranceSeries = new QLineSeries;
    m_toleranceSeries->setName(tr("Tolerance"));
    auto *time = new QDateTimeAxis;
    time->setFormat(timeAxisFormat(0));
    auto *percent = new QValueAxis;
    percent->setTitleText(tr("Score (%)"));
    m_scoreChart->addAxis(time, Qt::AlignBottom);
    m_scoreChart->addAxis(percent, Qt::AlignLeft);
    plot(m_scoreChart, m_scoreSeries);
    plot(m_scoreChart, m_toleranceSeries);
    layout->addWidget(chartView(m_scoreChart, "historyScoreChart"), 1);
    return page;
}

void HistoryCharts::showFailures(
    const QString &board, const std::vector<zem::history::PointStats> &stats, const QString &point)
{
    m_paretoChart->setTitle(board.isEmpty() ? tr("Failures per point: no board type")
                                            : tr("Failures per point of %1").arg(board));
    m_paretoSeries->clear();
    m_paretoAxis->clear();
    const QSignalBlocker quiet(m_pointCombo);
    m_pointCombo->clear();
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
    m_paretoSeries->append(failures);
    m_paretoAxis->append(names);
    m_paretoCount->setRange(0, double(most));
    // Whole failures only: one tick per count while they are few.
    if (most <= 10)
        m_paretoCount->setTickCount(int(most) + 1);
    else
        m_paretoCount->applyNiceNumbers();
    m_pointCombo->addItems(names);
    m_pointCombo->setCurrentIndex(std::max(0, m_pointCombo->findText(point)));
}

void HistoryCharts::showYield(const QString &board, const std::vector<zem::history::DayYield> &days)
{
    m_yieldChart->setTitle(board.isEmpty() ? tr("Yield per day of every board type")
                                           : tr("Yield per day of %1").arg(board));
    m_yieldTable->clear();
    for (QAbstractSeries *old : m_yieldChart->series()) {
        m_yieldChart->removeSeries(old);
        delete old; // removeSeries hands it back to us
    }
    QMap<QString, QLineSeries *> perBoard;
    QDate first, last;
    for (const auto &d : days) {
        m_yieldTable->addTopLevelItem(
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
    for (QLineSeries *series : perBoard)
        plot(m_yieldChart, series);
    if (first.isValid())
        setTimeRange(m_yieldChart, QDateTime(first, QTime(0, 0), Qt::UTC),
            QDateTime(last.addDays(1), QTime(0, 0), Qt::UTC));
}

void HistoryCharts::showScores(const QString &board, const HistoryScores &s)
{
    m_scoreChart->setTitle(s.point.isEmpty() || board.isEmpty()
            ? tr("Score over time: no point chosen")
            : tr("Score of %1 over time, %2").arg(s.point, board));
    m_scoreSeries->clear();
    m_toleranceSeries->clear();
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
    const int columns = std::max(100, int(m_scoreChart->plotArea().width()));
    m_scoreSeries->replace(decimate(points.constData(), points.constData() + points.size(),
        points.front().x(), points.back().x(), columns));
    m_scoreSeries->setPointsVisible(points.size() <= 500);
    auto *percent = qobject_cast<QValueAxis *>(m_scoreChart->axes(Qt::Vertical).value(0));
    const QDateTime first = s.samples.front().started;
    const QDateTime last = std::max(s.samples.back().started, first.addSecs(60));
    // A reference that drifts shows as scores creeping towards this line.
    if (std::isfinite(s.tolerance)) {
        m_toleranceSeries->append(double(first.toMSecsSinceEpoch()), s.tolerance);
        m_toleranceSeries->append(double(last.toMSecsSinceEpoch()), s.tolerance);
        hi = std::max(hi, s.tolerance);
    }
    setTimeRange(m_scoreChart, first, last);
    percent->setRange(lo, hi * 1.1);
}
