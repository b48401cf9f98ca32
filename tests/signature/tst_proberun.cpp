// The probe run against the recording double, driven without real time: each
// step's "when next" becomes the next step's "now". What the run asks of the
// device, and what it tells its driver, for each prober and each way a point
// gets measured or fails to.
#include "boardprober.h"
#include "connection.h"
#include "probeorder.h"
#include "proberun.h"
#include "zemdouble.h"

#include <QtTest>

using namespace std::chrono_literals;
using Event = sig::ProbeRun::Event;

class tst_ProbeRun : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void shortestPath_data();
    void shortestPath();
    void machineOrder_data();
    void machineOrder();
};

namespace {

using zemdouble::bytes;

// A machine that is at each point on its second poll, and can retry.
class ScriptedMachine : public sig::Prober
{
public:
    explicit ScriptedMachine(QStringList &heard)
        : heard(heard)
    {
    }
    void moveTo(const sig::ProbeTarget &target, Clock::time_point) override
    {
        heard << QStringLiteral("move:%1@%2").arg(target.point).arg(target.attempt);
        polls = 0;
    }
    Status poll(zem::Connection &, Clock::time_point now) override
    {
        return ++polls < 2 ? Status { Status::Moving, now + 10ms, {} }
                           : Status { Status::There, now, {} };
    }
    bool canRetry() const override { return true; }

    QStringList &heard;
    int polls = 0;
};

// A frame of FRAME_SIZE points from -5 V to 5 V: through 1 kΩ, or open.
get_measurement_response frame(bool open)
{
    get_measurement_response f {};
    for (int k = 0; k < FRAME_SIZE; ++k) {
        f.Voltage[k] = -5.0f + 10.0f * float(k) / float(FRAME_SIZE - 1);
        f.Current[k] = open ? 0.0f : f.Voltage[k];
    }
    return f;
}

sig::IvCurve curveOf(const get_measurement_response &f)
{
    return { { std::begin(f.Voltage), std::end(f.Voltage) },
        { std::begin(f.Current), std::end(f.Current) } };
}

} // namespace

void tst_ProbeRun::run_data()
{
    QTest::addColumn<QString>("how"); // button, trigger, hand (never triggered), auto, contact, machine
    // Test: the points were learned on 1 kΩ, and each capture reads the
    // frame of its letter (R: 1 kΩ, O: open; R past the end). Else learn.
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("failing"); // function whose results are queued
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<int>("cancelAtStep"); // -1: never
    QTest::addColumn<QString>("calls"); // library calls after open, without "zem_"
    QTest::addColumn<QString>("events");

    // One measurement: settings, read settings, start, status, one frame.
    const QString measure = QStringLiteral(
        "set_measurement_settings get_measurement_settings start_measurement "
        "check_measurement_status get_measurement ");
    const QString none;
    QTest::newRow("button")
        << "button" << none << none << QList<int> {} << -1
        << "reset_events get_status get_status get_status reset_events " + measure
            + "reset_events get_status reset_events " + measure
        << "wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("trigger") << "trigger" << none << none << QList<int> {} << -1 << measure + measure
                             << "wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("status fails: the run ends")
        << "button" << none << "zem_get_status" << QList<int> { -5 } << -1
        << "reset_events get_status" << "wait:0 failed:0 ended";
    QTest::newRow("settings refused: the probe is awaited again")
        << "auto" << none << "zem_set_measurement_settings" << QList<int> { -3 } << -1
        << "set_measurement_settings " + measure + measure
        << "wait:0 failed:0 wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("device closed by -1: the run ends")
        << "auto" << none << "zem_start_measurement" << QList<int> { -1 } << -1
        << "set_measurement_settings get_measurement_settings start_measurement close_device"
        << "wait:0 failed:0 ended";
    QTest::newRow("cancel while measuring")
        << "auto" << none << none << QList<int> {} << 4
        << "set_measurement_settings get_measurement_settings start_measurement"
        << "wait:0 ended";
    QTest::newRow("virtual: the probe is put on each point's pin")
        << "virtual" << none << none << QList<int> {} << -1
        << "virtual_probe_pin:0 " + measure + "virtual_probe_pin:1 " + measure
        << "wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("cancel while waiting for the hand")
        << "hand" << none << none << QList<int> {} << 3 << none << "wait:0 ended";
    QTest::newRow("measure on contact: the curve holds still, then the capture")
        << "contact" << "ORRRRORRR" << none << QList<int> {} << -1 << measure.repeated(9)
        << "wait:0 still:0 measured:0 done:0=pass wait:1 still:1 measured:1 done:1=pass ended";
    QTest::newRow("by hand an open pin stays different")
        << "trigger" << "O" << none << QList<int> {} << -1 << measure + measure
        << "wait:0 measured:0 done:0=different wait:1 measured:1 done:1=pass ended";
    QTest::newRow("a machine's open, then contact")
        << "machine" << "OR" << none << QList<int> {} << -1 << measure.repeated(3)
        << "wait:0 move:0@0 retry:0 wait:0 move:0@1 measured:0 done:0=pass "
           "wait:1 move:1@0 measured:1 done:1=pass ended";
    QTest::newRow("a machine's open three times: no contact")
        << "machine" << "OOO" << none << QList<int> {} << -1 << measure.repeated(4)
        << "wait:0 move:0@0 retry:0 wait:0 move:0@1 retry:0 wait:0 move:0@2 measured:0 "
           "done:0=no_contact wait:1 move:1@0 measured:1 done:1=pass ended";
}

