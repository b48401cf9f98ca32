// The History dock: the test runs the history keeps, filtered by board,
// serial and verdict; the points a board type fails most, its yield per day,
// a point's score over time against its tolerance, and a run's points with
// their curves. It opens the history only when asked to (Refresh), and reads
// it on the history's own thread: the dock shows what comes back.
#pragma once

#include "runsmodel.h"
#include "store.h"
#include "worker.h"

#include <QDockWidget>

#include <memory>
#include <vector>

class DockContext;
class QBarCategoryAxis;
class QBarSeries;
class QChart;
class QComboBox;
class QDateEdit;
class IvChart;
class QLabel;
class QLineEdit;
class QLineSeries;
class QTableView;
class QTableWidget;
class QTreeWidget;
class QValueAxis;

class HistoryDock : public QDockWidget
{
    Q_OBJECT

public:
    // history does the reading; it is shared with whatever records runs.
    // The context's history must be set.
    explicit HistoryDock(DockContext &context, QWidget *parent = nullptr);
    ~HistoryDock() override;

    // The text naming the history (see location.h), as in the field.
    QString locationText() const { return history->locationText(); }
    void setLocationText(const QString &text);

    RunsModel *runsModel() const { return runs; }

public slots:
    // Opens the history if needed and reads the runs and charts again.
    void refresh();

signals:
    // A refresh, a run or a point's scores came back and are shown.
    void shown();

private:
    struct Scores;
    struct Snapshot;

    void build();
    QWidget *buildRunsTab();
    QWidget *buildFailuresTab();
    QWidget *buildYieldTab();
    QWidget *buildScoresTab();
    // Posts a job; a history that cannot be opened is shown as the status.
    void read(zem::history::Worker::Job job);
    void showSnapshot(Snapshot &snapshot); // takes its runs
    void showFailures(const std::vector<zem::history::PointStats> &stats, const QString &point);
    void showYield(const std::vector<zem::history::DayYield> &days);
    void refreshScores();
    static Scores readScores(zem::history::Store &store, const QString &board, const QString &point,
        const QDateTime &since);
    // The day the runs shown start from, none for all (the filters' part).
    QDateTime sinceFilter() const;
    void showScores(const Scores &scores);
    void showRun(int row);
    void showPointCurve(int row);
    void setStatus(const QString &text, bool error);

    DockContext &m_context;
    zem::history::Worker *history;
    QString board; // whose failures, yield and scores are shown
    RunsModel *runs = nullptr;
    std::optional<zem::history::Run> shownRun; // the run whose points are listed

    QLineEdit *locationEdit = nullptr;
    QLineEdit *boardFilter = nullptr;
    QLineEdit *serialFilter = nullptr;
    QLineEdit *verdictFilter = nullptr;
    QDateEdit *sinceEdit = nullptr;
    QTableView *runsTable = nullptr;
    QTableWidget *pointsTable = nullptr;
    IvChart *curveChart = nullptr;
    QBarSeries *paretoSeries = nullptr;
    QBarCategoryAxis *paretoAxis = nullptr;
    QValueAxis *paretoCount = nullptr;
    QTreeWidget *yieldTable = nullptr;
    QChart *yieldChart = nullptr;
    QComboBox *pointCombo = nullptr;
    QChart *scoreChart = nullptr;
    QLineSeries *scoreSeries = nullptr;
    QLineSeries *toleranceSeries = nullptr;
    QLabel *status = nullptr;
};
