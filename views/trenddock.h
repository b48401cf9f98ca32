// Strip charts of response fields over time, fed whenever their page shows a
// response.
#pragma once

#include <QDockWidget>
#include <QElapsedTimer>
#include <QList>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <vector>

class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;
class base_io_widget;
class iopanel;

class TrendDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit TrendDock(QWidget *parent = nullptr);

    // Samples kept per field; older ones are dropped first.
    static constexpr int kMaxSamples = 100000;

    // Offers "Plot over time" in the context menu of the page's numeric
    // response fields, and "Plot element n over time" in that of its arrays.
    void attach(iopanel *page);
    // Plots a response field of a page, or one element of an array field,
    // from now on; each is plotted once.
    void plot(iopanel *page, base_io_widget *field, int element = -1);
    // Records the page's plotted fields as they are shown now.
    void sample(const iopanel *page);

    // A trace fed by hand (figures, tests); returns its number.
    int addTrace(const QString &name);
    void addPoint(int trace, double seconds, double value);

    int traceCount() const { return int(traces.size()); }
    qsizetype sampleCount(int trace) const { return traces.at(trace).points.size(); }
    // Writes a CSV (time, one column per field) or, for a .png name, a picture.
    bool exportTo(const QString &fileName, QString *error) const;
    void setExportFileChooser(std::function<QString()> chooser);

    // Puts the kept samples on the chart now rather than at the next tick.
    void redraw();

signals:
    // A field was added: the window shows the dock.
    void traceAdded();

private:
    struct Trace
    {
        QString name;
        const iopanel *page = nullptr;
        const base_io_widget *field = nullptr;
        int element = -1; // of an array field; -1 for a scalar
        QLineSeries *series = nullptr;
        QList<QPointF> points; // time order
    };

    void clear();
    void exportAs();
    void scheduleRedraw();
    QString csv() const;

    std::vector<Trace> traces;
    QElapsedTimer clock; // from the first sample
    QTimer redrawTimer;
    std::function<QString()> exportFileName;
    QChartView *view = nullptr;
    QValueAxis *timeAxis = nullptr;
    QValueAxis *valueAxis = nullptr;
    QPushButton *pauseButton = nullptr;
    QLabel *stats = nullptr;
    bool drawing = false;
};