void tst_ProbeRun::run()
{
    QFETCH(QString, how);
    QFETCH(QString, frames);
    QFETCH(QString, failing);
    QFETCH(QList<int>, results);
    QFETCH(int, cancelAtStep);
    QFETCH(QString, calls);
    QFETCH(QString, events);

    zemdouble::reset();
    measurement_settings settings = sig::defaultSettings();
    settings.NumberPoints = FRAME_SIZE;
    zemdouble::setResponse("zem_get_measurement_settings", bytes(settings));
    check_measurement_status_response status {};
    status.ReadyStatus = MEASUREMENT_COMPLETE;
    zemdouble::setResponse("zem_check_measurement_status", bytes(status));
    // The probe's button is pressed after the second poll.
    get_status_response pressed {};
    pressed.IOEvents = IOEVENTS_GEN_PROBE_BUTTON_PRESSED;
    zemdouble::setResponse("zem_get_status", bytes(get_status_response {}));
    if (!failing.isEmpty())
        zemdouble::queueResults(failing.toStdString(), { results.begin(), results.end() });

    sig::Signature board;
    board.settings = settings;
    board.points.resize(2);
    board.points[0].name = QStringLiteral("R1");
    board.points[1].name = QStringLiteral("R2");
    const bool testing = !frames.isEmpty();
    if (testing)
        for (sig::Point &p : board.points)
            p.measurements[0].reference = curveOf(frame(false));
    zemdouble::setResponse("zem_get_measurement", bytes(frame(false)));
    zem::Connection device;
    device.open("virtual://x");
    const std::size_t opened = zemdouble::calls().size();

    QStringList heard;
    sig::ProbeRun::Options options;
    options.pollButton = how == QLatin1String("button");
    // Only the virtual row has a library that places its probe.
    zemdouble::offerVirtualProbe(how == QLatin1String("virtual"));
    options.autoMeasure = how == QLatin1String("auto") || how == QLatin1String("contact")
        || how == QLatin1String("virtual");
    options.measureOnContact = how == QLatin1String("contact");
    options.session.repeat = 1;
    std::unique_ptr<sig::Prober> machine;
    if (how == QLatin1String("machine"))
        machine = std::make_unique<ScriptedMachine>(heard);
    sig::ProbeRun run(device, board, testing ? sig::Session::Mode::Test : sig::Session::Mode::Learn,
        options, {},
        [&](const Event &e) {
            static const char *const names[]
                = { "wait", "measured", "done", "failed", "ended", "", "still", "retry" };
            if (e.kind == Event::Measuring || e.kind == Event::Judged)
                return;
            QString line = e.kind == Event::Ended ? QStringLiteral("ended")
                                                  : QStringLiteral("%1:%2").arg(names[e.kind]).arg(e.point);
            if (e.kind == Event::PointDone && testing)
                line += u'=' + QLatin1String(sig::verdictName(e.result.verdict));
            heard << line;
        },
        std::move(machine));
    auto now = sig::ProbeRun::Clock::time_point {} + 1h;
    int steps = 0;
    bool pressedNow = false;
    while (const auto next = run.advance(now)) {
        QVERIFY(*next >= now);
        now = *next;
        QVERIFY(++steps < 1000);
        if (how == QLatin1String("trigger") && run.waitingForTrigger())
            run.trigger();
        if (!pressedNow && zemdouble::count("zem_get_status") == 2) {
            zemdouble::setResponse("zem_get_status", bytes(pressed));
            pressedNow = true;
        }
        if (steps == cancelAtStep)
            run.cancel();
        const std::size_t captured = zemdouble::count("zem_get_measurement");
        const bool open = int(captured) < frames.size() && frames[int(captured)] == u'O';
        zemdouble::setResponse("zem_get_measurement", bytes(frame(open)));
    }
    QVERIFY(run.ended());

    QString made;
    for (std::size_t i = opened; i < zemdouble::calls().size(); ++i) {
        const zemdouble::Call &c = zemdouble::calls()[i];
        made += QString::fromStdString(c.function).mid(4);
        if (c.function == "zem_virtual_probe_pin")
            made += u':' + QString::number(c.probePin());
        made += u' ';
    }
    QCOMPARE(made.trimmed(), calls.trimmed());
    QCOMPARE(heard.join(u' '), events);
    const bool done = events.contains(QLatin1String("done:1"));
    QCOMPARE(run.signature().points[1].learned(), done || testing);
    QCOMPARE(run.session().done(), done);
}

