// The line to a GRBL 1.1 machine: a serial port or a TCP bridge, driven
// without an event loop from whichever thread made it. Lines are streamed
// by character counting (the unacknowledged lines always fit in GRBL's
// receive buffer), every `ok`/`error:N` is matched to the line it answers,
// and real-time bytes (`?`, `!`, `~`, Ctrl-X) go out at once.
//
//     grbl:/dev/ttyUSB0?baud=115200     (baud defaults to 115200)
//     grbl-tcp://host:port
#pragma once

#include "grbl.h"

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

class QIODevice;

namespace motion {

class GrblLink
{
    Q_DECLARE_TR_FUNCTIONS(motion::GrblLink)

public:
    // Opens the URL; waits at most `timeout` for a TCP connection. nullptr
    // with the reason in `error` for a bad URL or a line that does not open.
    static std::unique_ptr<GrblLink> open(
        const QString &url, std::chrono::milliseconds timeout, QString *error);
    ~GrblLink();
    GrblLink(const GrblLink &) = delete;
    GrblLink &operator=(const GrblLink &) = delete;

    // Queues a line (without its newline), sent once it fits in the
    // machine's buffer. False with the reason for a line GRBL would not
    // take: too long, not printable ASCII, or holding a real-time byte.
    bool send(const QByteArray &line, QString *error = nullptr);
    // A real-time byte, written at once and not counted.
    void realtime(char byte);
    // Writes what fits, reads what has arrived (waiting at most `wait` for
    // something), parses it into replies. False once the line is lost.
    bool pump(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Waits at most `timeout` until everything written has left.
    void flush(std::chrono::milliseconds timeout);
    // The replies read so far, oldest first; an Ok or Error names the line
    // it answers.
    std::vector<grbl::Reply> take();
    // A reset empties the machine's buffer without acknowledging it.
    void forgetQueued();
    // Stops the machine within `budget`: a feed hold, which decelerates
    // without losing steps, then a soft reset. True when the machine was
    // held (or idle) before the reset, so it still knows where it is.
    // What was queued is forgotten; replies read meanwhile are dropped.
    bool halt(std::chrono::milliseconds budget);

    bool idle() const { return m_queued.empty() && m_inFlight.empty(); }
    int unacknowledged() const { return m_unacknowledged; } // bytes
    bool lost() const { return !m_lost.isEmpty(); }
    QString lostReason() const { return m_lost; }
    QString url() const { return m_url; }

private:
    GrblLink(std::unique_ptr<QIODevice> io, QString url);
    void writeQueued();
    void checkLost();
    void parse(const QByteArray &line);

    std::unique_ptr<QIODevice> m_io;
    QString m_url;
    QString m_lost;
    std::deque<QByteArray> m_queued;
    std::deque<QByteArray> m_inFlight;
    int m_unacknowledged = 0;
    QByteArray m_received; // an incomplete line
    std::vector<grbl::Reply> m_replies;
    std::optional<grbl::MachinePoint> m_wco; // the last work offset reported
};

} // namespace motion
