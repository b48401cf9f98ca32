// A chart view for curves: drag to zoom, double-click to return to the data,
// hover near a point to read its values.
#pragma once

#include <QChartView>

class QXYSeries;

class CurveChartView : public QChartView
{
    Q_OBJECT

public:
    explicit CurveChartView(QChart *chart, QWidget *parent = nullptr);

    // Units shown by the hover text, for x and y.
    void setUnits(const QString &x, const QString &y);
    bool isZoomed() const { return zoomed; }
    // The values of the drawn point nearest to position (in the view's
    // coordinates), as the hover shows them; empty when none is close.
    QString readoutAt(const QPoint &position) const;

signals:
    // The user asked to see all the data again.
    void resetRequested();

protected:
    // The series the hover reads: the first one, unless told otherwise.
    virtual QList<QXYSeries *> hoverSeries() const;

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QString xUnit;
    QString yUnit;
    bool zoomed = false;
    QPoint pressedAt;
};
