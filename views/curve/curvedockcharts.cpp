// The Curve dock's charts: the latest, page and held curves against voltage,
// and the time plot, fitted to their data.
#include "curvedock.h"

#include "curvechartview.h"
#include "ivchart.h"
#include "reading.h"

#include <QChart>
#include <QInputDialog>
#include <QLegend>
#include <QLineSeries>
#include <QTabWidget>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Reference colours, distinct from each other and from the latest curve's.
const QColor kHeldColours[CurveDock::kMaxHeld]
    = { QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
          QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2),
          QColor(0x7f, 0x7f, 0x7f), QColor(0x17, 0xbe, 0xcf) };
const QColor kLatestColour(0x1f, 0x77, 0xb4);

struct Range
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();

    void add(double v)
    {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
};

// The data's range with a margin (5 % on each side) and round ticks; a
// single value gets room around it, no data a unit range. Worked out on a
// detached axis: every change of a shown axis recomputes its series.
void fit(QValueAxis *axis, const Range &r, double share = 0.05)
{
    double low = -1, high = 1;
    if (r.low <= r.high) {
        double margin = (r.high - r.low) * share;
        if (r.high == r.low)
            margin = r.low == 0 ? 1 : std::abs(r.low) * 0.1;
        low = r.low - margin;
        high = r.high + margin;
    }
    QValueAxis probe;
    probe.setTickCount(5);
    probe.setRange(low, high);
    probe.applyNiceNumbers();
    axis->setTickCount(probe.tickCount());
    axis->setRange(probe.min(), probe.max());
}

QList<QPointF> ivPoints(const Curve &curve)
{
    QList<QPointF> points;
    points.reserve(qsizetype(curve.size()));
    for (std::size_t i = 0; i < curve.size(); ++i)
        if (curve.hasPoint(i))
            points.append(QPointF(curve.voltage[i], curve.current[i]));
    return points;
}

} // namespace

void CurveDock::buildChart()
{
    view = new IvChart;
    view->setObjectName(QStringLiteral("curveView"));
    // No chart title: the tab and the axes name what it shows, and a title
    // costs the window's start-up a tenth of its chart.
    view->addCurve(IvChart::Role::Test, tr("Latest"), kLatestColour);
    view->chart()->legend()->setAlignment(Qt::AlignBottom);
    // A click on a held curve's legend entry names it.
    connect(view, &IvChart::heldClicked, this, [this](int index) {
        bool ok = false;
        const QString name = QInputDialog::getText(this, tr("Rename the curve"), tr("Name:"),
            QLineEdit::Normal, view->heldName(index), &ok);
        if (ok)
            renameHeld(index, name);
    });
}

void CurveDock::buildTimeChart()
{
    timeChart = new QChart;
    timeChart->setTitle(tr("Voltage and current against time"));
    voltageSeries = new QLineSeries;
    voltageSeries->setName(tr("Voltage (V)"));
    currentSeries = new QLineSeries;
    currentSeries->setName(tr("Current (mA)"));
    timeChart->addSeries(voltageSeries);
    timeChart->addSeries(currentSeries);
    timeAxis = IvChart::newAxis(tr("Time (ms)"));
    voltageAxis = IvChart::newAxis(tr("Voltage (V)"));
    currentAxis = IvChart::newAxis(tr("Current (mA)"));
    timeChart->addAxis(timeAxis, Qt::AlignBottom);
    timeChart->addAxis(voltageAxis, Qt::AlignLeft);
    timeChart->addAxis(currentAxis, Qt::AlignRight);
    voltageSeries->attachAxis(timeAxis);
    voltageSeries->attachAxis(voltageAxis);
    currentSeries->attachAxis(timeAxis);
    currentSeries->attachAxis(currentAxis);
    timeChart->legend()->setAlignment(Qt::AlignBottom);
    timeView = new CurveChartView(timeChart);
    timeView->setObjectName(QStringLiteral("timeView"));
    timeView->setUnits(tr("ms"), tr("V"));
    connect(timeView, &CurveChartView::resetRequested, this, &CurveDock::showTimeSeries);
    timePage->layout()->addWidget(timeView);
}

