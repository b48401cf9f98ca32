#include "schema.h"

#include "verdict.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>

namespace zem::history::schema {

namespace {

// Times are milliseconds since 1970 UTC and days are whole UTC days since
// 1970, the same integers in both engines. point_days keeps each board
// type's per point, per day counts, so the failure statistics read a few
// rows per point instead of every point ever stored; it is written in the
// same transaction as the run. %ID% and %BLOB% are the two types the
// engines spell differently.
const char *const kVersion1[] = {
    R"(CREATE TABLE runs (
        id %ID%,
        uuid VARCHAR(36) NOT NULL UNIQUE,
        board_type TEXT NOT NULL,
        board_serial TEXT NOT NULL,
        station TEXT NOT NULL,
        operator TEXT NOT NULL,
        started_ms BIGINT NOT NULL,
        finished_ms BIGINT,
        day INTEGER NOT NULL,
        verdict TEXT NOT NULL,
        signature TEXT NOT NULL,
        boards INTEGER NOT NULL,
        point_count INTEGER NOT NULL,
        failed_count INTEGER NOT NULL))",
    "CREATE INDEX runs_started ON runs (started_ms)",
    "CREATE INDEX runs_board ON runs (board_type, started_ms)",
    "CREATE INDEX runs_serial ON runs (board_serial, started_ms)",
    R"(CREATE TABLE points (
        run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
        position INTEGER NOT NULL,
        name TEXT NOT NULL,
        verdict TEXT NOT NULL,
        score DOUBLE PRECISION,
        tolerance DOUBLE PRECISION NOT NULL,
        cause_class TEXT,
        cause_text TEXT,
        reading TEXT NOT NULL,
        curve %BLOB% NOT NULL,
        PRIMARY KEY (run_id, position)))",
    "CREATE INDEX points_name ON points (name, run_id)",
    R"(CREATE TABLE point_days (
        board_type TEXT NOT NULL,
        name TEXT NOT NULL,
        day INTEGER NOT NULL,
        seen BIGINT NOT NULL,
        tested BIGINT NOT NULL,
        failed BIGINT NOT NULL,
        position_sum BIGINT NOT NULL,
        PRIMARY KEY (board_type, name, day)))",
};

// Every run tested against one signature is compared with the same
// reference curves: each is kept once, named by its curveDigest(), and a
// point names the one it was compared with (null for none, and for every
// point recorded before version 2).
const char *const kVersion2[] = {
    R"(CREATE TABLE reference_curves (
        digest VARCHAR(64) PRIMARY KEY,
        curve %BLOB% NOT NULL))",
    "ALTER TABLE points ADD COLUMN reference_digest VARCHAR(64) "
    "REFERENCES reference_curves (digest)",
};

