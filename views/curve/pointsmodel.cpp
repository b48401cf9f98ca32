#include "pointsmodel.h"

#include "curve.h"

#include <cmath>

PointsModel::PointsModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void PointsModel::setCurve(const Curve *shown)
{
    beginResetModel();
    curve = shown;
    rows = shown ? int(shown->size()) : 0;
    endResetModel();
}

int PointsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int PointsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PointsModel::data(const QModelIndex &index, int role) const
{
    if (!curve || !index.isValid() || std::size_t(index.row()) >= curve->size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const std::size_t i = std::size_t(index.row());
    double value = 0;
    int digits = 7; // what a float holds
    switch (index.column()) {
    case Index:
        return index.row();
    case Time:
        value = curve->timeMs(i);
        digits = 10;
        break;
    case Voltage:
        value = curve->voltage[i];
        break;
    case Current:
        value = curve->current[i];
        break;
    default:
        return {};
    }
    // An unread point or an unknown time stays empty rather than "nan".
    return std::isfinite(value) ? QString::number(value, 'g', digits) : QString();
}

QVariant PointsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section;
    switch (section) {
    case Index:
        return tr("Index");
    case Time:
        return tr("Time (ms)");
    case Voltage:
        return tr("Voltage (V)");
    case Current:
        return tr("Current (mA)");
    default:
        return {};
    }
}
