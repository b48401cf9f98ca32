// zem_gantry_sim driven over TCP as a GRBL client and a tip client would, by
// scripts of steps; the last row measures through the virtual instrument.
#include "zem.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <cmath>

namespace {

constexpr double kFeed = 50; // mm/s, the sim's --feed
constexpr double kAcceleration = 500; // mm/s², its default
constexpr int kTimeScale = 20; // its --time-scale: a move a step catches running lasts 0.5 s

// Waits for the next line that is not blank; empty when none came before
// the deadline.
QByteArray readLine(QTcpSocket &socket, QDeadlineTimer deadline)
{
    for (;;) {
        while (!socket.canReadLine())
            if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
                return {};
        const QByteArray line = socket.readLine().trimmed();
        if (!line.isEmpty())
            return line;
    }
}

// The peak current (mA) of one measurement, or NaN when a call failed.
double peakCurrent(std::int32_t handle)
{
    check_measurement_status_response status {};
    if (zem_start_measurement(handle) != 0)
        return NAN;
    const QDeadlineTimer deadline(10000);
    while (status.ReadyStatus != MEASUREMENT_COMPLETE && !deadline.hasExpired())
        if (zem_check_measurement_status(handle, &status) != 0)
            return NAN;
    double peak = 0;
    for (std::uint16_t frame = 0; frame < 4; ++frame) {
        get_measurement_request rq {};
        get_measurement_response rs {};
        rq.FrameNumber = frame;
        if (zem_get_measurement(handle, &rq, &rs) != 0)
            return NAN;
        for (float i : rs.Current)
            peak = std::max(peak, std::abs(double(i)));
    }
    return peak;
}

} // namespace

class GantrySim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void scripts_data();
    void scripts();

private:
    QByteArray status(QByteArrayList *skipped = nullptr);
    bool awaitPosition(const QString &state, const QStringList &where);
    void step(const QString &step);

    QProcess sim_;
    QTcpSocket grbl_;
    QTcpSocket tip_;
    quint16 port_ = 0;
    std::int32_t device_ = -1;
};

void GantrySim::init()
{
    QFETCH(QString, frame);
    sim_.start(ZEM_GANTRY_SIM,
        { "--tcp", "127.0.0.1:0", "--points", ZEM_GANTRY_POINTS, "--feed", QString::number(kFeed),
            "--time-scale", QString::number(kTimeScale), "--frame", frame });
    QVERIFY(sim_.waitForStarted());
    QDeadlineTimer deadline(10000);
    while (!sim_.canReadLine() && sim_.waitForReadyRead(int(deadline.remainingTime()))) { }
    const QByteArray first = sim_.readLine();
    QVERIFY2(first.startsWith("listening 127.0.0.1:"), first.constData());
    port_ = quint16(first.mid(first.lastIndexOf(':') + 1).trimmed().toUInt());
    grbl_.connectToHost("127.0.0.1", port_);
    tip_.connectToHost("127.0.0.1", port_);
    QVERIFY(grbl_.waitForConnected(5000) && tip_.waitForConnected(5000));
    tip_.write("zem-tip 1\n");
    QByteArray hello;
    while (!hello.startsWith("zem-tip") && !(hello = readLine(tip_, QDeadlineTimer(5000))).isEmpty()) { }
    QCOMPARE(hello, QByteArray("zem-tip 1 ready"));
}

void GantrySim::cleanup()
{
    zem_close_device(&device_);
    grbl_.abort();
    tip_.abort();
    sim_.kill();
    sim_.waitForFinished();
}

// One status report, keeping the other lines that came before it.
QByteArray GantrySim::status(QByteArrayList *skipped)
{
    grbl_.write("?");
    const QDeadlineTimer deadline(5000);
    for (QByteArray line; !(line = readLine(grbl_, deadline)).isEmpty();) {
        if (line.startsWith('<'))
            return line;
        if (skipped)
            skipped->append(line);
    }
    return {};
}

