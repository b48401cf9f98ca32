// One learn, test or compare-alike run of the Signatures dock: the probe run
// on the device thread, the probing order read from the history, the finished
// test written to it. No widgets: it tells what happened through signals,
// and the document's model follows the results directly.
#pragma once

#include "boardtest.h"
#include "boardverdict.h"
#include "logline.h"

#include <QDateTime>
#include <QObject>
#include <QPointF>

#include <memory>

class DeviceRun;
class DockContext;
class SignatureDocument;

class RunController : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Learn, Test, CompareAlike };
    struct Options
    {
        Kind kind = Kind::Learn;
        bool addBoard = false; // Learn: add to the references instead of replacing them
        bool autoSettings = false; // Learn: each point's best current range
        int repeat = 2; // Test: captures of each point
        bool onContact = false; // measure once the curve under the probe holds still
        bool likelyFirst = false; // Test: the order from the history
        bool keepInHistory = true; // Test: record the finished run
        QString serial; // of the board tested, for the history and the report
        QString operatorName; // who tested it, likewise
        // A machine that brings the probe (a prober URL, as zemctl takes it);
        // empty: the technician's hand.
        QString proberUrl;
        int row = 0; // where to start
    };

    RunController(DockContext &context, SignatureDocument &document, QObject *parent = nullptr);
    ~RunController() override;

    // Also while a test waits for its probing order from the history.
    bool isRunning() const { return m_running || m_orderPending; }
    bool isMeasuring() const { return m_measuring; }
    // The last run went through its last point: the next starts over.
    bool isFinished() const { return m_finished; }
    // The results of the last test run, one per point; null after a learn.
    const std::vector<sig::PointResult> *results() const;
    // The board's verdict so far over the last test run's points (Partial
    // before any, or after a learn).
    sig::BoardVerdict boardVerdict() const;
    // The last run's record once it has ended: who, where, with what, when,
    // and its coverage.
    const sig::RunRecord &record() const { return m_record; }
    // The last test's report (after a learn, the board without results),
    // written atomically, never over the history or the signature; false
    // with the reason in the document's errorString().
    bool writeReport(const QString &file);
    // What to draw for a point: its reference and the last test's curve of
    // it (either may be null).
    std::pair<const sig::IvCurve *, const sig::IvCurve *> curvesOf(int row) const;

    // False, with the reason in statusChanged(), when the run cannot start.
    bool start(const Options &options);
    void stop();
    // The measure key: takes the point now.
    void measure();
    // The user chose another point while the run waits for the probe.
    void select(int row);

signals:
    void logMessage(const QString &message, LogLevel level);
    void statusChanged(const QString &text);
    // Running, measuring or stopped: the buttons follow.
    void stateChanged();
    // The run waits for the probe on this point.
    void pointSelected(int row);
    // What to draw: a point's reference and its latest curve (either may be null).
    void curvesChanged(const sig::IvCurve *reference, const sig::IvCurve *test);
    void pointDone(int point, sig::Verdict verdict);
    // A test run began or judged a point: boardVerdict() has news.
    void verdictChanged();
    // A call has been waiting long: a busy cursor.
    void slow(bool waiting);
    // A finished test run was written to the history.
    void runRecorded();
    // The run's machine reported where it is (machine X and Y, mm).
    void machineMoved(QPointF machine);

private:
    void begin(int row, std::optional<QStringList> likelyFirst);
    void onEvent(const sig::BoardTest::Event &event);
    void finished();
    void showSymmetry();
    void recordInHistory();
    void forgetLearned();
    void reset();

    DockContext &m_context;
    SignatureDocument &m_document;
    Options m_options;
    // The board test, then the run that advances it on the device thread;
    // the test is the window's again once the run has finished.
    std::unique_ptr<sig::BoardTest> m_test;
    std::unique_ptr<DeviceRun> m_run;
    // Of the last test run, as its points were done; the record's once ended.
    std::vector<sig::PointResult> m_results;
    std::vector<sig::IvCurve> m_alike; // of the last compare-alike run, by point
    std::vector<int> m_order; // the points in the order the run probes them
    sig::RunRecord m_record; // of the last run, once ended
    int m_undoBefore = 0; // a learn's undo index when it began
    QString m_lastStatus;
    int m_runs = 0; // runs started, so a stop meant for one spares the next
    bool m_running = false;
    bool m_measuring = false;
    bool m_finished = false;
    bool m_orderPending = false;
};
