// Everything the History dock shows, as a plain widget that any window can
// place (a dock, a tab): the test runs the history keeps, filtered by board,
// serial and verdict; the points a board type fails most, its yield per day,
// a point's score over time against its tolerance, and a run's points with
// their curves. It opens the history only when asked to (Refresh), and reads
// it on the history's own thread: the view shows what comes back.
#pragma once

#include "capability.h"
#include "historycharts.h"
#include "runsmodel.h"
#include "store.h"
#include "worker.h"

#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

class DockContext;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableView;
class RunDetail;

class HistoryView : public QWidget
{
    Q_OBJECT

public:
    // The context's history must be set: it does the reading, shared with
    // whatever records runs. The widgets are made when first shown or
    // refreshed: most sessions never look at the history.
    explicit HistoryView(DockContext &context, QWidget *parent = nullptr);
    ~HistoryView() override;

    // The text naming the history (see location.h), as in the field; kept
    // in the settings.
    QString locationText() const { return m_history->locationText(); }
    void setLocationText(const QString &text);

    RunsModel *runsModel() const { return m_runs; }

public slots:
    // Opens the history if needed and reads the runs and charts again; a
    // program that has just recorded a run calls it.
    void refresh();

signals:
    // A refresh, a run or a point's scores came back and are shown.
    void shown();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct Snapshot;

    void build();
    QWidget *buildRunsTab();
    // A refresh for a filter's edit, once however many edits come at once.
    void requestRefresh();
    // Posts a job; a history that cannot be opened is shown as the status.
    void read(zem::history::Worker::Job job);
    void showSnapshot(Snapshot &snapshot); // takes its runs
    void showBoards(const QStringList &boards);
    void refreshScores();
    static HistoryScores readScores(zem::history::Store &store, const QString &board,
        const QString &point, const QDateTime &since);
    // The board type filtered by, as the history spells it when it holds it.
    QString boardFilterText() const;
    // The day the runs shown start from, none for all (the filters' part).
    QDateTime sinceFilter() const;
    void showScores(const HistoryScores &scores);
    void showRun(int row);
    void setStatus(const QString &text, bool error);

    DockContext &m_context;
    zem::history::Worker *m_history;
    QString m_board; // whose failures, yield and scores are shown
    RunsModel *m_runs = nullptr;
    bool m_refreshQueued = false;
    // The Cpk figures of a board type, read since the last refresh.
    std::optional<std::pair<QString, std::vector<zem::history::Capability>>> m_capability;
    HistoryCharts m_charts;

    QLineEdit *m_locationEdit = nullptr;
    QComboBox *m_boardFilter = nullptr;
    QLineEdit *m_serialFilter = nullptr;
    QLineEdit *m_verdictFilter = nullptr;
    QDateEdit *m_sinceEdit = nullptr;
    QTableView *m_runsTable = nullptr;
    RunDetail *m_detail = nullptr; // the run opened
    QLabel *m_status = nullptr;
};
