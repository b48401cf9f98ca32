#include "signaturemodel.h"

#include <QBrush>
#include <QColor>

SignatureModel::SignatureModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void SignatureModel::setSignature(sig::Signature *s)
{
    beginResetModel();
    signature = s;
    results = nullptr;
    endResetModel();
}

void SignatureModel::setResults(const std::vector<sig::PointResult> *r)
{
    results = r;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool SignatureModel::appendPoint(const QString &name)
{
    const QString n = name.trimmed();
    if (!signature || n.isEmpty() || signature->find(n) >= 0)
        return false;
    const int row = int(signature->points.size());
    beginInsertRows(QModelIndex(), row, row);
    signature->points.emplace_back();
    signature->points.back().name = n;
    endInsertRows();
    return true;
}

void SignatureModel::pointChanged(int row)
{
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int SignatureModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !signature ? 0 : int(signature->points.size());
}

int SignatureModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SignatureModel::data(const QModelIndex &index, int role) const
{
    if (!signature || !index.isValid() || index.row() >= rowCount())
        return QVariant();
    const std::size_t row = std::size_t(index.row());
    const sig::Point &p = signature->points[row];
    const sig::PointResult none;
    const sig::PointResult &r = results && row < results->size() ? (*results)[row] : none;
    if (role == Qt::ForegroundRole && index.column() == Verdict) {
        switch (r.verdict) {
        case sig::Verdict::Pass:
            return QBrush(QColor(0x1a, 0x7f, 0x37));
        case sig::Verdict::Different:
            return QBrush(QColor(0xc0, 0x39, 0x2b));
        case sig::Verdict::NotLearned:
        case sig::Verdict::Unstable:
            return QBrush(QColor(0xb2, 0x6a, 0x00));
        default:
            return QVariant();
        }
    }
    if (role == Qt::TextAlignmentRole && (index.column() == Score || index.column() == Tolerance))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case Number:
        return index.row() + 1;
    case Name:
        return p.learned() ? p.name : tr("%1 (not learned)").arg(p.name);
    case Score:
        return std::isnan(r.score) ? QString() : QStringLiteral("%1 %").arg(r.score, 0, 'f', 1);
    case Tolerance:
        return QStringLiteral("%1 %").arg(signature->toleranceOf(p), 0, 'f', 1);
    case Verdict:
        return sig::verdictText(r.verdict);
    case Reading:
        // A different point says what changed first.
        if (r.cause)
            return tr("%1; now %2").arg(r.cause->text(), r.reading.text());
        return r.curves.empty() ? QString() : r.reading.text();
    default:
        return QVariant();
    }
}

QVariant SignatureModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Number:
        return tr("#");
    case Name:
        return tr("Point");
    case Score:
        return tr("Score");
    case Tolerance:
        return tr("Tolerance");
    case Verdict:
        return tr("Verdict");
    case Reading:
        return tr("Reading");
    default:
        return QVariant();
    }
}
