// The gantry prober against a scripted GRBL on a pseudo-terminal: the fake
// records every line and real-time byte sent to it and answers as a GRBL
// 1.1 machine would, except for the one line the row's fault picks.
#include "connection.h"
#include "gantryprober.h"
#include "grbllink.h"
#include "machineframe.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = sig::Prober::Clock;

class tst_Grbl : public QObject
{
    Q_OBJECT

private slots:
    void probe_data();
    void probe();
    void streaming();
    void fit_data();
    void fit();
    void frame_data();
    void frame();
};

namespace {

class FakeGrbl
{
public:
    // The first line starting with `faultOn` gets `fault`: "stall" (no ok,
    // the machine keeps running), "close" (the line drops) or a reply.
    explicit FakeGrbl(QByteArray faultOn = {}, QByteArray fault = {})
        : m_faultOn(std::move(faultOn))
        , m_fault(std::move(fault))
    {
        termios raw {};
        cfmakeraw(&raw);
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, &raw, nullptr) == 0)
            m_url = QStringLiteral("grbl:") + QString::fromLocal8Bit(name);
        write("\r\nGrbl 1.1h ['$' for help]\r\n"); // as on power-up, read once the port opens
        m_thread = std::thread([this] { run(); });
    }
    ~FakeGrbl()
    {
        m_stop = true;
        m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
        ::close(m_slave);
    }
    QString url() const { return m_url; }
    QStringList heard()
    {
        std::lock_guard lock(m_mutex);
        return m_heard;
    }
    bool stalled()
    {
        std::lock_guard lock(m_mutex);
        return m_stalled;
    }
    int maxUnacknowledged()
    {
        std::lock_guard lock(m_mutex);
        return m_maxUnacked;
    }
    bool waitHeard(qsizetype count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_heard.size() >= count; });
    }

private:
    void run()
    {
        while (!m_stop && m_master >= 0) {
            pollfd p { m_master, POLLIN, 0 };
            char data[4096];
            const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(m_master, data, sizeof data) : 0;
            std::lock_guard lock(m_mutex);
            for (ssize_t k = 0; k < n; ++k)
                m_unacked += QByteArray("?!~\x18").contains(data[k]) ? 0 : 1;
            m_maxUnacked = std::max(m_maxUnacked, m_unacked);
            for (ssize_t k = 0; k < n && m_master >= 0; ++k)
                take(data[k]);
            m_changed.notify_all();
        }
    }
    void write(const QByteArray &bytes)
    {
        if (m_master >= 0 && ::write(m_master, bytes.constData(), size_t(bytes.size())) < 0)
            qWarning("fake: write failed");
    }
    void take(char c)
    {
        const bool fromRun = m_state == "Run";
        if (c == '?') {
            const QByteArray pos = QByteArray::number(m_pos[0], 'f', 3) + ',' + QByteArray::number(m_pos[1], 'f', 3)
                + ',' + QByteArray::number(m_pos[2], 'f', 3);
            const QByteArray wpos = QByteArray::number(m_pos[0] - 1, 'f', 3) + ','
                + QByteArray::number(m_pos[1] - 2, 'f', 3) + ',' + QByteArray::number(m_pos[2], 'f', 3);
            // Work positions with their offset every other report, as GRBL may be set to.
            write('<' + m_state + ((m_reports++ % 2) ? "|MPos:" + pos + "|FS:0,0>\r\n"
                                                    : "|WPos:" + wpos + "|FS:0,0|WCO:1.000,2.000,0.000>\r\n"));
        } else if (c == '!' || c == '\x18') {
            m_heard << (c == '!' ? "!" : "^X");
            if (c == '!' && fromRun)
                m_state = "Hold:0"; // decelerated at once
            if (c == '\x18') {
                m_state = fromRun || m_state == "Alarm" ? "Alarm" : "Idle";
                m_unacked = 0;
                m_stalled = false;
                m_line.clear();
                write("\r\nGrbl 1.1h ['$' for help]\r\n");
                if (m_state == "Alarm")
                    write("[MSG:'$H'|'$X' to unlock]\r\n");
            }
        } else if (c == '\n') {
            line(std::exchange(m_line, {}));
        } else if (c != '\r' && c != '~') {
            m_line += c;
        }
    }
    void answer(const QByteArray &line, const QByteArray &reply)
    {
        m_unacked -= int(line.size()) + 1;
        write(reply + "\r\n");
    }
    void line(const QByteArray &line)
    {
        m_heard << QString::fromLatin1(line);
        if (!m_faultOn.isEmpty() && line.startsWith(m_faultOn)) {
            m_faultOn.clear();
            if (m_fault == "stall") {
                m_state = "Run";
                m_stalled = true;
            } else if (m_fault == "close") {
                ::close(std::exchange(m_master, -1));
            } else if (m_fault.startsWith("ALARM")) {
                m_state = "Alarm";
                m_unacked = 0;
                write(m_fault + "\r\n");
            } else {
                answer(line, m_fault);
            }
            return;
        }
        if (m_state == "Alarm" && line != "$H" && line != "$X" && line != "$$" && line != "$I")
            return answer(line, "error:9");
        if (line == "$$")
            write("$0=10\r\n$20=1\r\n$23=3\r\n$130=300.000\r\n$131=200.000\r\n$132=50.000\r\n");
        if (line == "$I") // the origin set at home: X and Y from 0 up
            write("[VER:1.1h.20190825:]\r\n[OPT:VZ,15,128]\r\n");
        if (line == "$H" || line == "$X")
            m_state = "Idle";
        if (line == "$H")
            m_pos[0] = m_pos[1] = m_pos[2] = 0; // homing ends at the origin
        for (const QByteArray &word : line.split(' ')) {
            if (const int axis = QByteArray("XYZ").indexOf(word.left(1)); line.startsWith("G53") && axis >= 0)
                m_pos[axis] = word.mid(1).toDouble();
        }
        answer(line, "ok");
    }

    QByteArray m_faultOn, m_fault;
    int m_master = -1, m_slave = -1;
    QString m_url;
    std::thread m_thread;
    std::atomic_bool m_stop { false };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_heard;
    QByteArray m_line, m_state = "Alarm"; // switched on: homing required
    double m_pos[3] = {};
    int m_unacked = 0, m_maxUnacked = 0, m_reports = 0;
    bool m_stalled = false;
};

} // namespace

