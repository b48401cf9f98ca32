#include "callsfilter.h"

#include "callsmodel.h"

CallsFilter::CallsFilter(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(CallsModel::SortRole);
}

const CallsModel *CallsFilter::calls() const
{
    return qobject_cast<const CallsModel *>(sourceModel());
}

void CallsFilter::setCommandText(const QString &text)
{
    if (text == command)
        return;
    // invalidate() re-maps all rows and tells the views once; invalidateFilter()
    // would remove and insert range by range, each costing the view a pass
    // over every row.
    command = text;
    invalidate();
}

void CallsFilter::setErrorsOnly(bool on)
{
    if (on == failedOnly)
        return;
    failedOnly = on;
    invalidate();
}

bool CallsFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const CallsModel *model = calls();
    if (!model)
        return true;
    const zem::calls::Call &c = model->call(sourceRow);
    if (failedOnly && c.result == 0)
        return false;
    return command.isEmpty() || CallsModel::commandText(c).contains(command, Qt::CaseInsensitive);
}
