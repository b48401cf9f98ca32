#include "devicesession.h"

#include "devicerun.h"
#include "records.h"

#include <QThread>

Q_LOGGING_CATEGORY(lcZemCalls, "zem.calls", QtWarningMsg)

DeviceSession::DeviceSession(QObject *parent)
    : QObject(parent)
{
    m_connection.setListener(this);
    m_connection.setSink(this);
}

DeviceSession::~DeviceSession()
{
    stopRuns();
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
    }
    m_connection.setListener(nullptr);
    m_connection.setSink(nullptr);
}

QThread *DeviceSession::deviceThread()
{
    if (!m_thread) {
        m_thread = new QThread(this);
        m_thread->setObjectName(QStringLiteral("zem device"));
        m_thread->start();
    }
    return m_thread;
}

void DeviceSession::stopRuns()
{
    for (const QPointer<DeviceRun> &run : std::exchange(m_runs, {}))
        if (run)
            run->stop();
    // stop() told the runs' owners, which may have started none anew.
    deliver();
}

void DeviceSession::record(const zem::calls::Call &call)
{
    // The window's own calls go straight through once nothing of the device
    // thread waits before them; the rest keeps its order in the queue.
    if (QThread::currentThread() == thread()) {
        deliver();
        deliver(call);
        return;
    }
    queue(call);
}

void DeviceSession::stateChanged(zem::Connection::State state)
{
    if (QThread::currentThread() == thread()) {
        deliver();
        deliver(state);
        return;
    }
    queue(state);
}

void DeviceSession::queue(Item item)
{
    bool first;
    {
        const QMutexLocker lock(&m_pendingLock);
        first = m_pending.empty();
        m_pending.push_back(std::move(item));
    }
    if (first)
        QMetaObject::invokeMethod(this, qOverload<>(&DeviceSession::deliver), Qt::QueuedConnection);
}

void DeviceSession::deliver()
{
    std::vector<Item> items;
    {
        const QMutexLocker lock(&m_pendingLock);
        items.swap(m_pending);
    }
    for (const Item &item : items)
        std::visit([this](const auto &i) { deliver(i); }, item);
}

void DeviceSession::deliver(const zem::calls::Call &call)
{
    trace(call);
    if (zem::calls::CallSink *sink = zem::calls::sink())
        sink->record(call);
    emit callMade(call);
}

void DeviceSession::deliver(zem::Connection::State state)
{
    switch (state) {
    case zem::Connection::State::Open:
        ++m_generation;
        emit opened();
        break;
    case zem::Connection::State::Closed:
        ++m_generation;
        emit closed();
        break;
    case zem::Connection::State::Lost:
        emit lost();
        break;
    }
}

void DeviceSession::trace(const zem::calls::Call &call) const
{
    if (!lcZemCalls().isDebugEnabled())
        return;
    using zem::calls::Operation;
    const char *op = call.operationName();
    const QByteArray request(
        reinterpret_cast<const char *>(call.request()), qsizetype(call.requestSize));
    if (call.operation == Operation::Open)
        qCDebug(lcZemCalls).nospace() << op << "(" << request << ") -> " << call.handleAfter;
    else if (call.operation == Operation::Close)
        qCDebug(lcZemCalls).nospace() << op << "(&" << call.handle << ") -> " << call.result
                                      << ", handle " << call.handleAfter;
    else
        qCDebug(lcZemCalls).nospace().noquote()
            << op << "(" << call.handle << ", ["
            << (call.operation == Operation::Command ? request.toHex(' ') : QByteArray())
            << "]) -> " << call.result;
}