// Polls until the state matches and the tip is at x y z (or anywhere, for
// "*"), within a deadline from the distance, the feed and the acceleration.
bool GantrySim::awaitPosition(const QString &state, const QStringList &where)
{
    static const QRegularExpression report("^<([^|]+)\\|MPos:([-\\d.]+),([-\\d.]+),([-\\d.]+)\\|");
    double seconds = 2 + 2 * kFeed / kAcceleration;
    bool first = true;
    QDeadlineTimer deadline(qint64(seconds * 1000));
    for (;;) {
        const QRegularExpressionMatch m = report.match(QString::fromLatin1(status()));
        if (!m.hasMatch())
            return false;
        double distance = 0;
        for (int i = 0; i < where.size(); ++i)
            distance = std::max(distance, std::abs(m.captured(i + 2).toDouble() - where[i].toDouble()));
        if (first && where.size() == 3)
            deadline = QDeadlineTimer(qint64((seconds + 2 * distance / kFeed) * 1000));
        first = false;
        if (m.captured(1) == state && distance < 0.002)
            return true;
        if (deadline.hasExpired()) {
            qWarning("still %s", qPrintable(m.captured(0)));
            return false;
        }
    }
}

void GantrySim::step(const QString &step)
{
    const QString op = step.section(' ', 0, 0);
    const QString arg = step.section(' ', 1);
    const QStringList words = arg.split(' ', Qt::SkipEmptyParts);
    static const QMap<QString, char> realtime = { { "?", '?' }, { "hold", '!' }, { "resume", '~' },
        { "reset", '\x18' }, { "cancel", char(0x85) } };
    if (op == ">") {
        grbl_.write(arg.toLatin1() + "\n");
    } else if (op == "^") {
        grbl_.write(QByteArray(1, realtime.value(arg)));
    } else if (op.startsWith("<")) {
        // Lines up to the expected ones; an alarm or error on the way fails.
        const int count = op.size() > 1 ? op.mid(1).toInt() : 1;
        const QRegularExpression expected(arg);
        for (int n = 0; n < count; ++n) {
            QByteArray line;
            do {
                line = readLine(grbl_, QDeadlineTimer(10000));
                QVERIFY2(!line.isEmpty(), qPrintable("no line matching " + arg));
                if (expected.match(QString::fromLatin1(line)).hasMatch())
                    break;
                QVERIFY2(!line.contains("error:") && !line.contains("ALARM:"), line.constData());
            } while (true);
        }
    } else if (op == "@") {
        QVERIFY2(awaitPosition(words.value(0), words.mid(1).filter(QRegularExpression("\\d"))),
            qPrintable(step));
    } else if (op == "quiet") {
        QByteArrayList skipped;
        QVERIFY(!status(&skipped).isEmpty());
        QVERIFY2(!skipped.contains("ok"), "an ok came while the planner was full");
    } else if (op == "T") {
        // "T tip N" expects the point N under the tip; anything else "ok".
        tip_.write((words.first() == "tip" ? "tip" : arg).toLatin1() + "\n");
        const QByteArray reply = readLine(tip_, QDeadlineTimer(5000));
        if (words.first() == "tip")
            QCOMPARE(reply.split(' ').value(4), words.value(1).toLatin1());
        else
            QCOMPARE(reply, QByteArray("ok"));
    } else if (op == "closed") {
        QVERIFY(grbl_.state() == QAbstractSocket::UnconnectedState
            || grbl_.waitForDisconnected(5000));
    } else if (op == "measure") {
        if (device_ < 0) {
            const QByteArray url = "virtual://open?noise=0&pins=resistor:1000,resistor:500&gantry=127.0.0.1:"
                + QByteArray::number(port_);
            device_ = zem_open_device(url.constData());
            QVERIFY2(device_ > 0, zem_virtual_open_error());
        }
        // I_MID: 5 V through the range's 1 kOhm and the pin.
        QVERIFY2(std::abs(peakCurrent(device_) - arg.toDouble()) < 0.05, qPrintable(step));
    } else if (op == "refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QByteArray url = "virtual://open?gantry=127.0.0.1:" + QByteArray::number(closed.serverPort());
        closed.close();
        QCOMPARE(zem_open_device(url.constData()), -1);
        QVERIFY(QByteArray(zem_virtual_open_error()).contains("gantry 127.0.0.1"));
    } else {
        QFAIL(qPrintable("unknown step " + step));
    }
}

