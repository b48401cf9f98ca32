#include "signaturemodel.h"

#include "netcheck.h"

#include "tonecolour.h"
#include <QBrush>

#include <QColor>
#include <QFont>
#include <QMimeData>

#include <algorithm>
#include <cmath>

namespace {

const char kRowMime[] = "application/x-zem-signature-row";

} // namespace

SignatureModel::SignatureModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void SignatureModel::setSignature(sig::Signature *s)
{
    beginResetModel();
    m_signature = s;
    m_results = nullptr;
    endResetModel();
    emit pictureChanged();
}

void SignatureModel::setResults(std::vector<sig::PointResult> *r)
{
    m_results = r;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool SignatureModel::resultsInStep() const
{
    return m_results && m_signature && m_results->size() == m_signature->points.size();
}

sig::Verdict SignatureModel::verdictOf(int row) const
{
    return m_results && row >= 0 && std::size_t(row) < m_results->size()
        ? (*m_results)[std::size_t(row)].verdict
        : sig::Verdict::NotTested;
}

void SignatureModel::insertPoint(int row, sig::Point point, sig::PointResult result)
{
    const bool inStep = resultsInStep();
    beginInsertRows(QModelIndex(), row, row);
    m_signature->points.insert(m_signature->points.begin() + row, std::move(point));
    if (inStep)
        m_results->insert(m_results->begin() + row, std::move(result));
    endInsertRows();
}

std::pair<sig::Point, sig::PointResult> SignatureModel::takePoint(int row)
{
    const bool inStep = resultsInStep();
    beginRemoveRows(QModelIndex(), row, row);
    std::pair<sig::Point, sig::PointResult> out;
    out.first = std::move(m_signature->points[std::size_t(row)]);
    m_signature->points.erase(m_signature->points.begin() + row);
    if (inStep) {
        out.second = std::move((*m_results)[std::size_t(row)]);
        m_results->erase(m_results->begin() + row);
    }
    endRemoveRows();
    return out;
}

void SignatureModel::movePoint(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= rowCount() || to >= rowCount())
        return;
    // Qt counts the destination before the move; `to` is where it ends up.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    const auto rotate = [from, to](auto &v) {
        if (from < to)
            std::rotate(v.begin() + from, v.begin() + from + 1, v.begin() + to + 1);
        else
            std::rotate(v.begin() + to, v.begin() + from, v.begin() + from + 1);
    };
    if (resultsInStep())
        rotate(*m_results);
    rotate(m_signature->points);
    endMoveRows();
    // The numbers of the rows between changed.
    emit dataChanged(index(std::min(from, to), Number), index(std::max(from, to), Number));
}

void SignatureModel::renamePoint(int row, const QString &name)
{
    m_signature->points[std::size_t(row)].name = name;
    pointChanged(row);
}

void SignatureModel::setPosition(int row, std::optional<QPointF> at)
{
    m_signature->points[std::size_t(row)].at = at;
    emit positionChanged(row);
}

void SignatureModel::setBoardPosition(int row, std::optional<QPointF> mm)
{
    m_signature->points[std::size_t(row)].mm = mm;
    emit positionChanged(row);
}

void SignatureModel::setFiducials(std::vector<sig::Fiducial> fiducials)
{
    m_signature->fiducials = std::move(fiducials);
    emit fiducialsChanged();
}

void SignatureModel::setMeasurement(int row, std::size_t measurement, sig::Measurement value)
{
    m_signature->points[std::size_t(row)].measurements[measurement] = std::move(value);
    pointChanged(row);
}

void SignatureModel::setReferences(
    int row, std::vector<sig::Measurement> measurements, QString predictedBy)
{
    sig::Point &p = m_signature->points[std::size_t(row)];
    p.measurements = std::move(measurements);
    p.predictedBy = std::move(predictedBy);
    pointChanged(row);
}

void SignatureModel::setPicture(std::optional<sig::Picture> picture)
{
    m_signature->image = std::move(picture);
    emit pictureChanged();
}

void SignatureModel::setBoard(
    std::vector<sig::Point> points, std::vector<QPointF> outline, std::vector<sig::Part> parts)
{
    beginResetModel();
    m_signature->points = std::move(points);
    m_signature->outline = std::move(outline);
    m_signature->parts = std::move(parts);
    if (m_results)
        m_results->assign(m_signature->points.size(), sig::PointResult());
    endResetModel();
    // The outline is drawn where there is no picture.
    emit pictureChanged();
}

