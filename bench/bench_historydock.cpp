// The History dock over a history of 100,000 runs: from Refresh to the runs,
// the failures, the yield and a point's 100,000 scores shown, and the
// longest event on the window's thread meanwhile, since the reading happens
// on the history's thread. ZEM_BENCH_HISTORY_RUNS sets the size. Prints,
// asserts nothing.
#include "figure.h"
#include "offscreen.h"
#include "timedapplication.h"

#include "historydock.h"
#include "worker.h"

#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace zem::history;

int main(int argc, char **argv)
{
    offscreenWithoutDisplay();
    TimedApplication app(argc, argv);
    const int large = qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS") > 0
        ? qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS")
        : 100000;
    QTemporaryDir shm(QStringLiteral("/dev/shm/zem-bench-XXXXXX"));
    QTemporaryDir disk;
    const QString where
        = QStringLiteral("sqlite:") + (shm.isValid() ? shm : disk).filePath("large.sqlite");
    {
        // Runs of 20 points, every ninth failing one, over 100 days.
        Store store;
        store.open(*parseLocation(where, nullptr));
        Run blank;
        blank.boardType = QStringLiteral("bench");
        for (int k = 0; k < 20; ++k) {
            PointResult p;
            p.name = QStringLiteral("R%1").arg(k + 1);
            p.tolerance = 10;
            p.reading = QStringLiteral("resistor, 1.00 kΩ");
            p.volts = { -1, 1 };
            p.milliamps = { -1, 1 };
            blank.points.push_back(p);
        }
        const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-100);
        for (int n = 0; n < large; ++n) {
            Run run = blank;
            run.uuid = QUuid::createUuid();
            run.boardSerial = QStringLiteral("SN%1").arg(n);
            run.started = first.addMSecs(qint64(n) * 86400000LL * 100 / large);
            const bool bad = n % 9 == 0;
            run.verdict = QLatin1String(bad ? "fail" : "pass");
            for (int k = 0; k < 20; ++k) {
                PointResult &p = run.points[std::size_t(k)];
                const bool different = bad && (n + k) % 20 < 2;
                p.verdict = QLatin1String(different ? "different" : "pass");
                p.score = different ? 30.0 : 0.5 + (n * 31 + k) % 40 / 10.0;
            }
            if (store.record(run) != Store::Outcome::Stored) {
                std::fprintf(stderr, "bench_historydock: %s\n", qPrintable(store.errorString()));
                return 1;
            }
        }
    }

    Worker worker;
    worker.setLocationText(where);
    HistoryDock dock(&worker);
    dock.resize(900, 700);
    dock.show();
    if (!QTest::qWaitForWindowExposed(&dock))
        std::fprintf(stderr, "dock not exposed\n");
    QSignalSpy shown(&dock, &HistoryDock::shown);
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("historyTabs"));
    double best = 1e30, longest = 0;
    for (int tab = 0; tab < tabs->count(); ++tab) {
        // Each tab once on top: the charts paint only when shown.
        tabs->setCurrentIndex(tab);
        app.longest = 0;
        app.watching = true;
        QElapsedTimer t;
        t.start();
        const int before = int(shown.count());
        dock.refresh();
        while (shown.count() == before && t.elapsed() < 60000)
            shown.wait(60000);
        const double ms = t.nsecsElapsed() / 1e6;
        QTest::qWait(50); // the paints that follow
        app.watching = false;
        best = std::min(best, ms);
        longest = std::max(longest, app.longest);
    }
    char what[200];
    std::snprintf(what, sizeof what,
        "History dock over %d runs (SQLite): Refresh to runs, failures, yield and a point's %d "
        "scores shown, best of %d",
        large, large, int(tabs->count()));
    figure(what, "-", "%.0f ms", best);
    figure("the same: longest event on the window's thread, any tab on top", "< 50 ms", "%.1f ms",
        longest);
    return 0;
}
