// DeviceSession and DeviceRun against the recording double: a run stopped,
// cancelled or destroyed while its call is held in the library, and calls
// posted to the device thread, which run there and report back in the order
// they were posted, beside the window's own calls.
#include "devicerun.h"
#include "devicesession.h"
#include "zemdouble.h"

#include "zem.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using Clock = DeviceRun::Clock;

class tst_DeviceSession : public QObject
{
    Q_OBJECT

private slots:
    void init() { zemdouble::reset(); }
    void stopWhileACallIsInFlight_data();
    void stopWhileACallIsInFlight();
    void callsKeepTheOrderTheyWerePostedIn_data();
    void callsKeepTheOrderTheyWerePostedIn();
};

namespace {

QString callText(const zem::calls::Call &call)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(call.commandName())).arg(call.result);
}

// Reads the status, then waits far longer than any test lasts; counts the
// cancels it gets (on the device thread).
struct Poller
{
    zem::Connection &device;
    bool cancelled = false;
    std::atomic<int> cancels { 0 };

    std::optional<Clock::time_point> advance(Clock::time_point now)
    {
        if (cancelled)
            return std::nullopt;
        get_status_response rs {};
        device.call("get_status", nullptr, &rs);
        return now + 1h;
    }
    void cancel()
    {
        cancelled = true;
        ++cancels;
    }
};

} // namespace

void tst_DeviceSession::stopWhileACallIsInFlight_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("heldResult"); // what the held call returns
    QTest::addColumn<int>("finishes"); // times the run reports finished
    QTest::addColumn<QStringList>("seen"); // calls told to the window, once the run stopped

    const QStringList held { "open_device 0", "get_status 0" };
    QTest::newRow("stop") << "stop" << 0 << 1 << held;
    QTest::newRow("stop without telling") << "stop quietly" << 0 << 0 << held;
    QTest::newRow("cancel soon") << "cancel soon" << 0 << 1 << held;
    QTest::newRow("destroy the run") << "destroy the run" << 0 << 0 << held;
    QTest::newRow("the session stops its runs") << "stop runs" << 0 << 1 << held;
    QTest::newRow("destroy the session") << "destroy the session" << 0 << 1 << held;
    QTest::newRow("stop; the held call loses the device")
        << "stop" << -1 << 1 << QStringList { "open_device 0", "get_status -1", "close_device 0" };
}

void tst_DeviceSession::stopWhileACallIsInFlight()
{
    QFETCH(QString, how);
    QFETCH(int, heldResult);
    QFETCH(int, finishes);
    QFETCH(QStringList, seen);

    QStringList told; // outlives the session, which tells it what is left
    auto session = std::make_unique<DeviceSession>();
    connect(session.get(), &DeviceSession::callMade, this,
        [&](const zem::calls::Call &c) { told << callText(c); });
    QSignalSpy lost(session.get(), &DeviceSession::lost);
    QVERIFY(session->connection().open("double://") != -1);
    zemdouble::queueResults("zem_get_status", { heldResult });
    zemdouble::closeGate("zem_get_status");
    QObject window;
    Poller poller { session->connection() };
    auto run = std::make_unique<DeviceRun>(
        *session, zem::calls::Origin::Curve,
        [&](Clock::time_point now) { return poller.advance(now); }, [&] { poller.cancel(); },
        &window);
    QSignalSpy finished(run.get(), &DeviceRun::finished);
    run->start();
    const auto open = qScopeGuard([] { zemdouble::openGate(); }); // before the run goes
    QVERIFY(zemdouble::waitForHeld());

    // This thread waits in what it asks of the run; another lets the call return.
    QSemaphore asked;
    std::thread opener([&] {
        asked.acquire();
        zemdouble::openGate();
    });
    const auto join = qScopeGuard([&] {
        asked.release(); // again, should the test have failed before
        opener.join();
    });
    if (how == QLatin1String("cancel soon")) {
        run->cancelSoon();
        asked.release();
        QVERIFY(finished.wait());
    } else {
        asked.release();
        if (how == QLatin1String("stop"))
            run->stop();
        else if (how == QLatin1String("stop quietly"))
            run->stop(false);
        else if (how == QLatin1String("destroy the run"))
            run.reset();
        else if (how == QLatin1String("stop runs"))
            session->stopRuns();
        else
            session.reset();
    }
    // The call held has returned and reached the window, which learns nothing
    // more of the run: no second finished, no call after it.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(told, seen);
    QCOMPARE(finished.count(), finishes);
    QCOMPARE(poller.cancels.load(), 1);
    QCOMPARE(lost.count(), heldResult == -1 ? 1 : 0);
    run.reset();
    session.reset();
    QCOMPARE(zemdouble::count("zem_get_status"), std::size_t(1));
    QCOMPARE(zemdouble::heldCalls(), std::size_t(1));
}

