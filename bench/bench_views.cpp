// Figures of the history's views as dashboards read them: every query of the
// Grafana dashboard (packaging/grafana) over a history of 100,000 runs of 20
// points (ZEM_BENCH_HISTORY_RUNS sets the number), for the whole 100 days it
// spans and for its last 7. SQLite always; PostgreSQL too when ZEM_BENCH_PG
// names a server, e.g.
//   bash tests/history/with_postgres.sh sh -c 'ZEM_BENCH_PG=$ZEM_TEST_PG build/bench/bench_views'
// (it makes the database zem_bench_views there). Prints, asserts nothing.
#include "figure.h"

#include "store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <chrono>

using namespace zem::history;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPoints = 20;
constexpr int kDays = 100;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool run(QSqlDatabase &db, const QString &sql, int *rows = nullptr)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        std::fprintf(stderr, "bench_views: %s\n  in: %s\n", qPrintable(q.lastError().text()),
            qPrintable(sql));
        return false;
    }
    int n = 0;
    while (q.next())
        ++n;
    if (rows)
        *rows = n;
    return true;
}

// The runs in one statement each for runs and points, as a line would have
// recorded them: four board types, every ninth run failed with two of its
// points different.
bool fill(QSqlDatabase &db, bool postgres, int runs, qint64 firstMs)
{
    const qint64 step = qint64(kDays) * 86'400'000 / runs;
    const QString sequence
        = QStringLiteral("WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n "
                         "WHERE k < %1) ");
    const QString started = QStringLiteral("(%1 + CAST(k AS BIGINT) * %2)").arg(firstMs).arg(step);
    return run(db, QLatin1String(postgres ? "BEGIN" : "BEGIN IMMEDIATE"))
        && run(db,
            sequence.arg(runs - 1)
                + QStringLiteral(
                    "INSERT INTO runs (uuid, board_type, board_serial, station, operator, "
                    "started_ms, finished_ms, day, verdict, signature, boards, point_count, "
                    "failed_count) SELECT 'bench-' || k, 'bench' || (k % 4), 'SN' || (k % 1000), "
                    "'station', 'bench', %1, %1 + 90000, %1 / 86400000, "
                    "CASE WHEN k % 9 = 0 THEN 'fail' ELSE 'pass' END, 'bench.json', 1, %2, "
                    "CASE WHEN k % 9 = 0 THEN 2 ELSE 0 END FROM n")
                      .arg(started)
                      .arg(kPoints))
        && run(db,
            sequence.arg(kPoints - 1)
                + QStringLiteral(
                    "INSERT INTO points (run_id, position, name, verdict, score, tolerance, "
                    "cause_class, cause_text, reading, curve) SELECT r.id, k, 'R' || (k + 1), "
                    "CASE WHEN r.verdict = 'fail' AND (k * 7 + r.id) % %1 < 2 THEN 'different' "
                    "ELSE 'pass' END, 0.5 + (r.id * 31 + k) % 40 / 10.0, 10, NULL, NULL, "
                    "'resistor, 1.00 kOhm', %2 FROM runs r, n")
                      .arg(kPoints)
                      .arg(QLatin1String(postgres ? "''::bytea" : "x''")))
        && run(db, QStringLiteral("COMMIT"))
        // As the server's autovacuum leaves a table: its statistics and visibility.
        && run(db, QLatin1String(postgres ? "VACUUM ANALYZE" : "ANALYZE"));
}

// The dashboard's queries by panel title (and "$name" for its variables).
QList<std::pair<QString, QString>> dashboardQueries()
{
    QFile file(DASHBOARD);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll()).object();
    QList<std::pair<QString, QString>> queries;
    for (const QJsonValue panel : dashboard[QLatin1String("panels")].toArray())
        for (const QJsonValue target : panel[QLatin1String("targets")].toArray())
            queries.append({ panel[QLatin1String("title")].toString(),
                target[QLatin1String("rawSql")].toString() });
    for (const QJsonValue variable :
        dashboard[QLatin1String("templating")][QLatin1String("list")].toArray())
        if (variable[QLatin1String("type")] == QLatin1String("query"))
            queries.append({ QLatin1Char('$') + variable[QLatin1String("name")].toString(),
                variable[QLatin1String("query")].toString() });
    return queries;
}

QString isoMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

