// The recorded calls as a table: one row per call kept in the ring, oldest
// first. As the live model it is the recorder's sink: the ring takes every
// call as it is made, and the views are told of the new rows once per frame,
// in one insertion (flush() tells them at once). When full it drops the
// oldest hundredth of its calls at once (1,000 of 100,000), so it keeps
// between 99 % and all of them.
#pragma once

#include "callring.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <memory>

class FrameUpdate;

class CallsModel : public QAbstractTableModel, public zem::calls::CallSink
{
    Q_OBJECT

public:
    enum Column { Time, Command, Result, Duration, Origin, ColumnCount };
    // Sort keys: numbers where the shown text would sort wrongly.
    static constexpr int SortRole = Qt::UserRole;

    explicit CallsModel(
        std::size_t capacity = zem::calls::kDefaultRingCapacity, QObject *parent = nullptr);
    // A model over calls read elsewhere (a call file), oldest first.
    explicit CallsModel(std::vector<zem::calls::Call> calls, QObject *parent = nullptr);
    ~CallsModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Every call recorded, also those the views are not told of yet.
    const zem::calls::CallRing &ring() const { return calls; }
    const zem::calls::Call &call(int row) const { return calls.at(std::size_t(row)); }
    // The newest call before row that called the same command, or -1.
    int previousOfSameCommand(int row) const;

    void record(const zem::calls::Call &call) override;
    void clear();
    // Tells the views now of the calls recorded since they were last told:
    // rowCount() then counts every call of the ring.
    void flush();

    // The texts the table shows, for the filter and the status bar.
    static QString commandText(const zem::calls::Call &call);
    static QString durationText(std::int64_t ns);
    // The texts a column shows, with its widest number (a call of up to ten
    // seconds), so views size their columns to the contents without
    // measuring every row.
    static QStringList columnTexts(Column column);

signals:
    // New rows were told to the views, or the model was cleared; at most
    // once per frame while calls come.
    void recorded();

private:
    void insertRecorded();

    zem::calls::CallRing calls;
    int rows = 0; // the rows the views were told of: the oldest of the ring
    FrameUpdate *insertion = nullptr;
};
