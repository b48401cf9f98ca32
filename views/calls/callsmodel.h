// The recorded calls as a table: one row per call kept in the ring, oldest
// first. As the live model it is the recorder's sink, and tells its views of
// every append as it happens. When full it drops the oldest hundredth of its
// calls at once (1,000 of 100,000), so it keeps between 99 % and all of them.
#pragma once

#include "callring.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <memory>

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

    const zem::calls::CallRing &ring() const { return calls; }
    const zem::calls::Call &call(int row) const { return calls.at(std::size_t(row)); }
    // The newest call before row that called the same command, or -1.
    int previousOfSameCommand(int row) const;

    void record(const zem::calls::Call &call) override;
    void clear();

    // The texts the table shows, for the filter and the status bar.
    static QString commandText(const zem::calls::Call &call);
    static QString durationText(std::int64_t ns);
    // The texts a column shows, with its widest number (a call of up to ten
    // seconds), so views size their columns to the contents without
    // measuring every row.
    static QStringList columnTexts(Column column);

signals:
    // After every append; connect queued or coalesce, it comes per call.
    void recorded();

private:
    zem::calls::CallRing calls;
};
