#include "historydock.h"

HistoryDock::HistoryDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("History"), parent)
    , m_view(new HistoryView(context, this))
{
    setObjectName(QStringLiteral("historyDock"));
    setWidget(m_view);
    connect(m_view, &HistoryView::shown, this, &HistoryDock::shown);
}
