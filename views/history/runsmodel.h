// The History dock's list of runs: one row a run, newest first, over the
// summaries as the history returned them.
#pragma once

#include "store.h"

#include <QAbstractTableModel>

#include <vector>

// The runs as listed, newest first.
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

private:
    std::vector<zem::history::RunSummary> rows;
};
