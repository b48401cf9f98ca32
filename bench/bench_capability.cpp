// The capability of every point of a board type (history points --cpk, the
// History view's Cpk column): 50 points over a SQLite history of 100,000
// runs (ZEM_BENCH_HISTORY_RUNS sets another size), recorded here first as
// stations record them. Prints, asserts nothing.
#include "figure.h"

#include "benchruns.h"
#include "capability.h"
#include "store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>

using namespace zem::history;
using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS") > 0
        ? qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS")
        : 100000;
    // In memory where there is a tmpfs: what is timed is the query and the figures.
    QTemporaryDir shm(QStringLiteral("/dev/shm/zem-bench-XXXXXX"));
    QTemporaryDir dir;
    Store store;
    if (!store.open(*parseLocation((shm.isValid() ? shm : dir).filePath("cpk.sqlite"), nullptr))) {
        std::fprintf(stderr, "bench_capability: %s\n", qPrintable(store.errorString()));
        return 1;
    }
    const Run blank = blankRun(50);
    const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-100);
    const auto t0 = Clock::now();
    for (int k = 0; k < runs; ++k)
        if (store.record(makeRun(blank, k, 2, first.addSecs(k * 60))) != Store::Outcome::Stored) {
            std::fprintf(stderr, "bench_capability: %s\n", qPrintable(store.errorString()));
            return 1;
        }
    const double recordS = std::chrono::duration<double>(Clock::now() - t0).count();
    char what[160];
    std::snprintf(what, sizeof what, "recording %d runs of 50 points (the history to read)", runs);
    figure(what, "-", "%.1f s", recordS);

    double best = 1e30;
    qint64 scores = 0;
    for (int round = 0; round < 3; ++round) {
        QString error;
        const auto t = Clock::now();
        const auto figures
            = capability(store, QStringLiteral("bench"), kDefaultFalseFailRate, &error);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        if (!figures) {
            std::fprintf(stderr, "bench_capability: %s\n", qPrintable(error));
            return 1;
        }
        scores = 0;
        for (const Capability &c : *figures)
            scores += c.n;
    }
    std::snprintf(what, sizeof what,
        "Cpk and suggested tolerance of 50 points over %d runs, SQLite%s, best of 3", runs,
        shm.isValid() ? " on tmpfs" : "");
    figure(what, "-", "%.0f ms (%lld good-board scores, %.0f ns a score)", best, (long long)scores,
        best * 1e6 / double(std::max<qint64>(scores, 1)));
    return 0;
}
