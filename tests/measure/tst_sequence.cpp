// The measurement sequence against the recording double, driven without real
// time: each step's "when next" becomes the next step's "now".
#include "call.h"
#include "connection.h"
#include "records.h"
#include "sequence.h"
#include "zemdouble.h"

#include <QtTest>

#include <cstring>

using namespace std::chrono_literals;
using Outcome = MeasurementSequence::Outcome;

class tst_Sequence : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

namespace {

using zemdouble::bytes;

} // namespace

void tst_Sequence::run_data()
{
    QTest::addColumn<uint>("numberPoints");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<QString>("failing"); // function whose results are queued
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<int>("cancelAfterFrames"); // -1: never
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("frames"); // zem_get_measurement calls
    QTest::addColumn<int>("points"); // points kept
    QTest::addColumn<QString>("message");

    const QList<int> none;
    QTest::newRow("100 points") << 100u << true << QString() << none << -1 << int(Outcome::Complete)
                                << 4 << 100 << "100 points read";
    QTest::newRow("101 points") << 101u << true << QString() << none << -1 << int(Outcome::Complete)
                                << 5 << 101 << "101 points read";
    QTest::newRow("no points") << 0u << true << QString() << none << -1
                               << int(Outcome::NothingToRead) << 0 << 0
                               << "NumberPoints is 0: there is nothing to measure";
    QTest::newRow("time-out") << 100u << false << QString() << none << -1 << int(Outcome::TimedOut)
                              << 0 << 0 << "The measurement did not complete within 1030 ms";
    QTest::newRow("-1 mid-way") << 100u << true << "zem_get_measurement" << QList<int> { 0, -1 }
                                << -1 << int(Outcome::Failed) << 2 << 25
                                << "zem_get_measurement returned device_undefined (-1); the device "
                                   "was closed, connect again (1 of 4 frames kept)";
    QTest::newRow("-5 mid-way") << 100u << true << "zem_get_measurement" << QList<int> { 0, 0, -5 }
                                << -1 << int(Outcome::Failed) << 3 << 50
                                << "zem_get_measurement returned result_timeout (-5) (2 of 4 "
                                   "frames kept)";
    QTest::newRow("-5 on start") << 100u << true << "zem_start_measurement" << QList<int> { -5 }
                                 << -1 << int(Outcome::Failed) << 0 << 0
                                 << "zem_start_measurement returned result_timeout (-5)";
    QTest::newRow("cancel") << 100u << true << QString() << none << 2 << int(Outcome::Cancelled)
                            << 2 << 50 << "Cancelled; 2 of 4 frames kept";
}

