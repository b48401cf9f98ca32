#include "grbllink.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace motion {

namespace {

using Millis = std::chrono::milliseconds;

// Bytes received without a newline before the line is taken as garbage.
constexpr int kLongestReply = 1024;

int millis(Millis m)
{
    return int(std::max<Millis::rep>(0, std::min<Millis::rep>(m.count(), 1 << 30)));
}

} // namespace

std::unique_ptr<GrblLink> GrblLink::open(const QString &url, Millis timeout, QString *error)
{
    auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<GrblLink> {};
    };
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return refuse(tr("'%1' is not a URL").arg(url));
    if (parsed.scheme() == QLatin1String("grbl")) {
        const QString path = parsed.path();
        if (path.isEmpty() || !parsed.host().isEmpty())
            return refuse(tr("'%1' names no serial port (grbl:/dev/ttyUSB0?baud=115200)").arg(url));
        qint32 baud = 115200;
        const QUrlQuery query(parsed);
        for (const auto &[key, value] : query.queryItems()) {
            bool ok = false;
            if (key == QLatin1String("baud"))
                baud = value.toInt(&ok);
            if (key != QLatin1String("baud") || !ok || baud <= 0)
                return refuse(tr("'%1': '%2=%3' is not understood (only baud=, a positive number)")
                                  .arg(url, key, value));
        }
        auto port = std::make_unique<QSerialPort>();
        port->setPortName(path);
        port->setBaudRate(baud);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        if (!port->open(QIODevice::ReadWrite))
            return refuse(tr("cannot open %1: %2").arg(path, port->errorString()));
        return std::unique_ptr<GrblLink>(new GrblLink(std::move(port), url));
    }
    if (parsed.scheme() == QLatin1String("grbl-tcp")) {
        if (parsed.host().isEmpty() || parsed.port() <= 0 || !parsed.path().isEmpty())
            return refuse(tr("'%1' needs a host and a port (grbl-tcp://host:port)").arg(url));
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(parsed.host(), quint16(parsed.port()));
        if (!socket->waitForConnected(millis(timeout)))
            return refuse(tr("cannot connect to %1:%2: %3")
                              .arg(parsed.host())
                              .arg(parsed.port())
                              .arg(socket->errorString()));
        // Real-time bytes must not wait for more to send.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return std::unique_ptr<GrblLink>(new GrblLink(std::move(socket), url));
    }
    return refuse(tr("'%1' is no GRBL URL (grbl:/dev/ttyUSB0?baud=115200 or grbl-tcp://host:port)")
                      .arg(url));
}

GrblLink::GrblLink(std::unique_ptr<QIODevice> io, QString url)
    : m_io(std::move(io))
    , m_url(std::move(url))
{
}

GrblLink::~GrblLink() = default;

bool GrblLink::send(const QByteArray &line, QString *error)
{
    QString why;
    if (line.size() > grbl::kMaxLine)
        why = tr("'%1' is longer than GRBL's %2 characters").arg(QString::fromLatin1(line)).arg(grbl::kMaxLine);
    for (const char c : line) {
        if (c < 0x20 || c > 0x7e || c == grbl::kStatusQuery || c == grbl::kFeedHold
            || c == grbl::kCycleStart)
            why = tr("'%1' holds a byte GRBL would not take as part of a line")
                      .arg(QString::fromLatin1(line.toPercentEncoding()));
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    m_queued.push_back(line);
    writeQueued();
    return true;
}

void GrblLink::realtime(char byte)
{
    if (lost())
        return;
    m_io->write(&byte, 1);
    m_io->waitForBytesWritten(0);
    checkLost();
}

void GrblLink::writeQueued()
{
    QByteArray out;
    while (!lost() && !m_queued.empty()
        && m_unacknowledged + m_queued.front().size() + 1 <= grbl::kRxCapacity) {
        QByteArray line = m_queued.front();
        m_queued.pop_front();
        m_unacknowledged += int(line.size()) + 1;
        out += line + '\n';
        m_inFlight.push_back(std::move(line));
    }
    if (!out.isEmpty())
        m_io->write(out);
    if (m_io->bytesToWrite() > 0)
        m_io->waitForBytesWritten(0);
    checkLost();
}

void GrblLink::checkLost()
{
    if (lost())
        return;
    if (!m_io->isOpen()) {
        m_lost = tr("the line is closed");
    } else if (auto *socket = qobject_cast<QAbstractSocket *>(m_io.get())) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            m_lost = socket->errorString();
    } else if (auto *port = qobject_cast<QSerialPort *>(m_io.get())) {
        switch (port->error()) {
        case QSerialPort::ResourceError:
        case QSerialPort::NotOpenError:
        case QSerialPort::ReadError:
            // A read that ends is a hang-up; the system's text is then a
            // stale errno of no help.
            m_lost = tr("%1 is gone: unplugged, or closed at its other end").arg(m_url);
            break;
        case QSerialPort::WriteError:
            m_lost = tr("writing to %1 failed: %2").arg(m_url, port->errorString());
            break;
        default:
            port->clearError(); // a time-out of a wait: nothing happened
        }
    }
}