void tst_DeviceSession::callsKeepTheOrderTheyWerePostedIn_data()
{
    QTest::addColumn<int>("posts");
    QTest::addColumn<bool>("beforeStart"); // posted before the run starts
    QTest::addColumn<bool>("windowCalls"); // the window calls too, after each post

    QTest::newRow("posted while the run goes") << 8 << false << false;
    QTest::newRow("posted before the run starts") << 8 << true << false;
    QTest::newRow("among the window's own calls") << 8 << false << true;
}

void tst_DeviceSession::callsKeepTheOrderTheyWerePostedIn()
{
    QFETCH(int, posts);
    QFETCH(bool, beforeStart);
    QFETCH(bool, windowCalls);

    QStringList told;
    DeviceSession session;
    connect(&session, &DeviceSession::callMade, this,
        [&](const zem::calls::Call &c) { told << callText(c); });
    zem::Connection &device = session.connection();
    QVERIFY(device.open("double://") != -1);
    // The library answers the k-th status read with 10 + k, whoever asks.
    std::vector<std::int32_t> results;
    for (int k = 0; k < posts; ++k)
        results.push_back(10 + k);
    zemdouble::queueResults("zem_get_status", results);

    QObject window;
    DeviceRun run(
        session, zem::calls::Origin::Curve, [](Clock::time_point now) { return now + 1h; }, [] {},
        &window);
    QStringList returned; // "post: result", as the window gets them
    std::atomic<int> elsewhere { 0 }; // posted calls run off the device thread
    if (!beforeStart)
        run.start();
    for (int k = 0; k < posts; ++k) {
        run.post([&, k] {
            elsewhere += QThread::currentThread() != session.deviceThread();
            get_status_response rs {};
            const std::int32_t result = device.call("get_status", nullptr, &rs);
            run.toWindow([&returned, k, result] {
                returned << QStringLiteral("%1: %2").arg(k).arg(result);
            });
        });
        if (windowCalls) {
            measurement_settings rs {};
            device.call("get_measurement_settings", nullptr, &rs);
        }
    }
    if (beforeStart)
        run.start();
    QTRY_COMPARE(returned.size(), posts);
    run.stop();

    QStringList expected;
    for (int k = 0; k < posts; ++k)
        expected << QStringLiteral("%1: %2").arg(k).arg(10 + k);
    QCOMPARE(returned, expected);
    QCOMPARE(elsewhere.load(), 0);
    // The window is told of every call in the order the library answered them.
    // The library's open returns the handle, which the record keeps as 0.
    QStringList made { QStringLiteral("open_device 0") };
    for (std::size_t i = 1; i < zemdouble::calls().size(); ++i) {
        const zemdouble::Call &c = zemdouble::calls()[i];
        made
            << QStringLiteral("%1 %2").arg(QString::fromStdString(c.function).mid(4)).arg(c.result);
    }
    QCOMPARE(told, made);
    QCOMPARE(int(zemdouble::count("zem_get_measurement_settings")), windowCalls ? posts : 0);
}

QTEST_GUILESS_MAIN(tst_DeviceSession)
#include "tst_devicesession.moc"
