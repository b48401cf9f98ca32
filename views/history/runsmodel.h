// The History dock's list of runs: one row a run, newest first, over the
// summaries as the history returned them.
#pragma once

#include "store.h"

#include <QAbstractTableModel>
#include <QColor>

#include <vector>

// How a verdict is told apart at a glance in the runs and points tables:
// pass green, fail and different red, unstable amber, no_contact violet,
// not_learned grey, net_disagrees orange. Both colours are given, dark text on a light ground, so
// it reads the same under a light or a dark palette; invalid for a verdict
// of no known kind (the view's own colours then).
struct VerdictColours
{
    QColor text;
    QColor ground;
};
VerdictColours verdictColours(const QString &verdict);

// The runs as listed, newest first; the verdict spelled out and coloured.
class RunsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Started, Board, Serial, Verdict, Failed, Points, Operator, ColumnCount };

    explicit RunsModel(QObject *parent = nullptr);

    void setRuns(std::vector<zem::history::RunSummary> runs);
    const zem::history::RunSummary *runAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // A run recorded without a serial says so instead of showing nothing.
    static QString serialWords(const QString &serial);

private:
    std::vector<zem::history::RunSummary> rows;
};
