#include "ivchart.h"

#include "decimate.h"

#include <QApplication>
#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <utility>

namespace {

constexpr double kMinimumMargin = 1e-3;

struct Span
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();

    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

void fit(QValueAxis *axis, const Span &s)
{
    double low = -1, high = 1;
    if (s.low <= s.high) {
        double margin = (s.high - s.low) * 0.05;
        if (s.high == s.low)
            margin = s.low == 0 ? 1 : std::abs(s.low) * 0.1;
        margin = std::max(margin, kMinimumMargin);
        low = s.low - margin;
        high = s.high + margin;
    }
    // Ticks at round values (1, 2 or 5 times a power of ten), three to six
    // of them: rounding the range out instead would leave a +-12 V sweep
    // half of a +-20 V axis.
    const double wanted = (high - low) / 6;
    const double decade = std::pow(10.0, std::floor(std::log10(wanted)));
    double step = 10 * decade;
    for (double m : { 1.0, 2.0, 5.0 })
        if (m * decade >= wanted) {
            step = m * decade;
            break;
        }
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setRange(low, high);
}

QList<QPointF> finite(const QList<QPointF> &points)
{
    const auto bad
        = [](const QPointF &p) { return !std::isfinite(p.x()) || !std::isfinite(p.y()); };
    if (std::none_of(points.begin(), points.end(), bad))
        return points; // shared, not copied
    QList<QPointF> out;
    out.reserve(points.size());
    std::remove_copy_if(points.begin(), points.end(), std::back_inserter(out), bad);
    return out;
}

} // namespace

template <typename F> void IvChart::forEachOnChart(F f)
{
    for (Line &l : m_held)
        f(l);
    for (Line &l : m_roles)
        if (l.onChart)
            f(l);
}

IvChart::IvChart(QWidget *parent)
    : CurveChartView(new QChart, parent)
{
    m_voltage = newAxis(tr("Voltage (V)"));
    m_current = newAxis(tr("Current (mA)"));
    chart()->addAxis(m_voltage, Qt::AlignBottom);
    chart()->addAxis(m_current, Qt::AlignLeft);
    setUnits(tr("V"), tr("mA"));
    for (Line &l : m_roles)
        l.series = new QLineSeries(this);
    connect(this, &CurveChartView::resetRequested, this, &IvChart::fitAxes);
    // Long curves are decimated for the range and width shown.
    connect(m_voltage, &QValueAxis::rangeChanged, this, &IvChart::drawAll);
    connect(chart(), &QChart::plotAreaChanged, this, &IvChart::drawAll);
}

IvChart::~IvChart()
{
    // The chart outlives this part of the view: its last signals find no one.
    disconnect(chart(), nullptr, this, nullptr);
    disconnect(m_voltage, nullptr, this, nullptr);
}

void IvChart::addCurve(Role role, const QString &name)
{
    if (!line(role).onChart)
        attach(line(role), name, std::size_t(role) + 1);
    line(role).series->setName(name);
}

void IvChart::addCurve(Role role, const QString &name, const QColor &colour)
{
    // Before the chart sees it, so that its theme leaves the pen alone.
    line(role).series->setColor(colour);
    addCurve(role, name);
}

void IvChart::addCurve(Role role, const QString &name, const QPen &pen)
{
    line(role).series->setPen(pen);
    addCurve(role, name);
}

void IvChart::removeCurve(Role role)
{
    Line &l = line(role);
    if (!l.onChart)
        return;
    chart()->removeSeries(l.series);
    l.series->setParent(this); // the chart gives it back without an owner
    l.series->clear();
    l.points.clear();
    l.onChart = false;
    if (!isZoomed())
        fitAxes();
}

bool IvChart::hasCurve(Role role) const
{
    return line(role).onChart;
}

void IvChart::setCurve(Role role, const QList<QPointF> &points)
{
    Line &l = line(role);
    if (!l.onChart)
        attach(l, QString(), std::size_t(role) + 1);
    QList<QPointF> kept = finite(points);
    // A frame read again with the same values (a periodic page on a steady
    // device) changes nothing drawn: the chart is not redrawn for it.
    if (!kept.isEmpty() && kept == l.points)
        return;
    l.points = std::move(kept);
    changed(l);
}

void IvChart::setCurve(
    Role role, const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    setCurve(role, pointsOf(volts, milliamps));
}