void tst_Grbl::probe_data()
{
    QTest::addColumn<QByteArray>("faultOn");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("targets"); // point@attempt
    QTest::addColumn<QStringList>("outcomes"); // "there" or the failure's text
    QTest::addColumn<QStringList>("heard");

    const QStringList homing { "$$", "$I", "$H", "G21 G90" };
    // The lift is seen in a report before the move in X and Y is sent.
    const QStringList lift { "G53 G0 Z-2.000", "G4 P0" };
    // Down at full speed to 1 mm above the surface, the last millimetre at the contact feed.
    const QStringList r1 = lift + QStringList { "G53 G1 X15.000 Y27.000 F1500", "G53 G0 Z-29.000", "G53 G1 Z-30.000 F100", "G4 P0" };
    const QStringList c7 = lift + QStringList { "G53 G1 X35.000 Y12.000 F1500", "G53 G0 Z-29.000", "G53 G1 Z-30.000 F100", "G4 P0" };
    const QStringList halt { "!", "^X" };
    QTest::newRow("homes first, lifts before each move in XY, lowers at the contact feed")
        << QByteArray() << QByteArray() << QStringList { "0@0", "1@0" } << QStringList { "there", "there" }
        << homing + r1 + c7;
    QTest::newRow("a retry lowers one step, up to the travel")
        << QByteArray() << QByteArray() << QStringList { "0@0", "0@1", "0@5", "0@6" }
        << QStringList { "there", "there", "there", "R1: no contact within 1 mm" }
        << homing + r1 + QStringList { "G53 G1 Z-30.200 F100", "G4 P0", "G53 G1 Z-31.000 F100", "G4 P0" };
    QTest::newRow("a point outside the soft limits is refused before anything is sent")
        << QByteArray() << QByteArray() << QStringList { "0@0", "2@0" }
        << QStringList { "there", "J1: X 505.000 mm is outside the machine's travel, 0 to 300 mm ($130)" }
        << homing + r1;
    QTest::newRow("homing not enabled")
        << QByteArray("$H") << QByteArray("error:5") << QStringList { "0@0" }
        << QStringList { "R1: the machine refused '$H': error:5 (homing is not enabled" }
        << QStringList { "$$", "$I", "$H" } + halt;
    QTest::newRow("a refused line halts what follows it")
        << QByteArray("G53 G1 X") << QByteArray("error:33") << QStringList { "0@0" }
        << QStringList { "R1: the machine refused 'G53 G1 X15.000 Y27.000 F1500': error:33" } << homing + r1 + halt;
    QTest::newRow("an alarm mid-move halts; the point again homes again")
        << QByteArray("G53 G1 Z-30") << QByteArray("ALARM:1") << QStringList { "0@0", "0@0" }
        << QStringList { "R1: the machine raised ALARM:1 (a hard limit", "there" }
        << homing + r1 + halt + homing.mid(2) + r1;
    QTest::newRow("a soft limit alarm keeps the position: unlock, no homing")
        << QByteArray("G53 G1 Z-30") << QByteArray("ALARM:2") << QStringList { "0@0", "0@0" }
        << QStringList { "R1: the machine raised ALARM:2", "there" }
        << homing + r1 + halt + QStringList { "$X", "G21 G90" } + r1;
    QTest::newRow("a line lost mid-move names the point")
        << QByteArray("G4") << QByteArray("close") << QStringList { "0@0" }
        << QStringList { "R1: the line to the machine was lost" } << homing + lift;
    QTest::newRow("Stop: feed hold, then reset; held in time, no homing to start again")
        << QByteArray("G4") << QByteArray("stall") << QStringList { "0@0", "0@0" }
        << QStringList { "R1: stopped; the machine was halted", "there" }
        << homing + lift + halt + QStringList { "G21 G90" } + r1;
}

