// Figures of the test history: recording a run, the queries over a large
// history and the bytes a run takes. SQLite always; PostgreSQL too when
// ZEM_BENCH_PG names a database for it (it records runs of board type
// "bench" there). ZEM_BENCH_HISTORY_RUNS sets the large history's size
// (default 100,000). Prints, asserts nothing.
#include "figure.h"

#include "benchruns.h"
#include "store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>

using namespace zem::history;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Records runs and prints the best and mean time of one.
bool recording(const char *engine, Store &store, int runs)
{
    const Run blank = blankRun();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    double best = 1e30, total = 0;
    for (int k = 0; k < runs; ++k) {
        const Run run = makeRun(blank, k, 100, now.addSecs(k));
        const auto t0 = Clock::now();
        if (store.record(run) != Store::Outcome::Stored) {
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(store.errorString()));
            return false;
        }
        const double ms = msSince(t0);
        best = std::min(best, ms);
        total += ms;
    }
    char what[160];
    std::snprintf(what, sizeof what,
        "recording a 50-point run, 100-point curves and references, %s: best / mean of %d", engine,
        runs);
    figure(what, "-", "%.2f / %.2f ms", best, total / runs);
    return true;
}

void bytesPerRun(const char *engine, qint64 before, qint64 after, int runs)
{
    char what[160];
    std::snprintf(what, sizeof what,
        "bytes stored per 50-point run (100-point curves, shared references), %s", engine);
    figure(what, "-", "%lld bytes", (long long)((after - before) / runs));
}

qint64 postgresBytes(Store &store)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench_size");
    const Location &l = store.location();
    db.setHostName(l.host);
    db.setPort(l.port);
    db.setUserName(l.user);
    db.setDatabaseName(l.database);
    qint64 size = -1;
    if (db.open()) {
        QSqlQuery q(db);
        if (q.exec("SELECT pg_database_size(current_database())") && q.next())
            size = q.value(0).toLongLong();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("bench_size");
    return size;
}

// Best of three, in milliseconds.
template <class F> double best3(F &&f)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, msSince(t0));
    }
    return best;
}

// A large history, recorded run by run as stations do (curves of 2 points
// to keep it small; the queries do not read them), then the queries that
// lists and charts make, each wanted within a fifth of a second.
bool largeHistory(const char *engine, Store &store, int large)
{
    const Run blank = blankRun();
    const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-100);
    const auto t0 = Clock::now();
    for (int k = 0; k < large; ++k) {
        if (store.record(makeRun(blank, k, 2, first.addSecs(qint64(k) * 86400 * 100 / large)))
            != Store::Outcome::Stored) {
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(store.errorString()));
            return false;
        }
    }
    char what[160];
    std::snprintf(
        what, sizeof what, "recording %d runs of 50 points one by one, %s", large, engine);
    figure(what, "-", "%.1f s (%.2f ms a run)", msSince(t0) / 1000, msSince(t0) / large);

    std::size_t rows = 0;
    const auto query = [&](const char *name, auto &&f, const char *target = "< 200 ms") {
        std::snprintf(what, sizeof what, "%s over %d runs, %s, best of 3", name, large, engine);
        const double ms = best3([&] { rows = f(); });
        figure(what, target, "%.1f ms (%zu rows)", ms, rows);
    };
    query("runs of a board type, newest 100", [&] {
        return store.runs({ "bench", {}, {}, {}, 100, {} })->size();
    });
    query("runs of one serial", [&] { return store.runs({ {}, "SN0042", {}, {}, -1, {} })->size(); });
    query("failed runs of the last 10 days", [&] {
        return store.runs({ {}, {}, first.addDays(90), "fail", -1, {} })->size();
    });
    query("runs with a different point of the last 10 days", [&] {
        return store.runs({ {}, {}, first.addDays(90), "different", -1, {} })->size();
    });
    query("points Pareto of a board type", [&] { return store.pareto("bench")->size(); });
    query("probe order of a board type", [&] { return store.probeOrder("bench")->size(); });
    // Every run's score of one point: a chart of 100,000 samples.
    query(
        "a point's scores (drift)", [&] { return store.scores("bench", "R7")->size(); }, "-");
    query("yield per board type and day", [&] { return store.yieldPerDay()->size(); });
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int runs = 200;
    const QString file = dir.filePath("history.sqlite");
    // Sizes with the store closed, when SQLite has folded its log into the file.
    const auto sqliteBytes = [&] {
        Store store;
        if (!store.open(*parseLocation(file, nullptr)))
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(store.errorString()));
        return QFileInfo(file).size();
    };
    const qint64 empty = sqliteBytes();
    {
        Store store;
        if (!store.open(*parseLocation(file, nullptr)) || !recording("SQLite", store, runs))
            return 1;
    }
    bytesPerRun("SQLite", empty, sqliteBytes(), runs);
    if (qEnvironmentVariableIsSet("ZEM_BENCH_PG")) {
        QString error;
        const auto where = parseLocation(qEnvironmentVariable("ZEM_BENCH_PG"), &error);
        Store store;
        if (!where || !store.open(*where, dir.filePath("spool.sqlite")) || !store.online()) {
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(error + store.errorString()));
        } else {
            const qint64 before = postgresBytes(store);
            if (recording("PostgreSQL", store, runs))
                bytesPerRun("PostgreSQL", before, postgresBytes(store), runs);
        }
    }

    const int large = qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS") > 0
        ? qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS")
        : 100000;
    // In memory where there is a tmpfs: what is timed is the queries.
    QTemporaryDir shm(QStringLiteral("/dev/shm/zem-bench-XXXXXX"));
    Store sqlite;
    sqlite.open(*parseLocation((shm.isValid() ? shm : dir).filePath("large.sqlite"), nullptr));
    if (!largeHistory(shm.isValid() ? "SQLite on tmpfs" : "SQLite", sqlite, large))
        return 1;
    if (qEnvironmentVariableIsSet("ZEM_BENCH_PG")) {
        // A database of its own, so that the figures are of these runs only.
        const auto where = parseLocation(qEnvironmentVariable("ZEM_BENCH_PG"), nullptr);
        Location large_ = *where;
        large_.database = QStringLiteral("zem_bench_large");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench_admin");
            db.setHostName(where->host);
            db.setPort(where->port);
            db.setUserName(where->user);
            db.setDatabaseName(where->database);
            if (db.open()) {
                QSqlQuery(db).exec("DROP DATABASE IF EXISTS zem_bench_large");
                QSqlQuery(db).exec("CREATE DATABASE zem_bench_large");
            }
        }
        QSqlDatabase::removeDatabase("bench_admin");
        Store pg;
        if (!pg.open(large_, dir.filePath("spool-large.sqlite")) || !pg.online()) {
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(pg.errorString()));
            return 1;
        }
        if (!largeHistory("PostgreSQL", pg, large))
            return 1;
    }
    return 0;
}
