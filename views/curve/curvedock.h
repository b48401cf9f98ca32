// The Curve dock: one click measures the connected device and plots its
// current-voltage curve; curves can be held as references, repeated,
// tabulated and exported.
#pragma once

#include "curve.h"
#include "logline.h"
#include "sequence.h"

#include <QDockWidget>
#include <QList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zem::calls {
struct Call;
}

class CurveChartView;
class DeviceRun;
class DeviceSession;
class DockContext;
class FileChooser;
class FrameUpdate;
class IvChart;
class PointsModel;
class PointsView;
class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class QValueAxis;

class CurveDock : public QDockWidget
{
    Q_OBJECT

public:
    // At most this many curves are held as references.
    static constexpr int kMaxHeld = 8;

    // Frames read on the session by the pages, and by Send again of the
    // Calls dock, are drawn as the page's curve.
    explicit CurveDock(DockContext &context, QWidget *parent = nullptr);
    ~CurveDock() override;

    // Replaces the export file dialog.

    // The latest measurement, shown above the held curves.
    const Curve &latest() const { return shown; }
    // The curve assembled from the frames read on the get_measurement page,
    // shown beside the latest measurement, never in its place.
    const Curve &pageCurve() const { return m_page; }
    bool isRunning() const { return sequence != nullptr; }
    int heldCount() const { return int(held.size()); }

    // A frame read on the get_measurement page goes to its place in the
    // page's curve at once, which the chart and the dock's texts show within
    // a frame.
    void addPageFrame(std::size_t frameNumber, const get_measurement_response &frame);
    // Shows the page's curve now if a frame is waiting to be drawn.
    void flush();

    // Shows a curve as the latest, as a run's result is shown.
    void showCurve(const Curve &curve);

    // Writes the shown curve to fileName in the form its suffix names (csv,
    // json, png, svg); with everyCurve, a CSV or JSON file holds every curve
    // shown (latest, page, held) with the device's URL and serial number.
    // Returns an empty text on success, else the reason.
    QString exportTo(const QString &fileName, bool everyCurve = false);
    // Names a held curve (its legend entry and its name in exports).
    void renameHeld(int index, const QString &name);

public slots:
    // Starts a run, or cancels the one in progress.
    void measure();
    void hold();
    void clearHeld();
    void exportCurve();

signals:
    // A run ended, whatever the outcome; the new curve is already shown.
    void runFinished(MeasurementSequence::Outcome outcome, const QString &message);
    // Something the user should read in the event log.
    void logMessage(const QString &message, LogLevel level);
    // The chart holds a new latest curve.
    void curveShown();

private:
    void buildChart();
    void buildTimeChart();
    void startRun();
    void finishRun();
    void showWaiting(bool slow);
    void scheduleRepeat();
    void showLatestSeries();
    void showTimeSeries();
    void showCurrentTab();
    void updateButtons();
    void setStatus(const QString &text);

    void takePageFrame(const zem::calls::Call &call);
    void showPage();
    void showPageSeries();

    Curve m_page; // on the chart from the page's first frame
    std::size_t m_pageFrame = 0; // the frame read last
    FrameUpdate *pageUpdate = nullptr;
    QString m_url; // of the device opened last
    std::optional<std::uint32_t> m_serialNumber; // read from it, if it was

    DockContext &m_context;
    DeviceSession *session;
    bool cancelledHere = false; // the run's Cancel was pressed, not a stop from elsewhere
    // The run's machine, then the run that advances it on the device thread.
    std::unique_ptr<MeasurementSequence> sequence;
    std::unique_ptr<DeviceRun> run;
    MeasurementSequence::Clock::time_point runStarted {};
    Curve shown;
    std::vector<Curve> held; // drawn as the chart's held curves, in order

    QPushButton *measureButton = nullptr;
    QPushButton *repeatButton = nullptr;
    QSpinBox *repeatBox = nullptr;
    QPushButton *holdButton = nullptr;
    QPushButton *clearButton = nullptr;
    QPushButton *exportButton = nullptr;
    QTabWidget *tabs = nullptr;
    IvChart *view = nullptr;
    QChart *timeChart = nullptr;
    QWidget *timePage = nullptr;
    CurveChartView *timeView = nullptr; // built when its tab is first shown
    QLineSeries *voltageSeries = nullptr;
    QLineSeries *currentSeries = nullptr;
    QValueAxis *timeAxis = nullptr;
    QValueAxis *voltageAxis = nullptr;
    QValueAxis *currentAxis = nullptr;
    bool timeDirty = false; // the time tab shows an older curve
    bool pointsDirty = false; // so does the points table
    PointsModel *model = nullptr;
    QWidget *pointsPage = nullptr;
    PointsView *table = nullptr; // built when its tab is first shown
    QLabel *figures = nullptr;
    QLabel *status = nullptr;
    QTimer *repeatTimer = nullptr;
};

Q_DECLARE_METATYPE(MeasurementSequence::Outcome)