void tst_Grbl::probe()
{
    QFETCH(QByteArray, faultOn);
    QFETCH(QByteArray, fault);
    QFETCH(QStringList, targets);
    QFETCH(QStringList, outcomes);
    QFETCH(QStringList, heard);

    FakeGrbl fake(faultOn, fault);
    QVERIFY(!fake.url().isEmpty());
    motion::GantryConfig config;
    config.url = fake.url();
    config.transform.c = 5;
    config.transform.f = 7;
    config.targets = { { 0, { 10, 20 } }, { 1, { 30, 5 } }, { 2, { 500, 5 } } };
    const QStringList names { "R1", "C7", "J1" };
    zem::Connection device; // never called: motion only
    QStringList got;
    {
        motion::GantryProber prober(config);
        bool stop = fault == "stall";
        for (const QString &target : targets) {
            const int point = target.section('@', 0, 0).toInt();
            prober.moveTo({ point, names[point], target.section('@', 1).toInt() }, Clock::now());
            const auto giveUp = Clock::now() + 10s;
            sig::Prober::Status status;
            while ((status = prober.poll(device, Clock::now())).kind == status.Moving && Clock::now() < giveUp) {
                if (stop && fake.stalled()) {
                    stop = false;
                    prober.cancel();
                } else {
                    std::this_thread::sleep_until(status.next);
                }
            }
            got << (status.kind == status.There ? QStringLiteral("there")
                        : status.kind == status.Failed ? status.why
                                                       : QStringLiteral("still moving"));
        }
    }
    QCOMPARE(got.size(), outcomes.size());
    for (qsizetype k = 0; k < got.size(); ++k)
        QVERIFY2(got[k].startsWith(outcomes[k]), qPrintable(got[k]));
    fake.waitHeard(heard.size());
    QCOMPARE(fake.heard(), heard);
    QVERIFY(fake.maxUnacknowledged() <= motion::grbl::kRxBuffer);
}

void tst_Grbl::streaming()
{
    FakeGrbl fake("G1 X5 ", "error:20");
    QString error;
    const auto link = motion::GrblLink::open(fake.url(), 1s, &error);
    QVERIFY2(link, qPrintable(error));
    // A reset drops what was sent before its banner: wait for it.
    std::vector<motion::grbl::Reply> replies;
    while (replies.empty() && link->pump(10s))
        replies = link->take();
    QVERIFY(!replies.empty() && replies.front().kind == motion::grbl::Reply::Banner);
    replies.clear();
    QStringList sent;
    for (int k = 0; k < 12; ++k) {
        sent << QStringLiteral("G1 X%1 Y123.456 Z-12.345 F1500").arg(k);
        QVERIFY(link->send(sent.back().toLatin1()));
    }
    QCOMPARE(link->unacknowledged(), 4 * 30); // as many lines as fit in 127 bytes, no more
    const auto giveUp = Clock::now() + 10s;
    while (replies.size() < 12 && Clock::now() < giveUp && link->pump(100ms)) {
        for (auto &reply : link->take())
            replies.push_back(reply);
    }
    QCOMPARE(fake.heard(), sent);
    QCOMPARE(replies.size(), std::size_t(12));
    QCOMPARE(replies[5].kind, motion::grbl::Reply::Error);
    QCOMPARE(replies[5].answers, sent[5].toLatin1());
    QCOMPARE(replies[11].answers, sent[11].toLatin1());
    QVERIFY(fake.maxUnacknowledged() <= motion::grbl::kRxBuffer);
    QVERIFY(link->idle());
    QVERIFY(!link->send("G1 X1?")); // a status query inside a line would be taken as one
    for (const char *bad : { "grbl-tcp://localhost", "grbl:/dev/ttyUSB0?baud=fast", "http://x:1", "grbl:", "::" }) {
        error.clear();
        QVERIFY2(!motion::GrblLink::open(QString::fromLatin1(bad), 100ms, &error) && !error.isEmpty(), bad);
    }
}

