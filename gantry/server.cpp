#include "server.h"

#include "controller.h"
#include "pty.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace gantry {
namespace {

const QByteArray kTipHello = "zem-tip 1";
constexpr int kMaxTipLine = 1024;

} // namespace

Server::Server(Controller *controller, const Board &board, QObject *parent)
    : QObject(parent)
    , controller_(controller)
    , board_(board)
    , server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &Server::accept);
    connect(controller_, &Controller::output, this, &Server::send);
    connect(controller_, &Controller::moved, this, &Server::answerWaits);
}

bool Server::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (server_->listen(address, port))
        return true;
    *error = server_->errorString();
    return false;
}

quint16 Server::port() const
{
    return server_->serverPort();
}

bool Server::servePty(const QString &link, QString *error)
{
    pty_ = new Pty(this);
    if (!pty_->open(link, error))
        return false;
    connect(pty_, &Pty::received, this, [this](const QByteArray &bytes) {
        if (!grbl_)
            controller_->receive(bytes);
    });
    pty_->write(controller_->greeting());
    return true;
}

void Server::accept()
{
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        roles_.insert(socket, Role::Undecided);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            roles_.remove(socket);
            pending_.remove(socket);
            waits_.remove(socket);
            if (grbl_ == socket)
                controller_->dropPartialLine();
            socket->deleteLater();
        });
        // A GRBL client waits for the banner before it sends anything; a tip
        // client skips it.
        if (!grbl_)
            socket->write(controller_->greeting());
    }
}

void Server::read(QTcpSocket *socket)
{
    if (socket == grbl_) {
        controller_->receive(socket->readAll());
        return;
    }
    if (!roles_.contains(socket))
        return; // turned away, closing
    QByteArray &buffer = pending_[socket];
    buffer += socket->readAll();
    if (roles_.value(socket) == Role::Undecided) {
        decide(socket);
        return;
    }
    int newline;
    while ((newline = buffer.indexOf('\n')) >= 0) {
        const QByteArray line = buffer.left(newline).trimmed();
        buffer.remove(0, newline + 1);
        tipLine(socket, line);
    }
    if (buffer.size() > kMaxTipLine) {
        buffer.clear();
        socket->write("error line too long\n");
    }
}

// A client is a tip client if its first line is the hello, and the GRBL
// client as soon as its bytes cannot be that.
void Server::decide(QTcpSocket *socket)
{
    QByteArray &buffer = pending_[socket];
    const int newline = buffer.indexOf('\n');
    const QByteArray first = (newline < 0 ? buffer : buffer.left(newline));
    if (newline >= 0 && first.trimmed() == kTipHello) {
        roles_[socket] = Role::Tip;
        buffer.remove(0, newline + 1);
        socket->write(kTipHello + " ready\n");
        if (!buffer.isEmpty())
            read(socket);
        return;
    }
    if (newline < 0 && kTipHello.startsWith(first))
        return; // may still become the hello
    const QByteArray bytes = buffer;
    pending_.remove(socket);
    roles_.remove(socket);
    if (grbl_) {
        socket->write("[MSG:Busy: another client holds the machine]\r\n");
        socket->disconnectFromHost();
        return;
    }
    grbl_ = socket;
    controller_->dropPartialLine();
    controller_->receive(bytes);
}

void Server::tipLine(QTcpSocket *socket, const QByteArray &line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (line.isEmpty())
        return;
    if (line == "tip") {
        const Axes &p = controller_->position();
        socket->write("tip " + QByteArray::number(p[0], 'f', 3) + " "
            + QByteArray::number(p[1], 'f', 3) + " " + QByteArray::number(p[2], 'f', 3) + " "
            + QByteArray::number(board_.pointUnder(p)) + "\n");
    } else if (words.first() == "wait" && words.size() == 2) {
        waits_.insert(socket, words[1].toInt());
        answerWaits();
    } else if (words.first() == "fault") {
        socket->write(fault(words) + "\n");
    } else {
        socket->write("error unknown command\n");
    }
}

void Server::answerWaits()
{
    const Axes &p = controller_->position();
    const int under = board_.pointUnder(p);
    for (auto it = waits_.begin(); it != waits_.end();) {
        if (it.value() != under) {
            ++it;
            continue;
        }
        it.key()->write("tip " + QByteArray::number(p[0], 'f', 3) + " " + QByteArray::number(p[1], 'f', 3)
            + " " + QByteArray::number(p[2], 'f', 3) + " " + QByteArray::number(under) + "\n");
        it = waits_.erase(it);
    }
}

QByteArray Server::fault(const QList<QByteArray> &words)
{
    const QByteArray kind = words.value(1);
    bool numbered = false;
    const int n = words.value(2).toInt(&numbered);
    if (kind == "alarm" && words.size() == 3 && numbered && n >= 1 && n <= 9) {
        controller_->raiseAlarm(n);
    } else if (kind == "error" && words.size() == 3 && numbered && n >= 1 && n <= 255) {
        controller_->failNextLine(n);
    } else if (kind == "drop" && words.size() == 2) {
        if (QTcpSocket *socket = grbl_) {
            grbl_ = nullptr;
            controller_->dropPartialLine();
            socket->abort();
            socket->deleteLater();
        }
    } else if (kind == "stall" && words.size() == 2) {
        controller_->setStalled(true);
    } else if (kind == "deaf" && words.size() == 2) {
        controller_->setDeaf();
    } else if (kind == "freeze" && words.size() == 2) {
        controller_->setFrozen();
    } else if (kind == "nolift" && (words.size() == 2 || (words.size() == 3 && numbered && n >= 1 && n <= 255))) {
        controller_->refuseLift(words.size() == 3 ? n : 0);
    } else if (kind == "slow" && words.size() == 3 && numbered && n >= 0 && n <= 60000) {
        controller_->setStatusDelay(n);
    } else if (kind == "hold" && words.size() == 2) {
        controller_->pressHold();
    } else if (kind == "start" && words.size() == 2) {
        controller_->pressStart();
    } else if (kind == "reset" && words.size() == 2) {
        controller_->pressReset();
    } else if (kind == "door" && words.size() == 3 && (words[2] == "open" || words[2] == "closed")) {
        controller_->setDoor(words[2] == "open");
    } else if (kind == "none" && words.size() == 2) {
        controller_->clearFaults();
    } else {
        return "error expected: fault alarm N | error N | drop | stall | deaf | freeze | nolift [N] | "
               "slow MS | hold | start | reset | door open|closed | none";
    }
    return "ok";
}

void Server::send(const QByteArray &bytes)
{
    if (grbl_)
        grbl_->write(bytes);
    else if (pty_)
        pty_->write(bytes);
}

} // namespace gantry
