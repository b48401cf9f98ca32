// Strip charts of response fields over time, fed by the decoded response of
// every call whose page shows it.
#pragma once

#include <QDockWidget>
#include <QElapsedTimer>
#include <QList>
#include <QPointF>

#include <memory>
#include <vector>

class DockContext;
class FrameUpdate;
class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace zem::calls {
struct Call;
}

class TrendDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit TrendDock(DockContext &context, QWidget *parent = nullptr);

    // Samples kept per field; older ones are dropped first.
    static constexpr int kMaxSamples = 100000;

    // Plots a response field of a command (indices into zem::kCommands and
    // its response's fields), or one element of an array field, from now on;
    // each is plotted once.
    void plot(int command, int field, int element = -1);
    // Records the plotted fields of the call's command from its response,
    // when the call delivered one (0 or -3).
    void sample(const zem::calls::Call &call);

    // A trace fed by hand (figures, tests); returns its number.
    int addTrace(const QString &name);
    void addPoint(int trace, double seconds, double value);

    int traceCount() const { return int(traces.size()); }
    qsizetype sampleCount(int trace) const { return traces.at(trace).points.size(); }
    // Writes a CSV (time, one column per field) or, for a .png name, a picture.
    bool exportTo(const QString &fileName, QString *error) const;

    // Puts the kept samples on the chart now rather than at the next tick.
    void redraw();

signals:
    // A field was added: the window shows the dock.
    void traceAdded();

private:
    struct Trace
    {
        QString name;
        int command = -1;
        int field = -1;
        int element = -1; // of an array field; -1 for a scalar
        QLineSeries *series = nullptr; // once the chart is built
        QList<QPointF> points; // time order
    };

    void build();
    void addSeries(Trace &trace);
    void clear();
    void exportAs();
    void scheduleRedraw();
    QString csv() const;

    std::vector<Trace> traces;
    QElapsedTimer clock; // from the first sample
    DockContext &m_context;
    FrameUpdate *redrawUpdate = nullptr;
    QChartView *view = nullptr;
    QValueAxis *timeAxis = nullptr;
    QValueAxis *valueAxis = nullptr;
    QPushButton *pauseButton = nullptr;
    QLabel *stats = nullptr;
    bool drawing = false;
};