bool bench(const char *engine, QSqlDatabase &db, bool postgres, int runs)
{
    const qint64 firstMs = QDateTime::currentMSecsSinceEpoch() - qint64(kDays) * 86'400'000;
    const auto t0 = Clock::now();
    if (!fill(db, postgres, runs, firstMs))
        return false;
    char what[200];
    std::snprintf(
        what, sizeof what, "filling %d runs of %d points in bulk, %s", runs, kPoints, engine);
    figure(what, "-", "%.1f s", msSince(t0) / 1000);
    const auto queries = dashboardQueries();
    if (queries.isEmpty()) {
        std::fprintf(stderr, "bench_views: no queries in %s\n", DASHBOARD);
        return false;
    }
    const qint64 nowMs = firstMs + qint64(kDays) * 86'400'000;
    for (const int days : { kDays, 7 }) {
        const QString filter = QStringLiteral("time BETWEEN '%1' AND '%2'")
                                   .arg(isoMs(nowMs - qint64(days) * 86'400'000), isoMs(nowMs));
        for (auto [title, sql] : queries) {
            sql.replace(QLatin1String("$__timeFilter(time)"), filter);
            sql.replace(QLatin1String("$board"), QLatin1String("bench1"));
            sql.replace(QLatin1String("$point"), QLatin1String("R7"));
            double best = 1e30;
            int rows = 0;
            for (int round = 0; round < 3; ++round) {
                const auto t1 = Clock::now();
                if (!run(db, sql, &rows))
                    return false;
                best = std::min(best, msSince(t1));
            }
            std::snprintf(what, sizeof what, "dashboard: %s, %d days of %d runs, %s, best of 3",
                qPrintable(title), days, runs, engine);
            const bool yield = title.startsWith(QLatin1String("Yield"));
            figure(what, yield ? "< 200 ms" : "-", "%.1f ms (%d rows)", best, rows);
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS") > 0
        ? qEnvironmentVariableIntValue("ZEM_BENCH_HISTORY_RUNS")
        : 100000;
    // In memory where there is a tmpfs: what is timed is the queries.
    QTemporaryDir shm(QStringLiteral("/dev/shm/zem-bench-XXXXXX"));
    QTemporaryDir dir;
    const QString file = (shm.isValid() ? shm : dir).filePath(QStringLiteral("views.sqlite"));
    bool ok = true;
    {
        Store store; // makes the schema and its views
        if (!store.open(*parseLocation(file, nullptr))) {
            std::fprintf(stderr, "bench_views: %s\n", qPrintable(store.errorString()));
            return 1;
        }
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "sqlite");
        db.setDatabaseName(file);
        ok = db.open() && bench(shm.isValid() ? "SQLite on tmpfs" : "SQLite", db, false, runs);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("sqlite"));
    if (!ok || !qEnvironmentVariableIsSet("ZEM_BENCH_PG"))
        return ok ? 0 : 1;

    QString error;
    const auto server = parseLocation(qEnvironmentVariable("ZEM_BENCH_PG"), &error);
    if (!server) {
        std::fprintf(stderr, "bench_views: ZEM_BENCH_PG: %s\n", qPrintable(error));
        return 1;
    }
    Location where = *server;
    where.database = QStringLiteral("zem_bench_views");
    const auto connection = [](const Location &l, const char *name) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(l.host);
        db.setPort(l.port);
        db.setUserName(l.user);
        db.setDatabaseName(l.database);
        return db;
    };
    {
        QSqlDatabase admin = connection(*server, "admin");
        ok = admin.open() && run(admin, QStringLiteral("DROP DATABASE IF EXISTS zem_bench_views"))
            && run(admin, QStringLiteral("CREATE DATABASE zem_bench_views"));
        if (!ok)
            std::fprintf(stderr, "bench_views: %s\n", qPrintable(admin.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    if (!ok)
        return 1;
    {
        Store store;
        if (!store.open(where, dir.filePath(QStringLiteral("spool.sqlite"))) || !store.online()) {
            std::fprintf(stderr, "bench_views: %s\n", qPrintable(store.errorString()));
            return 1;
        }
    }
    {
        QSqlDatabase db = connection(where, "pg");
        ok = db.open() && bench("PostgreSQL", db, true, runs);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pg"));
    return ok ? 0 : 1;
}
