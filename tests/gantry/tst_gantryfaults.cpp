// A machine's faults on the virtual gantry, one row each: a four-point board
// is taught and learned, then zemctl runs the row's command while the side
// channel injects the fault (at once, or once the tip is down on the second
// point) and, for a hold, cycle start once zemctl says the run waits. Each row
// checks the exit status and the message, what the run kept (its JUnit
// file), a follow-up command, and in the gantry's position trace that the
// tip never moved in X or Y below the safe height.
#include "signature.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "stiffgantry.h"

class tst_GantryFaults : public QObject
{
    Q_OBJECT

private slots:
    void fault_data();
    void fault();
};

namespace {

constexpr double kSafeZ = -35;

struct Run
{
    int exit = -1;
    QString output; // stdout and stderr
};

// zemctl with the row's words: FILE, URL and DEV stand for the board, the
// machine and the instrument. `cue` on stderr calls `onCue` once.
Run zemctl(QStringList args, const QMap<QString, QString> &words, const QString &cue = {},
    const std::function<void()> &onCue = {})
{
    for (QString &a : args)
        a = words.value(a, a);
    QProcess p;
    p.setReadChannel(QProcess::StandardError); // where the cue comes
    p.start(QStringLiteral(ZEMCTL), args);
    QByteArray err;
    while (!cue.isEmpty() && !err.contains(cue.toUtf8()) && p.waitForReadyRead(60000))
        err += p.readAllStandardError();
    if (err.contains(cue.toUtf8()) && onCue)
        onCue();
    Run r;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        r.exit = p.exitCode();
    r.output = QString::fromUtf8(p.readAllStandardOutput() + err + p.readAllStandardError());
    return r;
}

// A side-channel request and its one-line answer (past the GRBL banner a
// new client is greeted with).
QByteArray tip(QTcpSocket &side, const QByteArray &line)
{
    side.write(line + '\n');
    for (;;) {
        while (!side.canReadLine() && side.waitForReadyRead(60000)) { }
        const QByteArray answer = side.readLine().trimmed();
        if (!answer.isEmpty() && !answer.startsWith("Grbl") && !answer.startsWith('['))
            return answer;
        if (!side.canReadLine() && side.state() != QAbstractSocket::ConnectedState)
            return {};
    }
}

// Moves in X or Y while the tip was below the safe height.
int dragged(const QString &trace)
{
    QFile f(trace);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    QList<QByteArray> last;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> p = line.split(' ');
        if (p.size() != 3)
            continue;
        if (last.size() == 3 && (p[0] != last[0] || p[1] != last[1])
            && std::min(p[2].toDouble(), last[2].toDouble()) < kSafeZ - 0.05)
            ++count;
        last = p;
    }
    return count;
}

} // namespace