bool GrblLink::halt(Millis budget)
{
    bool held = false;
    if (!lost()) {
        realtime(grbl::kFeedHold);
        realtime(grbl::kStatusQuery);
        const auto deadline = std::chrono::steady_clock::now() + budget;
        bool done = false;
        while (!done) {
            const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !pump(left))
                break;
            for (const grbl::Reply &reply : take()) {
                if (reply.kind == grbl::Reply::Alarm)
                    done = true;
                if (reply.kind != grbl::Reply::StatusReport || done)
                    continue;
                const QString &state = reply.status->state;
                held = state == QLatin1String("Idle") || state == QLatin1String("Hold:0");
                done = held || reply.status->base() == QLatin1String("Alarm");
                if (!done)
                    realtime(grbl::kStatusQuery);
            }
        }
        realtime(grbl::kSoftReset);
        flush(budget);
    }
    forgetQueued();
    return held;
}

bool GrblLink::pump(Millis wait)
{
    writeQueued();
    if (lost())
        return false;
    // A wait reads what the system holds; go on while more keeps arriving.
    for (int pass = 0; pass < 16 && !lost(); ++pass) {
        const bool arrived = m_io->bytesAvailable() > 0 || m_io->waitForReadyRead(pass == 0 ? millis(wait) : 0);
        checkLost();
        const QByteArray data = m_io->readAll();
        if (!arrived && data.isEmpty())
            break;
        m_received += data;
        for (qsizetype nl; (nl = m_received.indexOf('\n')) >= 0;) {
            const QByteArray line = m_received.left(nl).trimmed();
            m_received.remove(0, nl + 1);
            if (!line.isEmpty())
                parse(line);
        }
        if (m_received.size() > kLongestReply) {
            m_replies.push_back(grbl::parseReply(m_received.left(80)));
            m_received.clear();
        }
        writeQueued(); // the acknowledgements made room
    }
    return !lost();
}

void GrblLink::parse(const QByteArray &line)
{
    grbl::Reply reply = grbl::parseReply(line);
    switch (reply.kind) {
    case grbl::Reply::Ok:
    case grbl::Reply::Error:
        if (!m_inFlight.empty()) {
            reply.answers = m_inFlight.front();
            m_unacknowledged -= int(reply.answers.size()) + 1;
            m_inFlight.pop_front();
        }
        break;
    case grbl::Reply::Banner:
        // The machine was reset: what it had buffered is gone.
        forgetQueued();
        break;
    case grbl::Reply::StatusReport:
        if (reply.status->wco)
            m_wco = reply.status->wco;
        if (!reply.status->mpos && reply.status->wpos && m_wco)
            reply.status->mpos = grbl::MachinePoint { reply.status->wpos->x + m_wco->x,
                reply.status->wpos->y + m_wco->y, reply.status->wpos->z + m_wco->z };
        break;
    default:
        break;
    }
    m_replies.push_back(std::move(reply));
}

void GrblLink::flush(Millis timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!lost() && m_io->bytesToWrite() > 0) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_io->waitForBytesWritten(millis(left)))
            break;
    }
    checkLost();
}

std::vector<grbl::Reply> GrblLink::take()
{
    return std::exchange(m_replies, {});
}

void GrblLink::forgetQueued()
{
    m_queued.clear();
    m_inFlight.clear();
    m_unacknowledged = 0;
}

} // namespace motion
