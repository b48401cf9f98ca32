// The window's side of the connection: a QObject around the one Connection,
// whose signals the window, the status bar, Reconnect and the docks follow
// instead of looking at a handle.
//
// Calls may be made on the window's thread (pages, Periodic, profiles) and on
// the session's device thread (the docks' runs, see DeviceRun). The
// connection lets one call at a time through; what each call did reaches the
// window's thread in the order the calls were made: the recording sink
// (calls::sink(), the Calls dock) and callMade() are fed from there, and so
// are the state signals.
#pragma once

#include "connection.h"
#include "recording.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <variant>
#include <vector>

class DeviceRun;
class QThread;

// Library calls, with their request bytes and results; off unless enabled,
// e.g. QT_LOGGING_RULES="zem.calls.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcZemCalls)

class DeviceSession : public QObject,
                      private zem::Connection::Listener,
                      private zem::calls::CallSink
{
    Q_OBJECT

public:
    explicit DeviceSession(QObject *parent = nullptr);
    // Stops the runs and the device thread; the device is left as it is.
    ~DeviceSession() override;

    zem::Connection &connection() { return m_connection; }
    bool isOpen() const { return m_connection.isOpen(); }
    zem::Connection::State state() const { return m_connection.state(); }
    // Bumped at every open and close: a run that started under another
    // generation is working on a handle that is gone.
    quint64 generation() const { return m_generation; }

    // The thread the docks' runs make their calls on, started on first use.
    QThread *deviceThread();
    // Ends every run of the docks; returns once none makes a call any more
    // (within one call's time). Connect, Disconnect and closing the window
    // call it first.
    void stopRuns();

signals:
    void opened();
    // Closed by the user, the window or a -1 (then lost() follows).
    void closed();
    // A call found the device gone (-1, which also closed it, or -4).
    void lost();
    // Every call, right after it returned (or, for a call of the device
    // thread, as soon as the window's thread gets to it); the record is valid
    // during the signal only.
    void callMade(const zem::calls::Call &call);

private:
    friend class DeviceRun;
    using Item = std::variant<zem::calls::Call, zem::Connection::State>;

    // zem::Connection::Listener
    void stateChanged(zem::Connection::State state) override;
    // zem::calls::CallSink: the connection records here.
    void record(const zem::calls::Call &call) override;

    void queue(Item item);
    void deliver();
    void deliver(const zem::calls::Call &call);
    void deliver(zem::Connection::State state);
    void trace(const zem::calls::Call &call) const;

    zem::Connection m_connection;
    quint64 m_generation = 0;
    QThread *m_thread = nullptr;
    std::vector<QPointer<DeviceRun>> m_runs;
    QMutex m_pendingLock;
    std::vector<Item> m_pending; // made on the device thread, not yet delivered
};
