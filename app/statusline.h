// The window's status bar line: the connection, what the last open or Send
// said beyond its log line, the newest call and the totals.
#pragma once

#include <QLabel>
#include <QString>

#include <cstdint>

namespace zem {
class Connection;
struct Command;
namespace calls {
class CallRing;
}
} // namespace zem

class StatusLine : public QLabel
{
    Q_OBJECT

public:
    explicit StatusLine(QWidget *parent = nullptr);

    // After an open: why the library refused the URL, nothing once one
    // worked. Forgets the last Send's note, which spoke of the device before.
    void noteOpen(const zem::Connection &device, const QString &url);
    // After a Send: the values the instrument refused, as zemctl names them,
    // until the next Send or open; nothing for any other result.
    void noteResult(const zem::Command &command, std::int32_t result, const void *request);
    // Forgets both notes, as a Disconnect does.
    void clearNotes();
    // Shows the line: connected to url or not, the notes, the calls.
    void refresh(bool open, const QString &url, const zem::calls::CallRing &calls);

private:
    QString m_openFailure; // why the last open failed; empty after one that worked
    QString m_note; // the last Send's refused values
};
