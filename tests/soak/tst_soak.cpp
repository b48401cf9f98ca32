// A long run of the window against a virtual instrument that drops the device
// again and again: get_measurement and get_status repeat every 10 ms, two
// get_status fields are plotted, and the window's Reconnect opens the device
// again after each drop. Faults that only show over time: a leak, a blocked
// event loop, periodic log lines that never reach the disk, a drop that is not
// recovered from, a trend that stops or grows without bound.
// ZEM_SOAK_SECONDS sets the duration (default 180); scripts/soak.sh runs 30 minutes.
#include "base_io_widget.h"
#include "callsdock.h"
#include "callsmodel.h"
#include "iopanel.h"
#include "mainwindow.h"
#include "records.h"
#include "trenddock.h"

#include <QAction>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

constexpr int kDefaultSeconds = 180;
// Faster than the form's spin box allows: the test lowers its minimum.
constexpr int kPeriodMs = 10;
// A reconnection is tried at once, then once a second.
constexpr qint64 kMaxOutageMs = 1500;
constexpr qint64 kMaxGapMs = 500;
constexpr qint64 kMaxGrowthBytes = 20 * 1024 * 1024;
// The call record and the trends keep up to their bounds by design; while
// they fill, each kept call and sample may cost this much (a recorded call
// takes about 300 bytes, a sample a point in the trend's list and another
// in its chart series).
constexpr qint64 kBytesPerCall = 400;
constexpr qint64 kBytesPerSample = 100;
// Once they are full, memory must stay flat: measured over at least this long.
constexpr int kMinFullSeconds = 120;
constexpr int kClearEveryMs = 60 * 1000;

int soakSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("ZEM_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : kDefaultSeconds;
}

// Resident set size, from the second field of /proc/self/statm (in pages).
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    return fields.size() < 2 ? -1 : fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + QStringLiteral(" MB");
}

// One repeated command: the steps its timer took, and the lines of its log
// file as read from disk by a reader of our own, independent of the writer.
struct Periodic
{
    iopanel *page = nullptr;
    qint64 steps = 0;
    qint64 ok = 0;
    qint64 valueErrors = 0;
    qint64 noDevice = 0;
    qint64 otherResults = 0;
    QFile reader;
    qint64 linesOnDisk = 0;

    void readNewLines()
    {
        const QByteArray data = reader.readAll();
        linesOnDisk += data.count('\n');
    }
};

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void periodicCommandsWithDeviceDrops();

private:
    QTemporaryDir dir;
    QString previousDir;
};

void tst_Soak::initTestCase()
{
    QVERIFY(dir.isValid());
    // The periodic log files are written to the working directory.
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
}

void tst_Soak::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
}

