// The History view's three charts: a board type's failures per point, the
// yield per board type and day, and a point's score over time against its
// tolerance. Each title names the board type it shows; they only draw what
// the view read from the history.
#pragma once

#include "store.h"

#include <QCoreApplication>
#include <QString>

#include <cmath>
#include <vector>

class QBarCategoryAxis;
class QBarSeries;
class QChart;
class QComboBox;
class QLineSeries;
class QTreeWidget;
class QValueAxis;
class QWidget;

// The format of a time axis that spans spanMs: the time of day while the
// span is under two days (the date too past one day, when a day's hours
// repeat), the date for anything longer.
QString timeAxisFormat(qint64 spanMs);

// A point's scores in the runs shown, read on the history's thread.
struct HistoryScores
{
    QString point;
    std::vector<zem::history::ScoreSample> samples;
    double tolerance = NAN; // the newest run's that scored the point
    QString error;
};

class HistoryCharts
{
    Q_DECLARE_TR_FUNCTIONS(HistoryCharts)

public:
    // Each tab's page, without a parent: the caller's tab widget takes it.
    QWidget *buildFailuresTab();
    QWidget *buildYieldTab();
    QWidget *buildScoresTab();
    // The point whose scores are drawn, filled from the failures.
    QComboBox *pointCombo() const { return m_pointCombo; }

    // Once all three are built, and again with what the history holds:
    // board is the board type the view shows, empty when none.
    void showFailures(const QString &board, const std::vector<zem::history::PointStats> &stats,
        const QString &point);
    // board is the type filtered by, empty for every board type.
    void showYield(const QString &board, const std::vector<zem::history::DayYield> &days);
    void showScores(const QString &board, const HistoryScores &scores);

private:
    QChart *m_paretoChart = nullptr;
    QBarSeries *m_paretoSeries = nullptr;
    QBarCategoryAxis *m_paretoAxis = nullptr;
    QValueAxis *m_paretoCount = nullptr;
    QTreeWidget *m_yieldTable = nullptr;
    QChart *m_yieldChart = nullptr;
    QComboBox *m_pointCombo = nullptr;
    QChart *m_scoreChart = nullptr;
    QLineSeries *m_scoreSeries = nullptr;
    QLineSeries *m_toleranceSeries = nullptr;
};