void tst_Sequence::run()
{
    QFETCH(uint, numberPoints);
    QFETCH(bool, completes);
    QFETCH(QString, failing);
    QFETCH(QList<int>, results);
    QFETCH(int, cancelAfterFrames);
    QFETCH(int, outcome);
    QFETCH(int, frames);
    QFETCH(int, points);
    QFETCH(QString, message);

    zemdouble::reset();
    measurement_settings settings {};
    settings.SamplingRate = 10000;
    settings.NumberPoints = numberPoints;
    zemdouble::setResponse("zem_get_measurement_settings", bytes(settings));
    check_measurement_status_response status {};
    status.ReadyStatus = completes ? MEASUREMENT_COMPLETE : MEASUREMENT_NOT_COMPLETE;
    zemdouble::setResponse("zem_check_measurement_status", bytes(status));
    get_measurement_response frame {};
    for (int i = 0; i < FRAME_SIZE; ++i) {
        frame.Voltage[i] = float(i);
        frame.Current[i] = float(i) / 2;
    }
    zemdouble::setResponse("zem_get_measurement", bytes(frame));
    if (!failing.isEmpty())
        zemdouble::queueResults(failing.toStdString(), { results.begin(), results.end() });

    // The observer sees each call as it happens, at the time it was due.
    const auto start = MeasurementSequence::Clock::time_point {} + 1h;
    auto now = start;
    std::vector<std::pair<std::string, std::chrono::nanoseconds>> seen;
    QStringList logLines;
    zem::Connection device;
    QCOMPARE(device.open("virtual://x"), 1);
    const auto opened = zemdouble::calls().size();
    MeasurementSequence sequence(device, [&](const SequenceCall &call) {
        seen.emplace_back(call.command.operation, now - start);
        logLines << QStringLiteral("%1 returned %2")
                        .arg(QLatin1String(call.command.operation),
                            QString::fromStdString(zem::calls::resultName(call.result)));
    });
    int steps = 0;
    while (const auto next = sequence.advance(now)) {
        QVERIFY(*next >= now);
        if (*next > now) // woken early, it only repeats the wait
            QCOMPARE(sequence.advance(*next - 1ns), next);
        now = *next;
        QVERIFY(++steps < 1000);
        if (int(sequence.framesRead()) == cancelAfterFrames)
            sequence.cancel();
    }
    QVERIFY(sequence.isDone());
    QVERIFY(!sequence.advance(now + 1s));

    QCOMPARE(int(sequence.outcome()), outcome);
    QCOMPARE(sequence.message(), message);
    QCOMPARE(int(zemdouble::count("zem_get_measurement")), frames);
    const Curve &curve = sequence.curve();
    QCOMPARE(int(curve.size()), points);
    QCOMPARE(curve.complete, outcome == int(Outcome::Complete));
    for (std::size_t i = 0; i < curve.size(); ++i) {
        QCOMPARE(curve.voltage[i], float(i % FRAME_SIZE));
        QCOMPARE(curve.current[i], float(i % FRAME_SIZE) / 2);
    }

    // Order: settings, start, status until complete, then frames 0, 1, ...
    // each call's result reported once, and -1 closes the device.
    const std::vector<zemdouble::Call> calls(
        zemdouble::calls().begin() + opened, zemdouble::calls().end());
    QCOMPARE(int(seen.size()) + (device.isOpen() ? 0 : 1), int(calls.size()));
    QCOMPARE(calls.front().function, std::string("zem_get_measurement_settings"));
    int frameNumber = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        QCOMPARE(seen[i].first, calls[i].function);
        QCOMPARE(logLines[int(i)],
            QStringLiteral("%1 returned %2")
                .arg(QString::fromStdString(calls[i].function),
                    QString::fromStdString(zem::calls::resultName(calls[i].result))));
        if (calls[i].function == "zem_get_measurement") {
            std::uint16_t asked = 0;
            std::memcpy(&asked, calls[i].request.data(), sizeof asked);
            QCOMPARE(int(asked), frameNumber++);
        }
    }
    QCOMPARE(!device.isOpen(), results.contains(-1));
    if (!device.isOpen())
        QCOMPARE(zemdouble::callLines().back(), std::string("zem_close_device(1)"));

    // Polling starts 1 ms after the points at 10 kHz should be done (100 µs
    // each), then every 10 ms until three times that plus one second.
    const std::chrono::nanoseconds expected = numberPoints * 100us + 1ms;
    std::vector<std::chrono::nanoseconds> polls;
    for (const auto &s : seen)
        if (s.first == "zem_check_measurement_status")
            polls.push_back(s.second);
    if (numberPoints == 0 || failing == "zem_start_measurement")
        QVERIFY(polls.empty());
    else if (completes)
        QCOMPARE(polls, std::vector<std::chrono::nanoseconds> { expected });
    else {
        QCOMPARE(int(polls.size()), 103);
        QCOMPARE(polls.front(), std::chrono::nanoseconds(11ms));
        for (std::size_t i = 1; i + 1 < polls.size(); ++i)
            QCOMPARE(polls[i] - polls[i - 1], std::chrono::nanoseconds(10ms));
        QCOMPARE(polls.back(), std::chrono::nanoseconds(1030ms));
    }
}

QTEST_GUILESS_MAIN(tst_Sequence)
#include "tst_sequence.moc"