void tst_GantryFaults::fault_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>(
        "fault"); // sent at once ("now ...") or with the tip on the second point
    QTest::addColumn<QString>("cue"); // on stderr: then `next` is sent
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("query"); // more of the prober URL
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("kept"); // points the JUnit file holds as tested; -1: no file
    QTest::addColumn<QStringList>("then"); // a follow-up command...
    QTest::addColumn<int>("thenExit");
    QTest::addColumn<QString>("thenMessage");

    const QStringList test { "-u", "DEV", "test", "FILE", "--prober", "URL", "--no-history",
        "--junit", "JUNIT" };
    const QStringList prober { "prober", "--prober", "URL" };
    QTest::newRow("negative-space frame: run inside, warned once; a target outside refused")
        << "stock"
        << ""
        << ""
        << ""
        << "" << test << 0 << "soft limits are off on the machine ($20=0)" << 4
        << prober + QStringList { "teach", "FILE", "F1", "--at", "20,20" } << 2
        << "F1: X 20.000 mm is outside the machine's travel, -300 to 0 mm ($130)";
    QTest::newRow("never acknowledges")
        << "positive"
        << "deaf"
        << ""
        << ""
        << "&slack_ms=300" << test << 2 << "(no ok for 'G4 P0' or a line before it); it was halted"
        << 2 << QStringList() << 0 << "";
    QTest::newRow("stalls in Run")
        << "positive"
        << "freeze"
        << ""
        << ""
        << "&slack_ms=300" << test << 2 << "did not end within" << 2
        << prober + QStringList { "status" } << 0 << R"("state":"Alarm")";
    QTest::newRow("slow status replies, asked again")
        << "positive"
        << "now slow 1300"
        << ""
        << ""
        << "" << prober + QStringList { "goto", "FILE", "P3" } << 0
        << R"({"name":"P3","machine":[45.0,25.0,-40.0]})" << -1 << QStringList() << 0 << "";
    QTest::newRow("refuses the lift")
        << "positive"
        << "nolift 33"
        << ""
        << ""
        << "" << test << 2 << "the lift was refused, nothing moved in X or Y" << 2 << QStringList()
        << 0 << "";
    QTest::newRow("a lift that does not rise")
        << "positive"
        << "nolift"
        << ""
        << ""
        << "" << test << 2 << "was acknowledged, but the machine reports" << 2 << QStringList() << 0
        << "";
    QTest::newRow("feed hold, then cycle start")
        << "positive"
        << "hold"
        << "the run waits"
        << "start"
        << "" << test << 0 << "the machine goes on" << 4 << QStringList() << 0 << "";
    QTest::newRow("alarm mid-run, then home")
        << "positive"
        << "alarm 1"
        << ""
        << ""
        << "" << test << 2 << "ALARM:1 (a hard limit switch was hit; the position is lost)" << 1
        << prober + QStringList { "home" } << 0 << R"({"state":"Idle","machine":[0.0,0.0,0.0]})";
    QTest::newRow("reset mid-run, then on from the point")
        << "positive"
        << "reset"
        << ""
        << ""
        << "" << test << 2 << "the machine was reset" << 1 << test + QStringList { "--from", "P2" }
        << 7 << R"("untested":["P1"])";
    QTest::newRow("a jog in alarm, then unlock")
        << "positive"
        << "now alarm 2"
        << ""
        << ""
        << "" << prober + QStringList { "jog", "10,0" } << 2
        << "the machine is in alarm: unlock or home" << -1 << prober + QStringList { "unlock" } << 0
        << R"("state":"Idle")";
    QTest::newRow("a teach 9 mm off")
        << "positive"
        << ""
        << ""
        << ""
        << "" << prober + QStringList { "teach", "FILE", "F2", "--at", "69,20" } << 2
        << "residual F1 4.500 mm, F2 4.500 mm" << -1 << test << 0 << "";
    QTest::newRow("a dry run, never lowered")
        << "stock"
        << ""
        << ""
        << ""
        << "" << prober + QStringList { "dry-run", "FILE" } << 0
        << R"({"name":"F2","machine":[-240.0,-180.0,-35.0]})" << -1 << QStringList() << 0 << "";
    QTest::newRow("a jog past travel")
        << "positive"
        << ""
        << ""
        << ""
        << "" << prober + QStringList { "jog", "400,0" } << 2
        << "X 455.000 mm is outside the machine's travel, 0 to 300 mm" << -1
        << prober + QStringList { "status" } << 0 << "[55.0,25.0,-40.0]";
}