void CurveDock::showPageSeries()
{
    if (view->hasCurve(IvChart::Role::Page))
        view->setCurve(IvChart::Role::Page, ivPoints(m_page));
}

void CurveDock::renameHeld(int index, const QString &name)
{
    if (index < 0 || index >= heldCount() || name.trimmed().isEmpty())
        return;
    view->setHeldName(index, name.trimmed());
}

// What the curve looks like, from a fit to the simple loads.
static QString readingOf(const Curve &curve)
{
    return sig::read(sig::ivCurveOf(curve), curve.settings).text();
}

void CurveDock::showCurve(const Curve &curve)
{
    if (&curve != &shown)
        shown = curve;
    showLatestSeries();
    // Hidden tabs are brought up to date when they are shown.
    timeDirty = true;
    pointsDirty = true;
    showCurrentTab();

    QString text = figuresText(shown);
    if (!shown.complete)
        text = tr("%1 · partial").arg(text);
    else if (shown.hasSettings)
        text = tr("%1 · %2").arg(text, readingOf(shown));
    figures->setText(text);
    updateButtons();
    emit curveShown();
}

void CurveDock::showLatestSeries()
{
    view->setCurve(IvChart::Role::Test, ivPoints(shown));
}

void CurveDock::showCurrentTab()
{
    if (tabs->currentWidget() == timePage) {
        if (!timeView) {
            buildTimeChart();
            timeDirty = true;
        }
        if (timeDirty)
            showTimeSeries();
    } else if (tabs->currentWidget() == pointsPage) {
        if (!table) {
            table = new PointsView;
            table->setObjectName(QStringLiteral("pointsView"));
            table->setModel(model);
            pointsPage->layout()->addWidget(table);
            pointsDirty = true;
        }
        if (pointsDirty) {
            pointsDirty = false;
            model->setCurve(&shown);
        }
    }
}

void CurveDock::showTimeSeries()
{
    timeDirty = false;
    voltageSeries->clear();
    currentSeries->clear();
    QList<QPointF> volts, milliamps;
    volts.reserve(qsizetype(shown.size()));
    milliamps.reserve(qsizetype(shown.size()));
    const bool timed = std::isfinite(shown.timeMs(0));
    Range t, v, i;
    for (std::size_t k = 0; k < shown.size(); ++k) {
        if (!shown.hasPoint(k))
            continue;
        const double x = timed ? shown.timeMs(k) : double(k);
        volts.append(QPointF(x, shown.voltage[k]));
        milliamps.append(QPointF(x, shown.current[k]));
        t.add(x);
        v.add(shown.voltage[k]);
        i.add(shown.current[k]);
    }
    timeAxis->setTitleText(timed ? tr("Time (ms)") : tr("Sample"));
    timeView->setUnits(timed ? tr("ms") : tr("sample"), tr("V"));
    if (!timeView->isZoomed()) {
        fit(timeAxis, t, 0);
        fit(voltageAxis, v);
        fit(currentAxis, i);
    }
    voltageSeries->replace(volts);
    currentSeries->replace(milliamps);
}

void CurveDock::hold()
{
    if (shown.empty() || heldCount() >= kMaxHeld)
        return;
    const QString time
        = shown.started.isValid() ? shown.started.toString(QStringLiteral("HH:mm:ss")) : tr("page");
    const QString name = shown.hasSettings
        ? tr("%1 · %2 points, %3 Hz, %4 V")
              .arg(time)
              .arg(shown.settings.NumberPoints)
              .arg(double(shown.settings.SamplingRate), 0, 'g', 6)
              .arg(double(shown.settings.MaxVoltage), 0, 'g', 4)
        : tr("%1 · %2 points from the page").arg(time).arg(shown.pointsRead());
    view->addHeld(name, kHeldColours[held.size() % kMaxHeld], ivPoints(shown));
    held.push_back(shown);
    setStatus(tr("%1 of %2 references held").arg(heldCount()).arg(kMaxHeld));
    updateButtons();
}

void CurveDock::clearHeld()
{
    flush(); // a frame read just before goes too
    view->clearHeld();
    held.clear();
    if (view->hasCurve(IvChart::Role::Page)) {
        view->removeCurve(IvChart::Role::Page);
        m_page = Curve();
    }
    updateButtons();
}
