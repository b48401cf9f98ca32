// Every point of a curve as a table: index, time, voltage, current.
#pragma once

#include <QAbstractTableModel>

struct Curve;

class PointsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Index, Time, Voltage, Current, ColumnCount };

    explicit PointsModel(QObject *parent = nullptr);

    // The curve shown, owned by the caller, which calls this again whenever
    // it changes (null for none). Until then the rows stay as they were;
    // points the curve no longer has show empty.
    void setCurve(const Curve *curve);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Curve *curve = nullptr;
    int rows = 0;
};