void tst_Soak::periodicCommandsWithDeviceDrops()
{
    const int seconds = soakSeconds();
    // About ten drops whatever the duration: 200 calls a second reach the device.
    const int loseAfter = std::clamp(seconds * 20, 200, 100000);
    const QString url = QStringLiteral("virtual://resistor?seed=1&lose_after=%1").arg(loseAfter);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *urlEdit = window.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("cntButton"));
    auto *clearButton = window.findChild<QPushButton *>(QStringLiteral("ClearBtn"));
    auto *log = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));
    QVERIFY(urlEdit && connectButton && clearButton && log);
    iopanel *start = window.page(QStringLiteral("start_measurement"));
    QVERIFY(start);
    auto *reconnect = window.findChild<QAction *>(QStringLiteral("reconnectAction"));
    auto *trend = window.findChild<TrendDock *>(QStringLiteral("trendDock"));
    auto *callsDock = window.findChild<CallsDock *>(QStringLiteral("callsDock"));
    QVERIFY(reconnect && trend && callsDock);
    const zem::calls::CallRing &calls = callsDock->liveModel()->ring();
    reconnect->setChecked(true);

    Periodic status, measurement;
    status.page = window.page(QStringLiteral("get_status"));
    measurement.page = window.page(QStringLiteral("get_measurement"));
    QVERIFY(status.page && measurement.page);
    measurement.page->GetRequest(0)->SetValue(QStringLiteral("0"));

    // What the log shows decides everything, as it would for a user.
    bool startPending = false;
    int reconnects = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 lostAt = -1;
    qint64 longestOutageMs = 0;
    int drops = 0;
    const auto classify = [&](Periodic &p, const QString &line) {
        if (line.endsWith(QLatin1String("result_ok 0"))) {
            ++p.ok;
            if (lostAt >= 0) {
                longestOutageMs = std::max(longestOutageMs, clock.elapsed() - lostAt);
                lostAt = -1;
            }
        } else if (line.endsWith(QLatin1String("result_nodevice (-4)"))) {
            ++p.noDevice;
            if (lostAt < 0) {
                lostAt = clock.elapsed();
                ++drops;
            }
        } else if (line.endsWith(QLatin1String("result_value_error (-3)"))) {
            ++p.valueErrors;
        } else {
            ++p.otherResults;
        }
    };
    QStringList unexpectedLines;
    // Ends the connections below before the locals they use go.
    QObject context;
    connect(log->model(), &QAbstractItemModel::rowsInserted, &context,
        [&](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; ++row) {
                const QString line = log->item(row)->text();
                if (line.contains(QLatin1String(" zem_get_status returned ")))
                    classify(status, line);
                else if (line.contains(QLatin1String(" zem_get_measurement returned ")))
                    classify(measurement, line);
                else if (line.contains(QLatin1String("Reconnect %1: connected").arg(url))) {
                    ++reconnects;
                    // A new connection has no measurement: the user starts one.
                    startPending = true;
                } else if (!line.contains(QLatin1String(" zem_start_measurement returned "))
                    && !line.endsWith(url + QLatin1String(" connect")))
                    unexpectedLines << line;
            }
        });

    const auto connectAndStart = [&] {
        QTest::mouseClick(connectButton, Qt::LeftButton);
        // Frames can be read once the one measurement has been taken.
        start->sendButton->click();
    };
    urlEdit->setText(url);
    connectAndStart();
    QVERIFY(window.deviceHandle() != -1);

    const zem::Command *getStatus = zem::findCommand("get_status");
    for (const char *name : { "Temperature", "IOState" })
        for (std::size_t i = 0; i < getStatus->response->fields.size(); ++i)
            if (std::string_view(getStatus->response->fields[i].name) == name)
                trend->plot(int(getStatus - zem::kCommands), int(i));
    QCOMPARE(trend->traceCount(), 2);

    for (Periodic *p : { &status, &measurement }) {
        connect(p->page->sendButton, &QPushButton::clicked, &context, [p] { ++p->steps; });
        auto *period = p->page->findChild<QSpinBox *>(QStringLiteral("FreqBox"));
        auto *periodic = p->page->findChild<QPushButton *>(QStringLiteral("PeriodicButton"));
        QVERIFY(period && periodic);
        period->setMinimum(kPeriodMs);
        period->setValue(kPeriodMs);
        periodic->click();
        QVERIFY(p->page->isPeriodic());
        p->reader.setFileName(p->page->GetName() + QStringLiteral(".log"));
        QVERIFY2(p->reader.open(QIODevice::ReadOnly | QIODevice::Unbuffered),
            qPrintable(p->reader.errorString()));
    }

    // A user's reaction, and a probe of responsiveness: a 10 ms timer whose
    // ticks come late when anything blocks the event loop.
    qint64 maxGapMs = 0;
    qint64 lastTick = clock.elapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        maxGapMs = std::max(maxGapMs, now - lastTick);
        lastTick = now;
        if (startPending) {
            startPending = false;
            start->sendButton->click();
        }
    });
    tick.start();

    // Once a second: memory, and every line written so far is readable from disk.
    const int warmUpSeconds = std::clamp(seconds / 6, 1, 30);
    const qint64 startRss = residentBytes();
    qint64 baselineRss = -1;
    qint64 maxRss = 0;
    std::size_t baselineCalls = 0;
    qsizetype baselineSamples = 0;
    // When both bounded stores were first full, and the memory then.
    int fullAt = -1;
    qint64 fullRss = -1;
    qint64 maxRssWhenFull = 0;
    QString missingLines;
    int second = 0;
    QTimer probe;
    probe.setInterval(1000);
    connect(&probe, &QTimer::timeout, this, [&] {
        ++second;
        const qint64 rss = residentBytes();
        if (second == warmUpSeconds) {
            baselineRss = rss;
            baselineCalls = calls.size();
            baselineSamples = trend->sampleCount(0);
        }
        if (baselineRss >= 0)
            maxRss = std::max(maxRss, rss);
        // The calls dock drops its oldest in batches, so the record is full
        // from its first drop on.
        if (fullAt < 0 && calls.dropped() > 0 && trend->sampleCount(0) >= TrendDock::kMaxSamples) {
            fullAt = second;
            fullRss = rss;
        }
        if (fullAt >= 0)
            maxRssWhenFull = std::max(maxRssWhenFull, rss);
        for (Periodic *p : { &status, &measurement }) {
            p->readNewLines();
            // The header line, then one line per step.
            if (missingLines.isEmpty() && p->linesOnDisk != p->steps + 1)
                missingLines = QStringLiteral("%1 after %2 s: %3 lines on disk, %4 steps")
                                   .arg(p->page->GetName())
                                   .arg(second)
                                   .arg(p->linesOnDisk)
                                   .arg(p->steps);
        }
    });
    probe.start();

    // The event log grows by design; the user empties it now and then.
    QTimer clean;
    clean.setInterval(kClearEveryMs);
    connect(
        &clean, &QTimer::timeout, this, [&] { QTest::mouseClick(clearButton, Qt::LeftButton); });
    clean.start();

    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();

    tick.stop();
    probe.stop();
    clean.stop();
    for (Periodic *p : { &status, &measurement }) {
        p->page->PeriodicButtonClicked();
        QVERIFY(!p->page->isPeriodic());
        p->readNewLines();
    }
    const qint64 endRss = residentBytes();
    maxRss = std::max(maxRss, endRss);
    if (fullAt >= 0)
        maxRssWhenFull = std::max(maxRssWhenFull, endRss);

    const qsizetype trendSamples = trend->sampleCount(0);
    std::printf("soak: %d s, status %lld steps (%lld ok, %lld no device), "
                "measurement %lld steps (%lld ok, %lld no device, %lld not ready), "
                "%d drops, %d reconnects, longest outage %lld ms\n"
                "soak: resident memory %s at start, %s after %d s warm-up, %s at end, "
                "%s at most (growth %s); longest event loop gap %lld ms; "
                "trend %lld samples a field, %zu calls kept (%llu dropped)\n",
        seconds, status.steps, status.ok, status.noDevice, measurement.steps, measurement.ok,
        measurement.noDevice, measurement.valueErrors, drops, reconnects, longestOutageMs,
        qPrintable(megabytes(startRss)), qPrintable(megabytes(baselineRss)), warmUpSeconds,
        qPrintable(megabytes(endRss)), qPrintable(megabytes(maxRss)),
        qPrintable(megabytes(maxRss - baselineRss)), maxGapMs, qint64(trendSamples), calls.size(),
        static_cast<unsigned long long>(calls.dropped()));
    if (fullAt >= 0)
        std::printf("soak: call record and trends full after %d s at %s; at most %s since "
                    "(growth %s in %d s)\n",
            fullAt, qPrintable(megabytes(fullRss)), qPrintable(megabytes(maxRssWhenFull)),
            qPrintable(megabytes(maxRssWhenFull - fullRss)), seconds - fullAt);
    std::fflush(stdout);

    QVERIFY2(unexpectedLines.isEmpty(), qPrintable(unexpectedLines.join(u'\n')));
    QVERIFY2(missingLines.isEmpty(), qPrintable(missingLines));
    for (Periodic *p : { &status, &measurement }) {
        QCOMPARE(p->linesOnDisk, p->steps + 1);
        // A stalled timer or a blocked loop takes fewer steps than the period allows.
        QVERIFY2(p->steps >= qint64(seconds) * 1000 / kPeriodMs * 8 / 10,
            qPrintable(QStringLiteral("%1: %2 steps").arg(p->page->GetName()).arg(p->steps)));
        QCOMPARE(p->ok + p->noDevice + p->valueErrors + p->otherResults, p->steps);
        QCOMPARE(p->otherResults, 0);
    }
    QCOMPARE(status.valueErrors, 0);
    // Frames are asked for every period until a fresh measurement is done.
    QVERIFY(measurement.valueErrors <= (reconnects + 1) * 50);
    QVERIFY2(drops >= 2, qPrintable(QStringLiteral("%1 drops").arg(drops)));
    // A drop in the very last ticks may still wait for its reconnection.
    QVERIFY2(reconnects == drops || (reconnects == drops - 1 && lostAt >= 0),
        qPrintable(QStringLiteral("%1 drops, %2 reconnects").arg(drops).arg(reconnects)));
    // Every drop is followed by working calls soon.
    QVERIFY2(longestOutageMs < kMaxOutageMs, qPrintable(QString::number(longestOutageMs)));
    QVERIFY2(lostAt < 0 || clock.elapsed() - lostAt < kMaxOutageMs,
        "the last drop was not recovered from");
    QVERIFY2(maxGapMs < kMaxGapMs, qPrintable(QStringLiteral("%1 ms").arg(maxGapMs)));
    // Every successful status step is one sample, up to the bound.
    QCOMPARE(trendSamples, std::min<qsizetype>(status.ok, TrendDock::kMaxSamples));
    QCOMPARE(trend->sampleCount(1), trendSamples);
    QVERIFY(startRss > 0 && baselineRss > 0);
    // Growth beyond what the bounded stores took on is a leak.
    const qint64 storesGrowth = qint64(calls.size() - baselineCalls) * kBytesPerCall
        + qint64(trendSamples - baselineSamples) * trend->traceCount() * kBytesPerSample;
    QVERIFY2(maxRss - baselineRss < kMaxGrowthBytes + storesGrowth,
        qPrintable(QStringLiteral("grew from %1 to %2, of which the call record and trends "
                                  "may take %3")
                       .arg(megabytes(baselineRss), megabytes(maxRss), megabytes(storesGrowth))));
    if (fullAt >= 0 && seconds - fullAt >= kMinFullSeconds)
        QVERIFY2(maxRssWhenFull - fullRss < kMaxGrowthBytes,
            qPrintable(QStringLiteral("grew from %1 to %2 with the call record and trends full")
                           .arg(megabytes(fullRss), megabytes(maxRssWhenFull))));
}

int main(int argc, char **argv)
{
    // Runs without a display, also when started by hand.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // QtTest's watchdog would end a run longer than its default of five minutes.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 300) * 1000));
    QApplication app(argc, argv);
    tst_Soak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
