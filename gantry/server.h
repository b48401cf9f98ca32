// The gantry's TCP port: every client gets the GRBL banner; the first line
// decides whether it is the GRBL client (one at a time) or a side-channel
// client of the tip protocol ("zem-tip 1"), which reads where the tip is and
// injects faults. A pseudo-terminal may serve the controller too, while no
// TCP client holds it.
#pragma once

#include "board.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;

namespace gantry {

class Controller;
class Pty;

class Server : public QObject
{
    Q_OBJECT
public:
    Server(Controller *controller, const Board &board, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;
    bool servePty(const QString &link, QString *error);

private:
    enum class Role { Undecided, Tip };

    void accept();
    void read(QTcpSocket *socket);
    void decide(QTcpSocket *socket);
    void tipLine(QTcpSocket *socket, const QByteArray &line);
    QByteArray fault(const QList<QByteArray> &words);
    void answerWaits();
    void send(const QByteArray &bytes);

    Controller *controller_;
    Board board_;
    QTcpServer *server_;
    Pty *pty_ = nullptr;
    QPointer<QTcpSocket> grbl_; // the client that holds the controller
    QHash<QTcpSocket *, QByteArray> pending_; // undecided and tip clients' unread bytes
    QHash<QTcpSocket *, Role> roles_;
    QHash<QTcpSocket *, int> waits_; // tip clients waiting for the tip down on a point
};

} // namespace gantry
