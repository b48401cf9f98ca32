#include "statusline.h"

#include "callring.h"
#include "callsmodel.h"
#include "connection.h"
#include "records.h"

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("callsStatus"));
    // The line is cut at the window's edge rather than widening it; its tool
    // tip holds all of it.
    setMinimumWidth(1);
}

void StatusLine::noteOpen(const zem::Connection &device, const QString &url)
{
    m_openFailure = device.isOpen()
        ? QString()
        : QString::fromLatin1(device.openFailure(url.toLatin1().toStdString()));
    m_note.clear();
}

void StatusLine::noteResult(const zem::Command &command, std::int32_t result, const void *request)
{
    const std::string message = zem::calls::resultMessage(command, result, request);
    m_note = message == zem::calls::resultMessage(command, result, nullptr)
        ? QString()
        : QString::fromStdString(message);
}

void StatusLine::clearNotes()
{
    m_openFailure.clear();
    m_note.clear();
}

void StatusLine::refresh(bool open, const QString &url, const zem::calls::CallRing &calls)
{
    QString text = open           ? tr("Connected to %1").arg(url)
        : m_openFailure.isEmpty() ? tr("Not connected")
                                  : tr("Not connected: %1").arg(m_openFailure);
    if (!m_note.isEmpty())
        text += tr("  |  %1").arg(m_note);
    if (calls.size() > 0) {
        const zem::calls::Call &last = calls.newest();
        text += tr("  |  last: %1 returned %2 in %3")
                    .arg(CallsModel::commandText(last),
                        QString::fromStdString(zem::calls::resultName(last.result)),
                        CallsModel::durationText(last.durationNs));
    }
    // No translation ships, so plurals are chosen here rather than by "%n".
    text += calls.total() == 1 ? tr("  |  1 call") : tr("  |  %1 calls").arg(calls.total());
    text += tr(", %1 failed").arg(calls.failures());
    setText(text);
    setToolTip(text);
}
