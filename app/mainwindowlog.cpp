// The window's event log: a line a call with its time and level, the same
// line again right after itself counted up rather than repeated.
#include "mainwindow.h"

#include "logview.h"

#include <QTime>
#include <QTimer>

void MainWindow::addLogLines(const LogLines &lines)
{
    for (const LogLine &line : lines)
        AddLog(line.text, line.level);
}

void MainWindow::AddLog(const QString &message)
{
    AddLog(message, LogLevel::Normal);
}

void MainWindow::AddLog(const QString &message, LogLevel level)
{
    log->appendLine(tr("%1: %2").arg(logStamp(), message), level);
    if (!logScroll->isActive())
        logScroll->start();
}

void MainWindow::addFoldedLog(const QString &message, LogLevel level)
{
    // The same line again right after itself (a run's status polls) counts
    // up on that line; the Calls dock keeps every call.
    if (message == m_foldedMessage && m_foldedRow == log->count() - 1 && m_foldedRow >= 0) {
        ++m_foldedCount;
        log->item(m_foldedRow)
            ->setText(tr("%1: %2 (%3 times)").arg(logStamp(), message).arg(m_foldedCount));
        return;
    }
    AddLog(message, level);
    m_foldedMessage = message;
    m_foldedRow = log->count() - 1;
    m_foldedCount = 1;
}

// Reading the wall clock costs more than the rest of a log line (the time zone
// is looked up each time); within one second the stamp is the same text.
QString MainWindow::logStamp()
{
    if (!stampClock.isValid() || stampClock.elapsed() >= stampValidMs) {
        const QTime now = QTime::currentTime();
        stamp = now.toString(QStringLiteral("HH:mm:ss"));
        stampClock.start();
        // Both clocks are read in whole milliseconds: one less keeps the
        // stamp from outliving its second.
        stampValidMs = 999 - now.msec();
    }
    return stamp;
}
