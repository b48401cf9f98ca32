// The probe run against the recording double, driven without real time: each
// step's "when next" becomes the next step's "now". What the run asks of the
// device, and what it tells its driver, for each way a point gets measured
// or fails to.
#include "connection.h"
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
};

namespace {

using zemdouble::bytes;

} // namespace

void tst_ProbeRun::run_data()
{
    QTest::addColumn<QString>("how"); // button, trigger, auto
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
        << "button" << none << QList<int> {} << -1
        << "reset_events get_status get_status get_status reset_events " + measure
            + "reset_events get_status reset_events " + measure
        << "wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("trigger") << "trigger" << none << QList<int> {} << -1 << measure + measure
                             << "wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("status fails: the run ends")
        << "button" << "zem_get_status" << QList<int> { -5 } << -1
        << "reset_events get_status" << "wait:0 failed:0 ended";
    QTest::newRow("settings refused: the probe is awaited again")
        << "auto" << "zem_set_measurement_settings" << QList<int> { -3 } << -1
        << "set_measurement_settings " + measure + measure
        << "wait:0 failed:0 wait:0 measured:0 done:0 wait:1 measured:1 done:1 ended";
    QTest::newRow("device closed by -1: the run ends")
        << "auto" << "zem_start_measurement" << QList<int> { -1 } << -1
        << "set_measurement_settings get_measurement_settings start_measurement close_device"
        << "wait:0 failed:0 ended";
    QTest::newRow("cancel while measuring")
        << "auto" << none << QList<int> {} << 4
        << "set_measurement_settings get_measurement_settings start_measurement"
        << "wait:0 ended";
}

void tst_ProbeRun::run()
{
    QFETCH(QString, how);
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
    zem::Connection device;
    device.open("virtual://x");
    const std::size_t opened = zemdouble::calls().size();

    QStringList heard;
    sig::ProbeRun::Options options;
    options.pollButton = how == QLatin1String("button");
    options.autoMeasure = how == QLatin1String("auto");
    sig::ProbeRun run(device, board, sig::Session::Mode::Learn, options, {},
        [&](const Event &e) {
            static const char *const names[]
                = { "wait", "measured", "done", "failed", "ended" };
            if (e.kind == Event::Measuring)
                return;
            heard << (e.kind == Event::Ended ? QStringLiteral("ended")
                                              : QStringLiteral("%1:%2").arg(names[e.kind]).arg(e.point));
        });
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
    }
    QVERIFY(run.ended());

    QString made;
    for (std::size_t i = opened; i < zemdouble::calls().size(); ++i)
        made += QString::fromStdString(zemdouble::calls()[i].function).mid(4) + u' ';
    QCOMPARE(made.trimmed(), calls.trimmed());
    QCOMPARE(heard.join(u' '), events);
    const bool learned = events.contains(QLatin1String("done:1"));
    QCOMPARE(run.signature().points[1].learned(), learned);
    QCOMPARE(run.session().done(), learned);
}

QTEST_MAIN(tst_ProbeRun)
#include "tst_proberun.moc"