void GantrySim::scripts_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QStringList>("steps");
    QStringList planner { "> $X", "< ok" };
    for (int x = 1; x <= 17; ++x)
        planner << QString("> G1 X%1 F6").arg(x); // ten seconds each
    planner << "<15 ^ok$" << "quiet" << "^ reset" << "< ALARM:3" << "< Grbl 1.1h" << "@ Alarm *"
            << "> G0 X0" << "< error:9";

    QTest::newRow("banner, homing, moves, settings")
        << "positive" << QStringList { "< ^Grbl 1\\.1h \\['\\$' for help\\]$", "< \\[MSG:'\\$H'\\|'\\$X' to unlock\\]",
               "@ Alarm 0 0 0", "> G0 X10", "< error:9", "> $$", "< ^\\$110=3000\\.000$",
               "< ^\\$130=300\\.000$", "< ^\\$132=50\\.000$", "< ok", "> $H", "< ok", "@ Idle 0 0 0",
               "> G1 X50 Y40 F3000", "< ok", "@ Idle 50 40 0", "> G91 G21", "< ok",
               "> G0 X-10 Z-5", "< ok", "@ Idle 40 40 -5", "> G4 P0.1", "< ok", "> $111=-1",
               "< error:4", "> $999=1", "< error:3", "> G2 X1", "< error:20", "> G0 G1 X1",
               "< error:21", "> " + QString(130, 'X'), "< error:11", "> $I", "< OPT:VZ,", "< ok" };
    QTest::newRow("GRBL's stock frame: homed at the pull-off, from 0 down, soft limits off")
        << "stock" << QStringList { "> $$", "< ^\\$20=0$", "< ^\\$23=0$", "< ok", "> $I", "< OPT:V,", "> $H",
               "< ok", "@ Idle -1 -1 -1", "> G0 X-100 Y-50", "< ok", "@ Idle -100 -50 -1", "> G0 X10", "< ok",
               "@ Idle 10 -50 -1", "> G0 X-1", "< ok", "@ Idle -1 -50 -1", "> $20=1", "< ok", "> G0 X10", "< ALARM:2",
               "^ reset", "> $J=G53 X-400 F600", "< error:8", "> $X", "< ok", "> $J=G53 X-400 F600",
               "< error:15" };
    QTest::newRow("hold while still, the door, cycle start")
        << "stock" << QStringList { "> $X", "< ok", "^ hold", "@ Hold:0 *", "^ resume", "@ Idle *",
               "T fault door open", "> G1 X-100 F600", "< ok", "@ Door:1 0 0 0", "^ resume", "@ Door:1 *",
               "T fault door closed", "@ Door:0 *", "^ resume", "@ Idle -100 0 0" };
    QTest::newRow("soft limit alarm, reset, unlock")
        << "positive" << QStringList { "> $X", "< Unlocked", "< ok", "> G0 X400", "< ALARM:2",
               "< Reset to continue", "@ Alarm 0 0 0", "^ reset", "< Grbl 1.1h", "> $X", "< ok",
               "@ Idle 0 0 0" };
    QTest::newRow("jogs, travel error, jog cancel")
        << "positive" << QStringList { "> $X", "< ok", "> $J=G91 X-5 F600", "< error:15", "> $J=X10 Y10 F6000",
               "< ok", "@ Idle 10 10 0", "> $J=G91 X100 F600", "< ok", "@ Jog *", "> G0 X0",
               "< error:9", "^ cancel", "@ Idle *", "> G0 X0", "< ok", "@ Idle 0 10 0" };
    QTest::newRow("feed hold, resume")
        << "positive" << QStringList { "> $X", "< ok", "> G1 X100 F600", "< ok", "@ Run *", "^ hold",
               "@ Hold:0 *", "^ resume", "@ Idle 100 0 0" };
    QTest::newRow("full planner holds oks back; reset mid-move") << "positive" << planner;
    QTest::newRow("faults from the side channel")
        << "positive" << QStringList { "T fault error 33", "> $X", "< error:33", "> $X", "< ok", "T fault alarm 1",
               "< ALARM:1", "^ reset", "> $X", "< ok", "> G1 X100 F600", "< ok", "@ Run *",
               "T fault drop", "closed" };
    QTest::newRow("the instrument measures the pin under the tip")
        << "positive" << QStringList { "refused", "> $H", "< ok", "> G0 X30 Y30 Z-45", "< ok", "@ Idle 30 30 -45",
               "T tip 0", "measure 2.5", "> G0 X50.3 Y30", "< ok", "@ Idle 50.3 30 -45",
               "measure 3.333", "> G0 Z-30", "< ok", "@ Idle 50.3 30 -30", "T tip -1", "measure 0" };
}

void GantrySim::scripts()
{
    QFETCH(QStringList, steps);
    for (const QString &s : steps) {
        step(s);
        if (QTest::currentTestFailed())
            qWarning("at step '%s'", qPrintable(s));
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_GUILESS_MAIN(GantrySim)
#include "tst_gantrysim.moc"