void tst_Grbl::fit_data()
{
    QTest::addColumn<bool>("bottom");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<QPointF>("shift");
    QTest::addColumn<int>("pairs");
    QTest::addColumn<double>("misteach"); // mm added to the last machine point's x
    QTest::newRow("translation, two points") << false << 0.0 << QPointF(5, 7) << 2 << 0.0;
    QTest::newRow("rotation") << false << 30.0 << QPointF(100, -20) << 3 << 0.0;
    QTest::newRow("bottom side, mirrored") << true << -90.0 << QPointF(250, 10) << 3 << 0.0;
    QTest::newRow("a mis-taught point") << false << 10.0 << QPointF(5, 5) << 3 << 0.3;
}

void tst_Grbl::fit()
{
    QFETCH(bool, bottom);
    QFETCH(double, degrees);
    QFETCH(QPointF, shift);
    QFETCH(int, pairs);
    QFETCH(double, misteach);
    const double cs = std::cos(qDegreesToRadians(degrees)), sn = std::sin(qDegreesToRadians(degrees));
    const double m = bottom ? -1 : 1;
    const motion::BoardToMachine known { cs * m, -sn, shift.x(), sn * m, cs, shift.y() };
    std::vector<std::pair<motion::PlanePoint, motion::PlanePoint>> taught;
    for (const motion::PlanePoint board : { motion::PlanePoint { 0, 0 }, { 80, 0 }, { 80, 50 } })
        taught.push_back({ board, known.map(board) });
    taught.resize(std::size_t(pairs));
    taught.back().second.x += misteach;
    motion::TransformFit fit;
    QString error;
    QVERIFY(motion::fitTransform(taught, bottom ? motion::BoardSide::Bottom : motion::BoardSide::Top, &fit, &error));
    if (misteach == 0) {
        QVERIFY(fit.residualMm < 1e-9);
        const motion::PlanePoint p = fit.transform.map({ 33, -12 }), q = known.map({ 33, -12 });
        QVERIFY(std::hypot(p.x - q.x, p.y - q.y) < 1e-9);
    } else {
        QVERIFY(fit.residualMm > misteach / 3 && fit.residualMm < misteach);
    }
    QVERIFY(!motion::fitTransform({ taught[0], taught[0] }, motion::BoardSide::Top, &fit, &error));
}

void tst_Grbl::frame_data()
{
    QTest::addColumn<int>("dirMask"); // $23
    QTest::addColumn<QString>("options"); // $I's letters
    QTest::addColumn<QString>("ranges"); // as describe() says them
    QTest::addColumn<QString>("home");
    QTest::newRow("stock: every axis from 0 down, homed at the pull-off")
        << 0 << "V" << "X -300 to 0, Y -200 to 0, Z -50 to 0 mm" << "-1 -1 -1";
    QTest::newRow("stock build homing towards -X: still negative, homed at the far end")
        << 1 << "V" << "X -300 to 0, Y -200 to 0, Z -50 to 0 mm" << "-299 -1 -1";
    QTest::newRow("origin set at home, towards -X and -Y") << 3 << "VZ" << "X 0 to 300, Y 0 to 200, Z -50 to 0 mm"
                                                            << "0 0 0";
    QTest::newRow("origin set at home, towards -Y only") << 2 << "VZ" << "X -300 to 0, Y 0 to 200, Z -50 to 0 mm"
                                                          << "0 0 0";
}

void tst_Grbl::frame()
{
    QFETCH(int, dirMask);
    QFETCH(QString, options);
    QFETCH(QString, ranges);
    QFETCH(QString, home);
    motion::MachineFrame frame;
    for (const QByteArray &line : { QByteArray("$23=") + QByteArray::number(dirMask), QByteArray("$27=1.000"),
             QByteArray("$130=300.000"), QByteArray("$131=200.000"), QByteArray("$132=50.000"),
             "[OPT:" + options.toLatin1() + ",15,128]" })
        frame.take(motion::grbl::parseReply(line));
    QVERIFY(frame.complete());
    QCOMPARE(frame.describe(), ranges);
    const motion::grbl::MachinePoint h = frame.home();
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(h.x).arg(h.y).arg(h.z), home);
    // Inside its travel the home is; a millimetre past either end of X is not.
    QVERIFY(frame.problem(h).isEmpty());
    QVERIFY(!frame.problem({ frame.range(0).hi + 1, h.y, h.z }).isEmpty());
    QVERIFY(!frame.problem({ frame.range(0).lo - 1, h.y, h.z }).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Grbl)
#include "tst_grbl.moc"
