#include "callsmodel.h"

#include "devicesession.h"
#include "frameupdate.h"
#include "records.h"

#include <QColor>
#include <QDateTime>
#include <QFont>

#include <algorithm>
#include <array>

namespace {

// Names of the commands, then of the other operations, made once: the filter
// reads them for every row.
const std::array<QString, zem::kCommandCount + 5> &names()
{
    static const auto table = [] {
        std::array<QString, zem::kCommandCount + 5> t;
        for (std::size_t i = 0; i < zem::kCommandCount; ++i)
            t[i] = QString::fromLatin1(zem::kCommands[i].name);
        zem::calls::Call c;
        for (int op = 1; op < 5; ++op) {
            c.operation = zem::calls::Operation(op);
            t[zem::kCommandCount + std::size_t(op)] = QString::fromLatin1(c.commandName());
        }
        return t;
    }();
    return table;
}

} // namespace

CallsModel::CallsModel(std::size_t capacity, QObject *parent)
    : QAbstractTableModel(parent)
    , calls(capacity)
    , insertion(new FrameUpdate([this] { insertRecorded(); }, this))
{
}

CallsModel::CallsModel(std::vector<zem::calls::Call> list, QObject *parent)
    : QAbstractTableModel(parent)
    , calls(list.size())
    , insertion(new FrameUpdate([this] { insertRecorded(); }, this))
{
    for (const zem::calls::Call &c : list)
        calls.append(c);
    rows = int(calls.size());
}

CallsModel::~CallsModel()
{
    if (zem::calls::sink() == this)
        zem::calls::setSink(nullptr);
}

int CallsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int CallsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString CallsModel::commandText(const zem::calls::Call &c)
{
    if (c.operation == zem::calls::Operation::Command)
        return c.command < zem::kCommandCount ? names()[c.command] : QString();
    return names()[zem::kCommandCount + std::size_t(c.operation)];
}

QString CallsModel::durationText(std::int64_t ns)
{
    if (ns < 1000000)
        return tr("%1 µs").arg(double(ns) / 1e3, 0, 'f', 1);
    return tr("%1 ms").arg(double(ns) / 1e6, 0, 'f', 3);
}

QStringList CallsModel::columnTexts(Column column)
{
    QStringList texts;
    switch (column) {
    case Time:
        texts << QStringLiteral("00:00:00.000");
        break;
    case Command:
        texts = QStringList(names().begin(), names().end());
        break;
    case Result:
        texts << QStringLiteral("-2147483648");
        for (std::int32_t r = 0; r >= -5; --r)
            texts << QString::fromStdString(zem::calls::resultName(r));
        break;
    case Duration:
        texts << durationText(9999999999);
        break;
    case Origin:
        for (int o = 0; o <= int(zem::calls::Origin::Python); ++o)
            texts << QString::fromLatin1(zem::calls::originName(zem::calls::Origin(o)));
        break;
    case ColumnCount:
        break;
    }
    return texts;
}

QVariant CallsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const zem::calls::Call &c = call(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time:
            return QDateTime::fromMSecsSinceEpoch(c.wallMs).toString(
                QStringLiteral("hh:mm:ss.zzz"));
        case Command:
            return commandText(c);
        case Result:
            // Codes the library does not define are named as unknown, with their number.
            return QString::fromStdString(zem::calls::resultName(c.result));
        case Duration:
            return durationText(c.durationNs);
        case Origin:
            return QString::fromLatin1(zem::calls::originName(c.origin));
        }
    } else if (role == SortRole) {
        switch (index.column()) {
        case Time:
            return qint64(c.wallMs);
        case Result:
            return c.result;
        case Duration:
            return qint64(c.durationNs);
        default:
            return data(index, Qt::DisplayRole);
        }
    } else if (role == Qt::TextAlignmentRole && index.column() == Duration) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    } else if (role == Qt::ForegroundRole && index.column() == Result && c.result != 0) {
        return QColor(Qt::darkRed);
    }
    return {};
}

QVariant CallsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Time:
        return tr("Time");
    case Command:
        return tr("Command");
    case Result:
        return tr("Result");
    case Duration:
        return tr("Duration");
    case Origin:
        return tr("Origin");
    }
    return {};
}

int CallsModel::previousOfSameCommand(int row) const
{
    const zem::calls::Call &c = call(row);
    for (int r = row - 1; r >= 0; --r) {
        const zem::calls::Call &p = call(r);
        if (p.operation == c.operation && p.command == c.command)
            return r;
    }
    return -1;
}

void CallsModel::record(const zem::calls::Call &c)
{
    if (calls.full()) {
        // Views and filters re-map every row on a removal, which costs about a
        // millisecond at 100,000 rows: dropping the oldest hundredth at once
        // keeps that to microseconds per call. The views know every row
        // before some go.
        flush();
        const int batch = int(std::max<std::size_t>(1, calls.capacity() / 100));
        beginRemoveRows(QModelIndex(), 0, batch - 1);
        calls.dropOldest(std::size_t(batch));
        rows -= batch;
        endRemoveRows();
    }
    // Told of each row, the filter maps it and the view lays itself out: the
    // rows of a burst go in as one insertion, once a frame.
    calls.append(c);
    insertion->request();
}

void CallsModel::flush()
{
    insertion->flush();
}

void CallsModel::insertRecorded()
{
    const int recordedRows = int(calls.size());
    if (recordedRows == rows)
        return;
    beginInsertRows(QModelIndex(), rows, recordedRows - 1);
    rows = recordedRows;
    endInsertRows();
    emit recorded();
}

void CallsModel::clear()
{
    beginResetModel();
    calls.clear();
    rows = 0;
    endResetModel();
    emit recorded();
}
