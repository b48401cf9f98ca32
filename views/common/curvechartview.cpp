#include "curvechartview.h"

#include <QMouseEvent>
#include <QToolTip>
#include <QXYSeries>

namespace {
// How close, in pixels, the pointer must come to a point to show it.
constexpr qreal kHoverRadius = 8;
} // namespace

CurveChartView::CurveChartView(QChart *chart, QWidget *parent)
    : QChartView(chart, parent)
{
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

void CurveChartView::mouseMoveEvent(QMouseEvent *event)
{
    QChartView::mouseMoveEvent(event);
    const auto series = chart()->series();
    auto *xy = series.isEmpty() ? nullptr : qobject_cast<QXYSeries *>(series.first());
    if (!xy || event->buttons() != Qt::NoButton)
        return;
    const QPointF pointer = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    const QList<QPointF> points = xy->points();
    qreal best = kHoverRadius * kHoverRadius;
    int nearest = -1;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF d = chart()->mapToPosition(points[i], xy) - pointer;
        const qreal distance = d.x() * d.x() + d.y() * d.y();
        if (distance <= best) {
            best = distance;
            nearest = i;
        }
    }
    if (nearest < 0) {
        QToolTip::hideText();
        return;
    }
    const QPointF p = points[nearest];
    QToolTip::showText(event->globalPosition().toPoint(),
        tr("%1 %2, %3 %4")
            .arg(QString::number(p.x(), 'g', 6), xUnit, QString::number(p.y(), 'g', 6), yUnit),
        this);
}
