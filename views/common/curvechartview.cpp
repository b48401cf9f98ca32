#include "curvechartview.h"

#include <QLegend>
#include <QMouseEvent>
#include <QToolTip>
#include <QXYSeries>

#include <optional>

namespace {
// How close, in pixels, the pointer must come to a point to show it.
constexpr qreal kHoverRadius = 8;
} // namespace

CurveChartView::CurveChartView(QChart *chart, QWidget *parent)
    : QChartView(chart, parent)
{
    // The window's own font throughout: each other font the chart's theme
    // names costs a font lookup and its glyphs at start-up, and the chart
    // reads as part of the window.
    chart->setTitleFont(font());
    chart->legend()->setFont(font());
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
}

void CurveChartView::setUnits(const QString &x, const QString &y)
{
    xUnit = x;
    yUnit = y;
}

void CurveChartView::mousePressEvent(QMouseEvent *event)
{
    pressedAt = event->position().toPoint();
    QChartView::mousePressEvent(event);
}

void CurveChartView::mouseReleaseEvent(QMouseEvent *event)
{
    // A dragged rubber band zooms in on release, the right button zooms out;
    // a plain click changes nothing.
    const QPoint drag = event->position().toPoint() - pressedAt;
    if ((event->button() == Qt::LeftButton && drag.x() != 0 && drag.y() != 0)
        || event->button() == Qt::RightButton)
        zoomed = true;
    QChartView::mouseReleaseEvent(event);
}

void CurveChartView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        zoomed = false;
        emit resetRequested();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

QList<QXYSeries *> CurveChartView::hoverSeries() const
{
    const auto series = chart()->series();
    auto *xy = series.isEmpty() ? nullptr : qobject_cast<QXYSeries *>(series.first());
    return xy ? QList<QXYSeries *> { xy } : QList<QXYSeries *> {};
}

QString CurveChartView::readoutAt(const QPoint &position) const
{
    const QPointF pointer = chart()->mapFromScene(mapToScene(position));
    qreal best = kHoverRadius * kHoverRadius;
    std::optional<QPointF> nearest;
    for (QXYSeries *xy : hoverSeries()) {
        if (!xy->isVisible())
            continue;
        // The axes are linear: two points give the place of every other, far
        // sooner than mapping each of 10,000 points.
        const QPointF origin = chart()->mapToPosition(QPointF(0, 0), xy);
        const QPointF scale = chart()->mapToPosition(QPointF(1, 1), xy) - origin;
        for (const QPointF &p : xy->points()) {
            const qreal dx = origin.x() + p.x() * scale.x() - pointer.x();
            const qreal dy = origin.y() + p.y() * scale.y() - pointer.y();
            const qreal distance = dx * dx + dy * dy;
            if (distance <= best) {
                best = distance;
                nearest = p;
            }
        }
    }
    if (!nearest)
        return {};
    return tr("%1 %2, %3 %4")
        .arg(QString::number(nearest->x(), 'g', 6), xUnit, QString::number(nearest->y(), 'g', 6),
            yUnit);
}

void CurveChartView::mouseMoveEvent(QMouseEvent *event)
{
    QChartView::mouseMoveEvent(event);
    if (event->buttons() != Qt::NoButton)
        return;
    const QString text = readoutAt(event->position().toPoint());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
}
