// A chart view for curves: drag to zoom, double-click to return to the data,
// hover near a point of the first series to read its values.
#pragma once

#include <QChartView>

class CurveChartView : public QChartView
{
    Q_OBJECT

public:
    explicit CurveChartView(QChart *chart, QWidget *parent = nullptr);

    // Units shown by the hover text, for x and y.
    void setUnits(const QString &x, const QString &y);
    bool isZoomed() const { return zoomed; }

signals:
    // The user asked to see all the data again.
    void resetRequested();

protected:
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
