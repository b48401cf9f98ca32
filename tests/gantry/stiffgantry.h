// The virtual gantry for a test: started on a free TCP port with a board's
// points, its axes made stiff (5,000 mm/s², against 500 by default) so that
// a whole run stays short; `more` options too. The port, or empty with the
// reason in *why.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

inline QString startStiffGantry(QProcess &sim, const QString &points, QString *why, const QStringList &more = {})
{
    sim.start(QStringLiteral(ZEM_GANTRY_SIM),
        QStringList { "--tcp", "127.0.0.1:0", "--points", points, "--feed", "100", "--time-scale", "20" } + more);
    if (!sim.waitForReadyRead(10000)) {
        *why = QStringLiteral("the virtual gantry did not start");
        return {};
    }
    const QByteArray listening = sim.readLine().trimmed();
    if (!listening.startsWith("listening 127.0.0.1:")) {
        *why = QString::fromLatin1(listening);
        return {};
    }
    const QString port = QString::fromLatin1(listening.mid(listening.lastIndexOf(':') + 1));
    QTcpSocket grbl;
    grbl.connectToHost(QStringLiteral("127.0.0.1"), port.toUShort());
    if (!grbl.waitForConnected(10000)) {
        *why = grbl.errorString();
        return {};
    }
    grbl.write("$120=5000\n$121=5000\n$122=5000\n");
    for (int oks = 0; oks < 3;) {
        if (!grbl.canReadLine() && !grbl.waitForReadyRead(10000)) {
            *why = QStringLiteral("the virtual gantry did not take its settings");
            return {};
        }
        oks += grbl.readLine().trimmed() == "ok";
    }
    return port;
}
