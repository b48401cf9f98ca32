#include "trenddock.h"

#include "call.h"
#include "codec.h"
#include "csvwriter.h"
#include "decimate.h"
#include "dockcontext.h"
#include "frameupdate.h"
#include "qatomicfile.h"
#include "records.h"
#include "savefile.h"

#include <QBoxLayout>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

// At most this many redraws a second, however fast samples come.
constexpr int kRedrawIntervalMs = 50;

} // namespace

TrendDock::TrendDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("Trend"), parent)
    , m_context(context)
    , redrawUpdate(new FrameUpdate([this] { redraw(); }, this, kRedrawIntervalMs))
{
    setObjectName(QStringLiteral("trendDock"));
    // The chart and its buttons are built when the dock is first shown: most
    // sessions plot nothing. Samples are kept meanwhile.
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            build();
    });
}

void TrendDock::build()
{
    if (view)
        return;
    auto *chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    timeAxis = new QValueAxis;
    timeAxis->setTitleText(tr("time (s)"));
    valueAxis = new QValueAxis;
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    view = new QChartView(chart);
    view->setObjectName(QStringLiteral("trendView"));
    view->setRenderHint(QPainter::Antialiasing, false);
    // Drag a span to look closer; Fit follows the newest samples again.
    view->setRubberBand(QChartView::HorizontalRubberBand);

    pauseButton = new QPushButton(tr("Pause"));
    pauseButton->setObjectName(QStringLiteral("trendPause"));
    pauseButton->setCheckable(true);
    pauseButton->setToolTip(tr("Freezes the chart; samples are still kept"));
    auto *fit = new QPushButton(tr("Fit"));
    fit->setObjectName(QStringLiteral("trendFit"));
    auto *clearButton = new QPushButton(tr("Clear"));
    clearButton->setObjectName(QStringLiteral("trendClear"));
    auto *exportButton = new QPushButton(tr("Export..."));
    exportButton->setObjectName(QStringLiteral("trendExport"));
    stats = new QLabel;
    stats->setObjectName(QStringLiteral("trendStats"));
    stats->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(pauseButton);
    buttons->addWidget(fit);
    buttons->addWidget(clearButton);
    buttons->addWidget(exportButton);
    buttons->addStretch();
    auto *body = new QWidget;
    auto *layout = new QVBoxLayout(body);
    layout->addLayout(buttons);
    layout->addWidget(view, 1);
    layout->addWidget(stats);
    setWidget(body);

    connect(pauseButton, &QPushButton::toggled, this, &TrendDock::scheduleRedraw);
    connect(fit, &QPushButton::clicked, this, [this] {
        view->chart()->zoomReset();
        redraw();
    });
    connect(clearButton, &QPushButton::clicked, this, &TrendDock::clear);
    connect(exportButton, &QPushButton::clicked, this, &TrendDock::exportAs);
    // A span picked by the user changes the range too; the chart's own changes do not count.
    connect(timeAxis, &QValueAxis::rangeChanged, this, [this] {
        if (!drawing)
            scheduleRedraw();
    });
    for (Trace &t : traces)
        addSeries(t);
    if (!traces.empty())
        redraw();
}

void TrendDock::plot(int command, int field, int element)
{
    if (command < 0 || command >= int(zem::kCommandCount))
        return;
    const zem::Record *response = zem::kCommands[command].response;
    if (!response || field < 0 || field >= int(response->fields.size()))
        return;
    const zem::Field &f = response->fields[std::size_t(field)];
    if (element >= int(f.count) || (element < 0) != !f.isArray)
        return;
    for (const Trace &t : traces)
        if (t.command == command && t.field == field && t.element == element)
            return;
    const QString page = QLatin1String(zem::kCommands[command].name);
    const QString name = element < 0
        ? tr("%1 %2").arg(page, QLatin1String(f.name))
        : tr("%1 %2[%3]").arg(page, QLatin1String(f.name)).arg(element);
    const int i = addTrace(name);
    traces[i].command = command;
    traces[i].field = field;
    traces[i].element = element;
}

int TrendDock::addTrace(const QString &name)
{
    Trace t;
    t.name = name;
    if (view)
        addSeries(t);
    traces.push_back(std::move(t));
    emit traceAdded();
    return int(traces.size()) - 1;
}

void TrendDock::addSeries(Trace &t)
{
    t.series = new QLineSeries(this);
    t.series->setName(t.name);
    QChart *chart = view->chart();
    chart->addSeries(t.series);
    t.series->attachAxis(timeAxis);
    t.series->attachAxis(valueAxis);
    // A click on its legend entry hides a field, and takes it out of the figures.
    for (QLegendMarker *marker : chart->legend()->markers(t.series))
        connect(marker, &QLegendMarker::clicked, this, [this, marker, series = t.series] {
            series->setVisible(!series->isVisible());
            marker->setVisible(true);
            QFont font = marker->font();
            font.setStrikeOut(!series->isVisible());
            marker->setFont(font);
            redraw();
        });
}

