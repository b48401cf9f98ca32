// The window's side of the connection: a QObject around the one Connection,
// whose signals the window, the status bar, Reconnect and the docks follow
// instead of looking at a handle.
#pragma once

#include "connection.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <cstdint>

// Library calls, with their request bytes and results; off unless enabled,
// e.g. QT_LOGGING_RULES="zem.calls.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcZemCalls)

// The text that follows "returned " in a log line: the name for codes of
// magnitude 0 to 5 (a positive code takes the name of its negative), the
// signed decimal number otherwise.
QString resultText(std::int32_t result);

class DeviceSession : public QObject, private zem::Connection::Listener
{
    Q_OBJECT

public:
    explicit DeviceSession(QObject *parent = nullptr);
    ~DeviceSession() override;

    zem::Connection &connection() { return m_connection; }
    bool isOpen() const { return m_connection.isOpen(); }
    zem::Connection::State state() const { return m_connection.state(); }
    // Bumped at every open and close: a run that started under another
    // generation is working on a handle that is gone.
    quint64 generation() const { return m_generation; }

signals:
    void opened();
    // Closed by the user, the window or a -1 (then lost() follows).
    void closed();
    // A call found the device gone (-1, which also closed it, or -4).
    void lost();
    // Every call, right after it returned; the record is valid during the
    // signal only.
    void callMade(const zem::calls::Call &call);

private:
    // zem::Connection::Listener
    void called(const zem::calls::Call &call) override;
    void stateChanged(zem::Connection::State state) override;

    zem::Connection m_connection;
    quint64 m_generation = 0;
};
