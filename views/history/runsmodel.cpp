#include "runsmodel.h"

#include <QFont>

VerdictColours verdictColours(const QString &verdict)
{
    struct Entry
    {
        const char *verdict;
        QRgb text, ground;
    };
    static const Entry kEntries[] = {
        { "pass", 0x1b5e20, 0xc8e6c9 },
        { "fail", 0x9b1111, 0xffcdd2 },
        { "different", 0x9b1111, 0xffcdd2 },
        { "unstable", 0x6d4300, 0xffe08a },
        { "no_contact", 0x4a148c, 0xe1bee7 },
        { "not_learned", 0x37474f, 0xe0e0e0 },
        { "net_disagrees", 0x8a3200, 0xffd8b8 },
    };
    for (const Entry &e : kEntries)
        if (verdict == QLatin1String(e.verdict))
            return { QColor(e.text), QColor(e.ground) };
    return {};
}

RunsModel::RunsModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void RunsModel::setRuns(std::vector<zem::history::RunSummary> runs)
{
    beginResetModel();
    rows = std::move(runs);
    endResetModel();
}

const zem::history::RunSummary *RunsModel::runAt(int row) const
{
    return row >= 0 && std::size_t(row) < rows.size() ? &rows[std::size_t(row)] : nullptr;
}

int RunsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int RunsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RunsModel::data(const QModelIndex &index, int role) const
{
    const auto *r = runAt(index.row());
    if (!r)
        return {};
    if (index.column() == Verdict && (role == Qt::ForegroundRole || role == Qt::BackgroundRole)) {
        const VerdictColours colours = verdictColours(r->run.verdict);
        const QColor &c = role == Qt::ForegroundRole ? colours.text : colours.ground;
        return c.isValid() ? QVariant(c) : QVariant();
    }
    const bool blankSerial = index.column() == Serial && r->run.boardSerial.trimmed().isEmpty();
    if (blankSerial && role == Qt::FontRole) {
        QFont italic;
        italic.setItalic(true);
        return italic;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Started:
        return r->run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case Board:
        return r->run.boardType;
    case Serial:
        return serialWords(r->run.boardSerial);
    case Verdict:
        return zem::history::verdictWords(r->run.verdict);
    case Failed:
        return r->failedCount;
    case Points:
        return r->pointCount;
    case Operator:
        return r->run.operatorName;
    }
    return {};
}

QString RunsModel::serialWords(const QString &serial)
{
    return serial.trimmed().isEmpty() ? tr("(no serial)") : serial;
}

QVariant RunsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Started:
        return tr("Started");
    case Board:
        return tr("Board");
    case Serial:
        return tr("Serial");
    case Verdict:
        return tr("Verdict");
    case Failed:
        return tr("Failed");
    case Points:
        return tr("Points");
    case Operator:
        return tr("Operator");
    }
    return {};
}