void TrendDock::sample(const zem::calls::Call &call)
{
    if (call.operation != zem::calls::Operation::Command
        || (call.result != ZEM_RESULT_OK && call.result != ZEM_RESULT_VALUE_ERROR)
        || !call.hasResponse)
        return;
    const zem::Record *response = zem::kCommands[call.command].response;
    if (!response || call.responseSize() < response->size)
        return;
    bool any = false;
    double now = 0;
    for (int i = 0; i < traceCount(); ++i) {
        const Trace &t = traces[i];
        if (t.command != call.command)
            continue;
        const double value = zem::codec::elementValue(response->fields[std::size_t(t.field)],
            call.response(), std::size_t(std::max(0, t.element)));
        if (!std::isfinite(value))
            continue;
        // Fields of one response share one time, and so one CSV row.
        if (!any) {
            if (!clock.isValid())
                clock.start();
            now = clock.nsecsElapsed() / 1e9;
        }
        addPoint(i, now, value);
        any = true;
    }
    if (any)
        scheduleRedraw();
}

void TrendDock::addPoint(int trace, double seconds, double value)
{
    QList<QPointF> &points = traces.at(trace).points;
    if (points.size() >= kMaxSamples)
        // Erasing at the front moves no elements in QList.
        points.remove(0, points.size() - kMaxSamples + 1);
    points.append(QPointF(seconds, value));
}

void TrendDock::scheduleRedraw()
{
    redrawUpdate->request();
}

void TrendDock::redraw()
{
    if (!view || pauseButton->isChecked())
        return;
    QChart *chart = view->chart();
    const bool zoomed = chart->isZoomed();
    double x0 = timeAxis->min(), x1 = timeAxis->max();
    if (!zoomed) {
        double newest = 0;
        for (const Trace &t : traces)
            if (!t.points.isEmpty())
                newest = std::max(newest, t.points.last().x());
        x0 = 0;
        x1 = std::max(newest, 1.0);
    }
    const int columns = std::max(100, int(chart->plotArea().width()));
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    QStringList lines;
    for (const Trace &t : traces) {
        const auto byX = [](const QPointF &p, double x) { return p.x() < x; };
        const QPointF *first = t.points.constData();
        const QPointF *past = first + t.points.size();
        const QPointF *begin = std::lower_bound(first, past, x0, byX);
        const QPointF *end = std::upper_bound(
            begin, past, x1, [](double x, const QPointF &p) { return x < p.x(); });
        t.series->replace(decimate(begin, end, x0, x1, columns));
        if (begin == end || !t.series->isVisible())
            continue;
        double sum = 0, least = begin->y(), most = begin->y();
        for (const QPointF *p = begin; p != end; ++p) {
            sum += p->y();
            least = std::min(least, p->y());
            most = std::max(most, p->y());
        }
        low = std::min(low, least);
        high = std::max(high, most);
        lines << tr("%1: min %2, mean %3, max %4 (%5 samples)")
                     .arg(t.name)
                     .arg(least, 0, 'g', 6)
                     .arg(sum / double(end - begin), 0, 'g', 6)
                     .arg(most, 0, 'g', 6)
                     .arg(end - begin);
    }
    stats->setText(lines.join(u'\n'));
    if (!zoomed) {
        drawing = true;
        timeAxis->setRange(x0, x1);
        drawing = false;
    }
    if (low <= high) {
        const double margin
            = low == high ? std::max(1.0, std::abs(low) * 0.05) : (high - low) * 0.05;
        valueAxis->setRange(low - margin, high + margin);
    }
}

void TrendDock::clear()
{
    for (Trace &t : traces)
        t.points.clear();
    clock.invalidate();
    if (view)
        view->chart()->zoomReset();
    redraw();
}

QString TrendDock::csv() const
{
    // One row per time; a field without a sample at that time stays empty.
    std::map<double, std::vector<double>> rows;
    const double none = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < traces.size(); ++i)
        for (const QPointF &p : traces[i].points) {
            std::vector<double> &row = rows[p.x()];
            row.resize(traces.size(), none);
            row[i] = p.y();
        }
    zem::files::CsvWriter out;
    out.field("time_s");
    for (const Trace &t : traces)
        out.field(t.name.toStdString());
    out.endRow();
    for (const auto &[time, values] : rows) {
        out.number(time, 6, std::chars_format::fixed);
        for (std::size_t i = 0; i < traces.size(); ++i)
            out.number(i < values.size() ? values[i] : std::nan(""), 10);
        out.endRow();
    }
    return QString::fromStdString(out.take());
}

bool TrendDock::exportTo(const QString &fileName, QString *error) const
{
    QByteArray bytes;
    if (fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        // The picture of a dock never shown needs its chart first.
        const_cast<TrendDock *>(this)->build();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!view->grab().save(&buffer, "PNG")) {
            if (error)
                *error = tr("Cannot export the trend to %1: the chart could not be drawn")
                             .arg(fileName);
            return false;
        }
    } else {
        bytes = csv().toUtf8();
    }
    const QString failure = zem::files::writeFile(fileName, bytes);
    if (!failure.isEmpty() && error)
        *error = tr("Cannot export the trend to %1: %2").arg(fileName, failure);
    return failure.isEmpty();
}

void TrendDock::exportAs()
{
    saveWithDialog(m_context,
        { this, tr("Export trend"), QStringLiteral("trend.csv"),
            tr("CSV (*.csv);;PNG image (*.png)") },
        tr("Export trend"), [this](const QString &file, const QString &) {
            QString error;
            exportTo(file, &error);
            return error;
        });
}
