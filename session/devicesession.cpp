#include "devicesession.h"

#include "records.h"

#include <QByteArrayView>
#include <QCoreApplication>

Q_LOGGING_CATEGORY(lcZemCalls, "zem.calls", QtWarningMsg)

QString resultText(std::int32_t result)
{
    // Widened first: the magnitude of INT32_MIN does not fit in 32 bits.
    if (const char *name = zem::calls::resultNameOf(qAbs(qint64(result))))
        return QCoreApplication::translate("ResultText", name);
    return QString::number(result);
}

DeviceSession::DeviceSession(QObject *parent)
    : QObject(parent)
{
    m_connection.setListener(this);
}

DeviceSession::~DeviceSession()
{
    m_connection.setListener(nullptr);
}

void DeviceSession::called(const zem::calls::Call &call)
{
    if (lcZemCalls().isDebugEnabled()) {
        using zem::calls::Operation;
        const char *op = call.operationName();
        if (call.operation == Operation::Open)
            qCDebug(lcZemCalls).nospace()
                << op << "("
                << QByteArray(reinterpret_cast<const char *>(call.request()), qsizetype(call.requestSize))
                << ") -> "
                << call.handleAfter;
        else if (call.operation == Operation::Close)
            qCDebug(lcZemCalls).nospace() << op << "(&" << call.handle << ") -> " << call.result
                                          << ", handle " << call.handleAfter;
        else
            qCDebug(lcZemCalls).nospace().noquote()
                << op << "(" << call.handle << ", ["
                << (call.operation == Operation::Command
                           ? QByteArray(reinterpret_cast<const char *>(call.request()),
                               qsizetype(call.requestSize))
                                 .toHex(' ')
                           : QByteArray())
                << "]) -> " << call.result;
    }
    emit callMade(call);
}

void DeviceSession::stateChanged(zem::Connection::State state)
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