void tst_GantryFaults::fault()
{
    QFETCH(QString, frame);
    QFETCH(QString, fault);
    QFETCH(QString, cue);
    QFETCH(QString, next);
    QFETCH(QString, query);
    QFETCH(QStringList, command);
    QFETCH(int, exit);
    QFETCH(QString, message);
    QFETCH(int, kept);
    QFETCH(QStringList, then);
    QFETCH(int, thenExit);
    QFETCH(QString, thenMessage);

    QTemporaryDir dir;
    sig::Signature board;
    board.board = QStringLiteral("four");
    board.settings = sig::defaultSettings();
    for (int k = 0; k < 4; ++k) {
        sig::Point p;
        p.name = QStringLiteral("P%1").arg(k + 1);
        p.mm = QPointF(5 + 10 * k, 5);
        board.points.push_back(p);
    }
    board.fiducials = { { "F1", { 0, 0 }, {}, {} }, { "F2", { 40, 0 }, {}, {} } };
    const QString file = dir.filePath(QStringLiteral("four.json"));
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    QString error;
    QVERIFY2(sig::save(board, file, &error), qPrintable(error));
    QProcess sim;
    const QString port
        = startStiffGantry(sim, file, &error, { "--frame", frame, "--trace", trace });
    QVERIFY2(!port.isEmpty(), qPrintable(error));
    const QMap<QString, QString> words { { "FILE", file },
        { "JUNIT", dir.filePath(QStringLiteral("run.xml")) },
        { "URL",
            QStringLiteral(
                "grbl-tcp://127.0.0.1:%1?safe=-35&surface=-40&feed=100&contact_feed=50%2")
                .arg(port, query) },
        { "DEV",
            QStringLiteral(
                "virtual://open?gantry=127.0.0.1:%1&noise=0&pins=resistor:1000,resistor:2000,"
                "resistor:3000,resistor:4000")
                .arg(port) } };

    // Taught on the machine as a technician does: down onto F1, over to F2 by hand.
    const QString origin
        = frame == QLatin1String("stock") ? QStringLiteral("-280,-180") : QStringLiteral("20,20");
    for (const QStringList &args :
        { QStringList { "prober", "--prober", "URL", "teach", "FILE", "F1", "--at", origin },
            QStringList { "prober", "--prober", "URL", "jog", "40,0" },
            QStringList { "prober", "--prober", "URL", "teach", "FILE", "F2" },
            QStringList { "-u", "DEV", "learn", "FILE", "--prober", "URL" } }) {
        const Run r = zemctl(args, words);
        QVERIFY2(r.exit == 0, qPrintable(r.output));
    }
    QTcpSocket side;
    side.connectToHost(QStringLiteral("127.0.0.1"), port.toUShort());
    QVERIFY(side.waitForConnected(10000));
    QCOMPARE(tip(side, "zem-tip 1").right(5), QByteArray("ready"));
    if (fault.startsWith(QLatin1String("now ")))
        QCOMPARE(tip(side, "fault " + fault.mid(4).toLatin1()), QByteArray("ok"));
    QFile traced(trace);
    QVERIFY(traced.open(QIODevice::ReadOnly));
    traced.readAll();

    Run r;
    {
        // The fault with the tip down on the second point, while zemctl runs.
        QThread *injector = nullptr;
        if (!fault.isEmpty() && !fault.startsWith(QLatin1String("now "))) {
            injector = QThread::create([&] {
                QTcpSocket s;
                s.connectToHost(QStringLiteral("127.0.0.1"), port.toUShort());
                if (s.waitForConnected(10000) && tip(s, "zem-tip 1").endsWith("ready")
                    && tip(s, "wait 1").startsWith("tip"))
                    tip(s, "fault " + fault.toLatin1());
            });
            injector->start();
        }
        r = zemctl(command, words, cue, [&] { tip(side, "fault " + next.toLatin1()); });
        if (injector) {
            QVERIFY(injector->wait(60000));
            delete injector;
        }
    }
    QVERIFY2(r.exit == exit, qPrintable(QStringLiteral("%1: %2").arg(r.exit).arg(r.output)));
    QVERIFY2(r.output.contains(message), qPrintable(r.output));
    if (kept >= 0) {
        QFile junit(words["JUNIT"]);
        QVERIFY(junit.open(QIODevice::ReadOnly));
        const QByteArray xml = junit.readAll();
        const auto count = [&](const char *what) {
            const QByteArray key = QByteArray(what) + "=\"";
            return xml.mid(xml.indexOf(key) + key.size()).split('"').first().toInt();
        };
        const int tested = 4 - count("skipped") - count("errors"); // measured and judged
        QVERIFY2(tested == kept, xml.constData());
    }
    if (command.contains(QLatin1String("jog")) && r.exit != 0)
        QCOMPARE(traced.readAll().count('\n'), qint64(0)); // refused before anything moved
    if (!then.isEmpty()) {
        tip(side, "fault none");
        const Run t = zemctl(then, words);
        QVERIFY2(t.exit == thenExit && t.output.contains(thenMessage), qPrintable(t.output));
    }
    QCOMPARE(dragged(trace), 0);
    sim.kill();
    sim.waitForFinished();
}

QTEST_MAIN(tst_GantryFaults)
#include "tst_gantryfaults.moc"