bool SignatureModel::nameIsFree(const QString &name, int row) const
{
    const int at = m_signature ? m_signature->find(name) : -1;
    return at < 0 || at == row;
}

void SignatureModel::pointChanged(int row)
{
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int SignatureModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_signature ? 0 : int(m_signature->points.size());
}

int SignatureModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SignatureModel::data(const QModelIndex &index, int role) const
{
    if (!m_signature || !index.isValid() || index.row() >= rowCount())
        return QVariant();
    const std::size_t row = std::size_t(index.row());
    const sig::Point &p = m_signature->points[row];
    const sig::PointResult none;
    const sig::PointResult &r = m_results && row < m_results->size() ? (*m_results)[row] : none;
    if (role == Qt::ForegroundRole && index.column() == Verdict) {
        if (r.verdict == sig::Verdict::NotTested)
            return QVariant();
        return QBrush(toneQColor(sig::verdictTone(r.verdict)));
    }
    // A different point stands out across its whole row; one unlike its net
    // as much, in its own colour.
    const bool failed
        = r.verdict == sig::Verdict::Different || r.verdict == sig::Verdict::NetDisagrees;
    if (role == Qt::BackgroundRole && failed)
        return QBrush(toneQTint(sig::verdictTone(r.verdict)));
    if (role == Qt::FontRole && index.column() == Verdict && failed) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::TextAlignmentRole && (index.column() == Score || index.column() == Tolerance))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::EditRole && index.column() == Name)
        return p.name;
    if (role == Qt::ToolTipRole && index.column() == Name && !p.component.isEmpty())
        return tr("Pin of %1").arg(p.component);
    if (role == Qt::ToolTipRole && index.column() == Verdict
        && r.verdict == sig::Verdict::NetDisagrees)
        return sig::netDisagreementText(*m_signature, p, r.netPoints);
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
        return QStringLiteral("%1 %").arg(m_signature->toleranceOf(p), 0, 'f', 1);
    case Verdict:
        return p.check == sig::Check::Skip ? sig::skippedText() : sig::verdictText(r.verdict);
    case Reading:
        // A different point says what changed first.
        {
            QString text = r.curves.empty() ? QString() : r.reading.text();
            if (r.cause)
                text = tr("%1; now %2").arg(r.cause->text(), text);
            if (r.verdict == sig::Verdict::NetDisagrees)
                text = tr("%1; %2").arg(
                    sig::netDisagreementText(*m_signature, p, r.netPoints), text);
            if (!r.note.isEmpty())
                text = tr("%1; note: %2").arg(text, r.note);
            if (const QString marks = sig::resultMarks(r); !marks.isEmpty())
                text = text.isEmpty() ? marks : tr("%1; %2").arg(marks, text);
            return text;
        }
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

Qt::ItemFlags SignatureModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (!m_editable)
        return f;
    if (!index.isValid())
        return f | Qt::ItemIsDropEnabled;
    f |= Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (index.column() == Name)
        f |= Qt::ItemIsEditable;
    return f;
}

bool SignatureModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!m_signature || !index.isValid() || index.column() != Name || role != Qt::EditRole)
        return false;
    const QString name = value.toString().trimmed();
    if (name.isEmpty() || !nameIsFree(name, index.row()) || !sig::checkPointName(name).isEmpty()
        || name == m_signature->points[std::size_t(index.row())].name)
        return false;
    emit renameRequested(index.row(), name);
    return true;
}

Qt::DropActions SignatureModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QStringList SignatureModel::mimeTypes() const
{
    return { QLatin1String(kRowMime) };
}

QMimeData *SignatureModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    auto *data = new QMimeData;
    data->setData(QLatin1String(kRowMime), QByteArray::number(indexes.first().row()));
    return data;
}

bool SignatureModel::dropMimeData(
    const QMimeData *data, Qt::DropAction, int row, int, const QModelIndex &parent)
{
    if (!data || !data->hasFormat(QLatin1String(kRowMime)))
        return false;
    bool ok = false;
    const int from = data->data(QLatin1String(kRowMime)).toInt(&ok);
    // Dropped on a row: before it; between rows: at `row`; below the last: at the end.
    int before = parent.isValid() ? parent.row() : row < 0 ? rowCount() : row;
    if (!ok || from < 0 || from >= rowCount())
        return false;
    const int to = before > from ? before - 1 : before;
    if (to != from)
        emit moveRequested(from, to);
    // The move is the dock's to make; the view must not remove the source row.
    return false;
}