// The read-only interface for dashboards and reports: views whose names and
// columns stay as docs/history.md lists them whatever later versions do to
// the tables beneath (zem_interface.version counts changes to them). Every
// view has a UTC "time": a timestamptz in PostgreSQL, ISO 8601 text with
// milliseconds in SQLite, which compares in time order as text. The engines'
// time expressions are %STARTED% (a run's start) and %DAY_START% (the start
// of its UTC day), over the columns of runs. %NOT_FAILING% lists the point
// verdicts that are no fault (sig::nonFaultyVerdictNames()) when the view is
// made, so a verdict added later fails in the views of every database
// already made; one that stops being a fault takes a migration that makes
// them again. The views run with their owner's rights in PostgreSQL, so a
// role granted them alone reads no table.
const char *const kVersion3[] = {
    "CREATE VIEW zem_interface AS SELECT 1 AS version",
    R"(CREATE VIEW zem_runs AS SELECT
        %STARTED% AS time, r.uuid AS run_id, r.board_type, r.board_serial AS serial,
        r.verdict, r.point_count AS points, r.failed_count AS failed, r.operator,
        r.station, r.signature, r.boards,
        CAST((r.finished_ms - r.started_ms) / 1000.0 AS DOUBLE PRECISION) AS duration_s
        FROM runs r)",
    R"(CREATE VIEW zem_points AS SELECT
        %STARTED% AS time, r.uuid AS run_id, r.board_type, r.board_serial AS serial,
        p.name AS point, p.position, p.verdict,
        CASE WHEN p.verdict NOT IN (%NOT_FAILING%) THEN 1 ELSE 0 END AS failing,
        p.score, p.tolerance, p.cause_class AS cause, p.cause_text, p.reading
        FROM points p JOIN runs r ON r.id = p.run_id)",
    // Times made once per day and board type, not once per run.
    R"(CREATE VIEW zem_yield_daily AS SELECT
        %DAY_START% AS time, board_type, runs, passed,
        CAST(passed AS DOUBLE PRECISION) / runs AS yield
        FROM (SELECT board_type, day, COUNT(*) AS runs,
            SUM(CASE WHEN verdict = 'pass' THEN 1 ELSE 0 END) AS passed
            FROM runs GROUP BY board_type, day) d)",
    R"(CREATE VIEW zem_point_failures AS SELECT
        %STARTED% AS time, r.board_type, p.name AS point, p.verdict,
        p.cause_class AS cause, p.cause_text, r.uuid AS run_id, r.board_serial AS serial
        FROM points p JOIN runs r ON r.id = p.run_id WHERE p.verdict NOT IN (%NOT_FAILING%))",
    // A time range in a view's "time" is a range in these: the engines find
    // a filter on an expression in an index on the same expression. A Pareto
    // reads the failing points only.
    "CREATE INDEX runs_time ON runs ((%STARTED%))",
    "CREATE INDEX runs_day_time ON runs ((%DAY_START%), board_type, day, verdict)",
    "CREATE INDEX points_failing ON points (run_id, name) WHERE verdict NOT IN (%NOT_FAILING%)",
};

// Points for information only, and what a partial run did not test and why
// it stopped: untested holds the names as a JSON array ('' for none). Rows
// kept before keep their verdicts: a no-contact or partial run says "fail".
// The point views and the index of the failing points are made again to
// leave information-only points out, names and columns as they were;
// PostgreSQL replaces a view in place, so what was granted on it stays.
const char *const kVersion4[] = {
    "ALTER TABLE points ADD COLUMN info INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE runs ADD COLUMN untested TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE runs ADD COLUMN stop_reason TEXT",
    "%SQLITE% DROP VIEW zem_points",
    R"(%REPLACE_VIEW% zem_points AS SELECT
        %STARTED% AS time, r.uuid AS run_id, r.board_type, r.board_serial AS serial,
        p.name AS point, p.position, p.verdict,
        CASE WHEN p.info = 0 AND p.verdict NOT IN (%NOT_FAILING%) THEN 1 ELSE 0 END AS failing,
        p.score, p.tolerance, p.cause_class AS cause, p.cause_text, p.reading
        FROM points p JOIN runs r ON r.id = p.run_id)",
    "%SQLITE% DROP VIEW zem_point_failures",
    R"(%REPLACE_VIEW% zem_point_failures AS SELECT
        %STARTED% AS time, r.board_type, p.name AS point, p.verdict,
        p.cause_class AS cause, p.cause_text, r.uuid AS run_id, r.board_serial AS serial
        FROM points p JOIN runs r ON r.id = p.run_id WHERE p.info = 0
        AND p.verdict NOT IN (%NOT_FAILING%))",
    "DROP INDEX points_failing",
    // The view's condition, for the engines use a partial index only for a
    // query whose condition implies the index's.
    "CREATE INDEX points_failing ON points (run_id, name) "
    "WHERE info = 0 AND verdict NOT IN (%NOT_FAILING%)",
};