void IvChart::setCurves(const QList<QPointF> &reference, const QList<QPointF> &test)
{
    for (Role role : { Role::Reference, Role::Test }) {
        Line &l = line(role);
        if (!l.onChart)
            attach(l, QString(), std::size_t(role) + 1);
        l.points = finite(role == Role::Test ? test : reference);
        l.stale = true;
        l.series->clear();
    }
    if (!isZoomed())
        fitAxes();
    else
        drawAll();
}

QList<QPointF> IvChart::pointsOf(
    const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    QList<QPointF> points;
    const std::size_t n = std::min(volts.size(), milliamps.size());
    points.reserve(qsizetype(n));
    for (std::size_t k = 0; k < n; ++k)
        points.append(QPointF(volts[k], milliamps[k]));
    return points;
}

int IvChart::addHeld(const QString &name, const QColor &colour, const QList<QPointF> &points)
{
    Line l;
    l.series = new QLineSeries(this);
    l.series->setColor(colour);
    l.points = finite(points);
    attach(l, name, 0);
    if (QLegendMarker *marker = chart()->legend()->markers(l.series).value(0)) {
        marker->setShape(QLegend::MarkerShapeRectangle);
        connect(marker, &QLegendMarker::clicked, this, [this, series = l.series] {
            for (std::size_t k = 0; k < m_held.size(); ++k)
                if (m_held[k].series == series)
                    emit heldClicked(int(k));
        });
    }
    m_held.push_back(l);
    changed(m_held.back());
    return heldCount() - 1;
}

QString IvChart::heldName(int index) const
{
    return index >= 0 && index < heldCount() ? m_held[std::size_t(index)].series->name()
                                             : QString();
}

void IvChart::setHeldName(int index, const QString &name)
{
    if (index >= 0 && index < heldCount())
        m_held[std::size_t(index)].series->setName(name);
}

void IvChart::clearHeld()
{
    for (Line &l : m_held) {
        chart()->removeSeries(l.series);
        delete l.series;
    }
    m_held.clear();
    if (!isZoomed())
        fitAxes();
}

void IvChart::fitAxes()
{
    Span v, i;
    forEachOnChart([&](Line &l) {
        for (const QPointF &p : std::as_const(l.points)) {
            v.add(p.x());
            i.add(p.y());
        }
    });
    m_fitting = true;
    fit(m_voltage, v);
    fit(m_current, i);
    m_fitting = false;
    drawAll();
}

QList<QXYSeries *> IvChart::hoverSeries() const
{
    QList<QXYSeries *> out;
    for (const Line &l : m_held)
        out.append(l.series);
    for (const Line &l : m_roles)
        if (l.onChart)
            out.append(l.series);
    return out;
}

void IvChart::attach(Line &l, const QString &name, std::size_t raiseFrom)
{
    l.series->setName(name);
    chart()->addSeries(l.series);
    l.series->attachAxis(m_voltage);
    l.series->attachAxis(m_current);
    l.onChart = true;
    // A chart draws its series in the order they were added: the roles that
    // go over this curve are added again.
    for (std::size_t k = raiseFrom; k < m_roles.size(); ++k) {
        Line &r = m_roles[k];
        if (!r.onChart)
            continue;
        chart()->removeSeries(r.series);
        chart()->addSeries(r.series);
        r.series->attachAxis(m_voltage);
        r.series->attachAxis(m_current);
    }
}

void IvChart::changed(Line &l)
{
    l.stale = true;
    // Emptied first, so that the axes' change does not recompute the old points.
    l.series->clear();
    if (!isZoomed())
        fitAxes();
    else
        draw(l);
}

void IvChart::draw(Line &l)
{
    if (l.points.size() <= kMaxExactPoints) {
        if (l.stale)
            l.series->replace(l.points);
        l.stale = false;
        return;
    }
    const double x0 = m_voltage->min(), x1 = m_voltage->max();
    const int columns = std::max(100, int(chart()->plotArea().width()));
    if (!l.stale && l.x0 == x0 && l.x1 == x1 && l.columns == columns)
        return;
    l.series->replace(
        decimate(l.points.constData(), l.points.constData() + l.points.size(), x0, x1, columns));
    l.stale = false;
    l.x0 = x0;
    l.x1 = x1;
    l.columns = columns;
}

void IvChart::drawAll()
{
    if (m_fitting)
        return;
    forEachOnChart([this](Line &l) { draw(l); });
}

QValueAxis *IvChart::newAxis(const QString &title)
{
    auto *axis = new QValueAxis;
    axis->setTitleText(title);
    // Set before the chart themes it, which keeps a font set by hand.
    axis->setTitleFont(QApplication::font());
    axis->setLabelsFont(QApplication::font());
    axis->setLabelFormat(QStringLiteral("%g"));
    return axis;
}