// A machine's probing order: every point once, and no longer than a path
// known to be shortest (or within a bound of it).
void tst_ProbeRun::shortestPath_data()
{
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<double>("longest");

    QList<QPointF> grid; // 5 x 10 at 1 mm, shuffled: a snake is 49 mm from its corner
    for (int k = 0; k < 50; ++k)
        grid << QPointF((k * 7) % 5, (k * 3) % 10);
    QTest::newRow("grid from its corner") << grid << 49.0;
    // Nearest neighbour alone goes 12.86 mm here; the shortest is 12.34 mm.
    QTest::newRow("nearest is not shortest")
        << QList<QPointF> { { 4, 0 }, { 6, 3 }, { 2, 4 }, { 1, 1 }, { 5, 3 } } << 12.3444;
    QList<QPointF> circle; // every other point of a circle first: the path is the circle
    for (int k = 0; k < 40; ++k)
        circle << QPointF(10 + 10 * std::cos(k * 2 * M_PI / 40 * (k % 2 ? 1 : -1)),
            10 * std::sin(k * 2 * M_PI / 40 * (k % 2 ? 1 : -1)));
    QTest::newRow("circle") << circle << 10 + 2 * M_PI * 10 * 1.01;
    QTest::newRow("none") << QList<QPointF>() << 0.0;
}

void tst_ProbeRun::shortestPath()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, longest);
    const std::vector<QPointF> at(points.begin(), points.end());
    std::vector<int> order = sig::shortestPath(at);
    const double length = sig::pathLength(at, order);
    QVERIFY2(length <= longest, qPrintable(QString::number(length)));
    std::sort(order.begin(), order.end());
    for (std::size_t k = 0; k < order.size(); ++k)
        QCOMPARE(order[k], int(k));
    QCOMPARE(order.size(), at.size());
}

// The machine's order (100 mm/s, 500 mm/s², down onto Z -40, across at the
// safe height or a clearance): the least move time, which the shortest
// length is not where hops along a diagonal (both axes accelerating) or a
// few long hops in place of many short ones win.
void tst_ProbeRun::machineOrder_data()
{
    QTest::addColumn<QList<QPointF>>("points"); // machine mm
    QTest::addColumn<double>("clearance"); // 0: the safe height
    QTest::addColumn<QList<int>>("order");
    QTest::addColumn<double>("gain"); // s less than the shortest length's order

    // By length 2, 1, 0, 3 (60.20 mm, 1.915 s); by time 2, 0, 1, 3 (60.30 mm, 1.815 s).
    const QList<QPointF> four { { 24, 24 }, { 32, 21 }, { 23, 22 }, { 20, 34 } };
    QTest::newRow("time is not length") << four << 0.5 << QList<int> { 2, 0, 1, 3 } << 0.1;
    QTest::newRow("a line: the same either way")
        << QList<QPointF> { { 30, 20 }, { 10, 20 }, { 20, 20 } } << 0.0 << QList<int> { 1, 2, 0 }
        << 0.0;
}

void tst_ProbeRun::machineOrder()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(double, clearance);
    QFETCH(QList<int>, order);
    QFETCH(double, gain);
    motion::GantryConfig config;
    config.safeZ = -35;
    config.contactZ = -40;
    config.xyFeed = 6000;
    config.contactFeed = 1200;
    if (clearance > 0)
        config.clearance = clearance;
    std::vector<int> all;
    std::vector<QPointF> at(points.begin(), points.end());
    for (int k = 0; k < points.size(); ++k) {
        config.targets[k] = { points[k].x(), points[k].y() };
        all.push_back(k);
    }
    const std::vector<int> byTime = sig::machineOrder(config, all);
    QCOMPARE(QList<int>(byTime.begin(), byTime.end()), order);
    const double shorter = sig::machineSeconds(config, sig::shortestPath(at));
    QVERIFY2(sig::machineSeconds(config, byTime) <= shorter - gain + 1e-3,
        qPrintable(QString::number(shorter - sig::machineSeconds(config, byTime))));
}

QTEST_MAIN(tst_ProbeRun)
#include "tst_proberun.moc"
