// The History dock: the window's place for a HistoryView (historyview.h),
// which shows the test history. The view makes its widgets when the dock is
// first shown.
#pragma once

#include "historyview.h"

#include <QDockWidget>

class DockContext;

class HistoryDock : public QDockWidget
{
    Q_OBJECT

public:
    // The context's history must be set.
    explicit HistoryDock(DockContext &context, QWidget *parent = nullptr);

    HistoryView *view() const { return m_view; }
    QString locationText() const { return m_view->locationText(); }
    void setLocationText(const QString &text) { m_view->setLocationText(text); }
    RunsModel *runsModel() const { return m_view->runsModel(); }

public slots:
    void refresh() { m_view->refresh(); }

signals:
    // The view's: a refresh, a run or a point's scores came back and are shown.
    void shown();

private:
    HistoryView *m_view;
};