// The SQL of a statement's placeholders in one engine; empty for one marked
// %SQLITE% in PostgreSQL.
QString expand(QString sql, bool postgres)
{
    if (sql.startsWith(QLatin1String("%SQLITE%")))
        sql = postgres ? QString() : sql.mid(8);
    QStringList passing;
    for (const QString &v : sig::nonFaultyVerdictNames())
        passing << QLatin1Char('\'') + v + QLatin1Char('\'');
    sql.replace(QLatin1String("%NOT_FAILING%"), passing.join(QLatin1String(", ")));
    sql.replace(QLatin1String("%REPLACE_VIEW%"),
        QLatin1String(postgres ? "CREATE OR REPLACE VIEW" : "CREATE VIEW"));
    sql.replace(QLatin1String("%STARTED%"),
        QLatin1String(postgres
                ? "to_timestamp(started_ms / 1000.0)"
                : "strftime('%Y-%m-%dT%H:%M:%fZ', started_ms / 1000.0, 'unixepoch')"));
    sql.replace(QLatin1String("%DAY_START%"),
        QLatin1String(postgres ? "to_timestamp(day * 86400)"
                               : "strftime('%Y-%m-%dT%H:%M:%fZ', day * 86400, 'unixepoch')"));
    sql.replace(QLatin1String("%ID%"),
        QLatin1String(postgres ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                               : "INTEGER PRIMARY KEY"));
    sql.replace(QLatin1String("%BLOB%"), QLatin1String(postgres ? "BYTEA" : "BLOB"));
    return sql;
}

struct Step
{
    const char *const *begin;
    const char *const *end;
};
// Step n brings a database from version n to n + 1; later versions append.
const Step kSteps[kVersion] = { { std::begin(kVersion1), std::end(kVersion1) },
    { std::begin(kVersion2), std::end(kVersion2) }, { std::begin(kVersion3), std::end(kVersion3) },
    { std::begin(kVersion4), std::end(kVersion4) } };

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = QStringLiteral("%1 (in: %2)").arg(q.lastError().text(), sql.simplified());
    return false;
}

} // namespace

int version(QSqlDatabase &db, QString *error)
{
    const QStringList tables = db.tables();
    if (!db.isOpen()) {
        *error = db.lastError().text();
        return -1;
    }
    if (!tables.contains(QStringLiteral("schema_version")))
        return 0;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
        *error = q.lastError().text();
        return -1;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

namespace {

QString tooNew(int have)
{
    return QStringLiteral("the history has schema version %1, newer than the %2 this build "
                          "knows: update zem-tools")
        .arg(have)
        .arg(kVersion);
}

// Inside the migration's transaction: reads the version again (another
// program may have migrated meanwhile) and applies the steps still missing.
bool applySteps(QSqlDatabase &db, bool postgres, int target, QString *error)
{
    if ((postgres && !exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(7013)"), error))
        || !exec(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
            error))
        return false;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
        *error = q.lastError().text();
        return false;
    }
    const int have = q.next() ? q.value(0).toInt() : 0;
    // SQLite drops nothing while a statement still reads.
    q.finish();
    if (have > kVersion) {
        *error = tooNew(have);
        return false;
    }
    for (int step = have; step < target; ++step) {
        for (auto s = kSteps[step].begin; s != kSteps[step].end; ++s) {
            const QString sql = expand(QString::fromLatin1(*s), postgres);
            if (!sql.isEmpty() && !exec(db, sql, error))
                return false;
        }
        QSqlQuery v(db);
        v.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        v.addBindValue(step + 1);
        if (!v.exec()) {
            *error = v.lastError().text();
            return false;
        }
    }
    return true;
}

} // namespace

bool migrate(QSqlDatabase &db, bool postgres, QString *error, int target)
{
    const int have = version(db, error);
    if (have < 0)
        return false;
    if (have > kVersion) {
        *error = tooNew(have);
        return false;
    }
    target = std::min(target, kVersion);
    if (have >= target)
        return true;
    // One migrating program at a time: SQLite's IMMEDIATE takes the write
    // lock at once, PostgreSQL's advisory lock is held until the commit.
    if (!exec(db, QLatin1String(postgres ? "BEGIN" : "BEGIN IMMEDIATE"), error))
        return false;
    if (applySteps(db, postgres, target, error) && exec(db, QStringLiteral("COMMIT"), error))
        return true;
    QString ignored;
    exec(db, QStringLiteral("ROLLBACK"), &ignored);
    return false;
}

} // namespace zem::history::schema
