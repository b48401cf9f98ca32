#include "store.h"

#include "csvwriter.h"
#include "schema.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>

namespace zem::history {

namespace {

constexpr qint64 kMsPerDay = 86'400'000;
// Rows per INSERT: a server is asked in few round trips, within its limit on
// bound values; SQLite runs in the process, and Qt's SQLite driver binds
// values in time growing with the square of their count.
int rowsPerInsert(bool postgres)
{
    return postgres ? 50 : 1;
}
constexpr std::size_t kMaxCurve = 1'000'000;

qint64 dayOf(qint64 ms)
{
    return ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
}

qint64 dayOf(const QDate &date)
{
    return QDate(1970, 1, 1).daysTo(date);
}

QDateTime fromMs(const QVariant &v)
{
    return v.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(v.toLongLong(), Qt::UTC);
}

QString nonNull(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

QVariant nullable(const QString &s)
{
    return s.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
}

QString text(const QVariant &v)
{
    return v.isNull() ? QString() : v.toString();
}

QString uuidText(const QUuid &uuid)
{
    return uuid.toString(QUuid::WithoutBraces);
}

QString placeholders(int columns, int rows)
{
    const QString row = '(' + QStringLiteral("?, ").repeated(columns - 1) + QStringLiteral("?)");
    QStringList all;
    for (int r = 0; r < rows; ++r)
        all << row;
    return all.join(QStringLiteral(", "));
}

// A libpq connection parameter's value, quoted as libpq reads it.
QString quoted(QString value)
{
    value.replace('\\', QLatin1String("\\\\")).replace('\'', QLatin1String("\\'"));
    return '\'' + value + '\'';
}

struct Counts
{
    qint64 seen = 0, tested = 0, failed = 0, positionSum = 0;
};

// A run's contribution to point_days (sign -1 takes it back). Keyed by name
// in order, so concurrent writers lock the same rows in the same order.
QMap<QString, Counts> countsOf(const Run &run, int sign)
{
    QMap<QString, Counts> counts;
    for (std::size_t k = 0; k < run.points.size(); ++k) {
        const PointResult &p = run.points[k];
        Counts &c = counts[nonNull(p.name)];
        c.seen += sign;
        c.tested += isTested(p.verdict) ? sign : 0;
        c.failed += isFailure(p.verdict) ? sign : 0;
        c.positionSum += sign * qint64(k);
    }
    return counts;
}

QString invalid(const Run &run)
{
    if (run.uuid.isNull())
        return QStringLiteral("the run has no UUID");
    if (!run.started.isValid())
        return QStringLiteral("the run has no start time");
    for (const PointResult &p : run.points) {
        if (!std::isfinite(p.tolerance))
            return QStringLiteral("point '%1' has no tolerance").arg(p.name);
        if (std::max(
                { p.volts.size(), p.milliamps.size(), p.refVolts.size(), p.refMilliamps.size() })
            > kMaxCurve)
            return QStringLiteral("point '%1' has a curve of over %2 points")
                .arg(p.name)
                .arg(kMaxCurve);
    }
    return {};
}

// Runs a statement with its values bound in order; keeps the error.
bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error)
{
    q.setForwardOnly(true);
    // Statements without values go as they are: PostgreSQL cannot prepare
    // BEGIN or COMMIT.
    if (values.isEmpty()) {
        if (q.exec(sql))
            return true;
        *error = q.lastError().text();
        return false;
    }
    if (!q.prepare(sql)) {
        *error = q.lastError().text();
        return false;
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (q.exec())
        return true;
    *error = q.lastError().text();
    return false;
}

bool exec(QSqlDatabase db, const QString &sql, const QVariantList &values, QString *error)
{
    QSqlQuery q(db);
    return exec(q, sql, values, error);
}

// One multi-row INSERT statement after another, each prepared once for its
// number of rows.
class RowInserter
{
public:
    RowInserter(QSqlDatabase db, QString sql, int columns)
        : query_(db)
        , sql_(std::move(sql))
        , columns_(columns)
    {
    }
    bool insert(const QVariantList &values, QString *error)
    {
        const int rows = int(values.size()) / columns_;
        if (rows != prepared_) {
            query_.setForwardOnly(true);
            if (!query_.prepare(sql_.arg(placeholders(columns_, rows)))) {
                *error = query_.lastError().text();
                return false;
            }
            prepared_ = rows;
        }
        for (qsizetype k = 0; k < values.size(); ++k)
            query_.bindValue(int(k), values[k]);
        if (query_.exec())
            return true;
        *error = query_.lastError().text();
        return false;
    }

private:
    QSqlQuery query_;
    QString sql_;
    int columns_;
    int prepared_ = 0;
};

bool addCounts(QSqlDatabase db, bool postgres, const QString &boardType, qint64 day,
    const QMap<QString, Counts> &counts, QString *error)
{
    RowInserter upsert(db,
        QStringLiteral(
            "INSERT INTO point_days (board_type, name, day, seen, tested, failed, position_sum) "
            "VALUES %1 ON CONFLICT (board_type, name, day) DO UPDATE SET "
            "seen = point_days.seen + excluded.seen, "
            "tested = point_days.tested + excluded.tested, "
            "failed = point_days.failed + excluded.failed, "
            "position_sum = point_days.position_sum + excluded.position_sum"),
        7);
    for (auto it = counts.cbegin(); it != counts.cend();) {
        QVariantList values;
        for (int rows = 0; it != counts.cend() && rows < rowsPerInsert(postgres); ++it, ++rows)
            values << boardType << it.key() << day << it->seen << it->tested << it->failed
                   << it->positionSum;
        if (!upsert.insert(values, error))
            return false;
    }
    return true;
}

// Each reference curve once per database, in digest order: concurrent
// writers of one signature's runs wait for each other's rows in the same order.
bool addReferences(QSqlDatabase db, bool postgres,
    const QMap<QString, const PointResult *> &references, QString *error)
{
    RowInserter insert(db,
        QStringLiteral("INSERT INTO reference_curves (digest, curve) VALUES %1 "
                       "ON CONFLICT (digest) DO NOTHING"),
        2);
    for (auto it = references.cbegin(); it != references.cend();) {
        QVariantList values;
        for (int rows = 0; it != references.cend() && rows < rowsPerInsert(postgres); ++it, ++rows)
            values << it.key() << packCurve((*it)->refVolts, (*it)->refMilliamps);
        if (!insert.insert(values, error))
            return false;
    }
    return true;
}

QAtomicInt connections;

// The columns of a run as listed and as read whole, in this order.
const char kRunColumns[] = "uuid, board_type, board_serial, station, operator, started_ms, "
                           "finished_ms, verdict, signature, boards";
constexpr int kRunColumnCount = 10;

void readRunColumns(const QSqlQuery &q, Run *r)
{
    r->uuid = QUuid::fromString(q.value(0).toString());
    r->boardType = q.value(1).toString();
    r->boardSerial = q.value(2).toString();
    r->station = q.value(3).toString();
    r->operatorName = q.value(4).toString();
    r->started = fromMs(q.value(5));
    r->finished = fromMs(q.value(6));
    r->verdict = q.value(7).toString();
    r->signature = q.value(8).toString();
    r->boards = q.value(9).toInt();
}

} // namespace

Store::Store() = default;

Store::~Store()
{
    spool_.reset();
    if (!connection_.isEmpty()) {
        database().close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

QSqlDatabase Store::database() const
{
    return QSqlDatabase::database(connection_, false);
}

bool Store::fail(const QString &error)
{
    error_ = error;
    return false;
}

bool Store::open(const Location &where, const QString &spoolPath)
{
    spool_.reset();
    if (!connection_.isEmpty()) {
        database().close();
        QSqlDatabase::removeDatabase(connection_);
    }
    location_ = where;
    spoolPath_ = spoolPath;
    error_.clear();
    open_ = migrated_ = false;
    storedReferences_.clear();
    connection_ = QStringLiteral("zem_history_%1").arg(connections.fetchAndAddRelaxed(1));
    const char *driver = postgres() ? "QPSQL" : "QSQLITE";
    QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(driver), connection_);
    if (!db.isValid())
        return fail(QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                        .arg(QLatin1String(driver),
                            QLatin1String(postgres() ? "libqt6sql6-psql" : "libqt6sql6-sqlite")));
    if (!postgres()) {
        const QFileInfo file(where.path);
        if (!QDir().mkpath(file.absolutePath()))
            return fail(QStringLiteral("cannot create the folder %1").arg(file.absolutePath()));
        db.setDatabaseName(where.path);
        // Writers wait for each other instead of failing at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        if (!db.open())
            return fail(
                QStringLiteral("cannot open %1: %2").arg(where.path, db.lastError().text()));
        QString error;
        // WAL lets readers go on while a run is written.
        if (!exec(db, QStringLiteral("PRAGMA journal_mode = WAL"), {}, &error)
            || !exec(db, QStringLiteral("PRAGMA foreign_keys = ON"), {}, &error)
            || !schema::migrate(db, false, &error))
            return fail(QStringLiteral("%1: %2").arg(where.path, error));
        open_ = migrated_ = true;
        return true;
    }
    db.setHostName(where.host);
    db.setPort(where.port);
    db.setUserName(where.user);
    db.setDatabaseName(where.database);
    QStringList options;
    bool timeout = false;
    for (const auto &[key, value] : where.options) {
        options << key + '=' + quoted(value);
        timeout = timeout || key == QLatin1String("connect_timeout");
    }
    // A host that does not answer sends the run to the spool within seconds.
    if (!timeout)
        options << QStringLiteral("connect_timeout=5");
    db.setConnectOptions(options.join(' '));
    open_ = true;
    if (!db.open()) {
        error_ = QStringLiteral("cannot reach %1: %2")
                     .arg(where.text(), db.lastError().text().trimmed());
        return true; // offline: runs go to the spool until the server answers
    }
    QString error;
    if (!schema::migrate(db, true, &error)) {
        db.close();
        open_ = false;
        return fail(QStringLiteral("%1: %2").arg(where.text(), error));
    }
    migrated_ = true;
    return true;
}

bool Store::online() const
{
    return open_ && migrated_ && database().isOpen();
}

bool Store::connect()
{
    if (!open_)
        return fail(QStringLiteral("the history is not open"));
    QSqlDatabase db = database();
    if (db.isOpen() && migrated_) {
        // A server that restarted left this connection dead: ask it, and
        // connect again when it does not answer.
        QSqlQuery ping(db);
        if (!postgres() || ping.exec(QStringLiteral("SELECT 1")))
            return true;
    }
    db.close();
    migrated_ = false;
    if (!db.open())
        return fail(QStringLiteral("cannot reach %1: %2")
                        .arg(location_.text(), db.lastError().text().trimmed()));
    QString error;
    if (!schema::migrate(db, postgres(), &error)) {
        db.close();
        return fail(QStringLiteral("%1: %2").arg(location_.text(), error));
    }
    migrated_ = true;
    return true;
}

Store *Store::spool(bool create)
{
    if (spool_ || (!create && !QFileInfo::exists(spoolPath_)))
        return spool_.get();
    Location local;
    local.path = spoolPath_;
    spool_ = std::make_unique<Store>();
    if (spool_->open(local))
        return spool_.get();
    error_ = QStringLiteral("the spool: %1").arg(spool_->errorString());
    spool_.reset();
    return nullptr;
}

Store::Outcome Store::record(const Run &run)
{
    error_ = invalid(run);
    if (!error_.isEmpty())
        return Outcome::Failed;
    if (!open_) {
        error_ = QStringLiteral("the history is not open");
        return Outcome::Failed;
    }
    if (!postgres())
        return write(run);
    bool reached = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        reached = connect();
        if (!reached)
            break;
        const Outcome outcome = write(run);
        if (outcome != Outcome::Failed)
            return outcome;
        // The server may have gone away with the connection: a new one tells.
        database().close();
    }
    if (reached)
        return Outcome::Failed;
    const QString why = error_;
    Store *local = spool(true);
    if (!local || local->write(run) == Outcome::Failed) {
        error_ = QStringLiteral("%1; %2").arg(why, local ? local->errorString() : error_);
        return Outcome::Failed;
    }
    error_ = why;
    return Outcome::Spooled;
}

Store::Outcome Store::write(const Run &run)
{
    QSqlDatabase db = database();
    const qint64 started = run.started.toMSecsSinceEpoch();
    const qint64 day = dayOf(started);
    const int failed = int(std::count_if(run.points.begin(), run.points.end(),
        [](const PointResult &p) { return isFailure(p.verdict); }));
    // Every write below is one transaction: a run is there whole or not at all.
    if (!exec(db, QLatin1String(postgres() ? "BEGIN" : "BEGIN IMMEDIATE"), {}, &error_))
        return Outcome::Failed;
    const auto rollback = [&](Outcome outcome) {
        QString ignored;
        exec(db, QStringLiteral("ROLLBACK"), {}, &ignored);
        // Whatever failed, the retry finds out afresh what is stored.
        if (outcome == Outcome::Failed)
            storedReferences_.clear();
        return outcome;
    };
    QSqlQuery insert(db);
    if (!exec(insert,
            QStringLiteral("INSERT INTO runs (uuid, board_type, board_serial, station, operator, "
                           "started_ms, finished_ms, day, verdict, signature, boards, point_count, "
                           "failed_count) VALUES %1 ON CONFLICT (uuid) DO NOTHING")
                .arg(placeholders(13, 1)),
            { uuidText(run.uuid), nonNull(run.boardType), nonNull(run.boardSerial),
                nonNull(run.station), nonNull(run.operatorName), started,
                run.finished.isValid() ? QVariant(run.finished.toMSecsSinceEpoch())
                                       : QVariant(QMetaType::fromType<qint64>()),
                day, nonNull(run.verdict), nonNull(run.signature), run.boards,
                int(run.points.size()), failed },
            &error_))
        return rollback(Outcome::Failed);
    if (insert.numRowsAffected() == 0)
        return rollback(Outcome::AlreadyStored);
    QSqlQuery id(db);
    if (!exec(id, QStringLiteral("SELECT id FROM runs WHERE uuid = ?"), { uuidText(run.uuid) },
            &error_)
        || !id.next())
        return rollback(Outcome::Failed);
    const qint64 runId = id.value(0).toLongLong();
    id.finish();
    std::vector<QString> digests(run.points.size()); // null: no reference
    QMap<QString, const PointResult *> references;
    for (std::size_t k = 0; k < run.points.size(); ++k) {
        const PointResult &p = run.points[k];
        if (p.refVolts.empty() && p.refMilliamps.empty())
            continue;
        digests[k] = curveDigest(p.refVolts, p.refMilliamps);
        if (!storedReferences_.contains(digests[k]))
            references.insert(digests[k], &p);
    }
    if (!addReferences(db, postgres(), references, &error_))
        return rollback(Outcome::Failed);
    RowInserter points(db,
        QStringLiteral("INSERT INTO points (run_id, position, name, verdict, score, tolerance, "
                       "cause_class, cause_text, reading, curve, reference_digest) VALUES %1"),
        11);
    const std::size_t perInsert = std::size_t(rowsPerInsert(postgres()));
    for (std::size_t first = 0; first < run.points.size(); first += perInsert) {
        QVariantList values;
        for (std::size_t k = first; k < std::min(first + perInsert, run.points.size()); ++k) {
            const PointResult &p = run.points[k];
            const bool scored = p.score && std::isfinite(*p.score);
            values << runId << qint64(k) << nonNull(p.name) << nonNull(p.verdict)
                   << (scored ? QVariant(*p.score) : QVariant(QMetaType::fromType<double>()))
                   << p.tolerance << nullable(p.causeClass) << nullable(p.causeText)
                   << nonNull(p.reading) << packCurve(p.volts, p.milliamps) << nullable(digests[k]);
        }
        if (!points.insert(values, &error_))
            return rollback(Outcome::Failed);
    }
    if (!addCounts(db, postgres(), nonNull(run.boardType), day, countsOf(run, 1), &error_)
        || !exec(db, QStringLiteral("COMMIT"), {}, &error_))
        return rollback(Outcome::Failed);
    if (storedReferences_.size() > 100'000)
        storedReferences_.clear(); // a bound on memory, not on correctness
    for (auto it = references.cbegin(); it != references.cend(); ++it)
        storedReferences_.insert(it.key());
    return Outcome::Stored;
}

// Reference curves stay behind: they are few (one per signature's point), and
// another program's store sharing the spool may count on them being there.
bool Store::remove(const QUuid &uuid)
{
    QSqlDatabase db = database();
    if (!exec(db, QLatin1String(postgres() ? "BEGIN" : "BEGIN IMMEDIATE"), {}, &error_))
        return false;
    const std::optional<Run> old = run(uuid);
    const QString key = uuidText(uuid);
    const bool ok = old
        && exec(db,
            QStringLiteral(
                "DELETE FROM points WHERE run_id = (SELECT id FROM runs WHERE uuid = ?)"),
            { key }, &error_)
        && exec(db, QStringLiteral("DELETE FROM runs WHERE uuid = ?"), { key }, &error_)
        && addCounts(db, postgres(), nonNull(old->boardType),
            dayOf(old->started.toMSecsSinceEpoch()), countsOf(*old, -1), &error_)
        && exec(db, QStringLiteral("DELETE FROM point_days WHERE seen <= 0"), {}, &error_)
        && exec(db, QStringLiteral("COMMIT"), {}, &error_);
    if (!ok) {
        QString ignored;
        exec(db, QStringLiteral("ROLLBACK"), {}, &ignored);
    }
    return ok;
}

Store::SyncResult Store::sync()
{
    SyncResult result;
    if (!open_ || !postgres()) {
        result.ok = open_;
        error_ = open_ ? QString() : QStringLiteral("the history is not open");
        return result;
    }
    error_.clear();
    Store *local = spool(false);
    if (!local) {
        result.ok = error_.isEmpty();
        return result;
    }
    std::optional<std::vector<RunSummary>> waiting = local->runs({});
    if (!waiting) {
        error_ = QStringLiteral("the spool: %1").arg(local->errorString());
        result.ok = false;
        result.waiting = -1;
        return result;
    }
    result.waiting = int(waiting->size());
    if (waiting->empty())
        return result;
    if (!connect()) {
        result.ok = false;
        return result;
    }
    // Oldest first. A run that reached the server is removed from the spool
    // after; should that fail, the next sync finds it there and only drops it.
    for (auto it = waiting->rbegin(); it != waiting->rend(); ++it) {
        const std::optional<Run> full = local->run(it->run.uuid);
        const Outcome outcome = full ? write(*full) : Outcome::Failed;
        if (!full)
            error_ = QStringLiteral("the spool: %1").arg(local->errorString());
        if (outcome == Outcome::Failed) {
            database().close();
            result.ok = false;
            break;
        }
        (outcome == Outcome::Stored ? result.uploaded : result.alreadyThere) += 1;
        if (!local->remove(it->run.uuid)) {
            error_ = QStringLiteral("the spool: %1").arg(local->errorString());
            result.ok = false;
            break;
        }
        --result.waiting;
    }
    return result;
}

int Store::waiting()
{
    if (!open_ || !postgres())
        return 0;
    error_.clear();
    Store *local = spool(false);
    if (!local)
        return error_.isEmpty() ? 0 : -1;
    QSqlQuery q(local->database());
    if (!exec(q, QStringLiteral("SELECT COUNT(*) FROM runs"), {}, &error_) || !q.next())
        return -1;
    return q.value(0).toInt();
}

std::optional<std::vector<RunSummary>> Store::runs(const RunFilter &filter)
{
    if (!connect())
        return std::nullopt;
    QString sql = QStringLiteral("SELECT %1, point_count, failed_count FROM runs WHERE 1 = 1")
                      .arg(QLatin1String(kRunColumns));
    QVariantList values;
    const auto where = [&](bool given, const char *condition, const QVariant &value) {
        if (given) {
            sql += QLatin1String(condition);
            values << value;
        }
    };
    where(!filter.boardType.isEmpty(), " AND board_type = ?", filter.boardType);
    where(!filter.boardSerial.isEmpty(), " AND board_serial = ?", filter.boardSerial);
    where(filter.since.isValid(), " AND started_ms >= ?", filter.since.toMSecsSinceEpoch());
    const VerdictKind kind = verdictKind(filter.verdict);
    if (!filter.verdict.isEmpty() && kind == VerdictKind::Unknown) {
        error_ = QStringLiteral("no verdict '%1': a run's is pass, fail or unstable, a point's "
                                "different or not_learned")
                     .arg(filter.verdict);
        return std::nullopt;
    }
    where(kind == VerdictKind::Run, " AND verdict = ?", filter.verdict);
    // Only failed runs can hold a different point; the count keeps the
    // search to them.
    where(kind == VerdictKind::Point,
        filter.verdict == QLatin1String("different")
            ? " AND failed_count > 0 AND EXISTS (SELECT 1 FROM points p WHERE p.run_id = runs.id "
              "AND p.verdict = ?)"
            : " AND EXISTS (SELECT 1 FROM points p WHERE p.run_id = runs.id AND p.verdict = ?)",
        filter.verdict);
    sql += QLatin1String(" ORDER BY started_ms DESC, id DESC");
    where(filter.limit >= 0, " LIMIT ?", filter.limit);
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return std::nullopt;
    std::vector<RunSummary> list;
    // Copied rather than built per row: a new Run makes a UUID and asks for
    // the host name.
    const RunSummary blank;
    while (q.next()) {
        RunSummary s = blank;
        readRunColumns(q, &s.run);
        s.pointCount = q.value(10).toInt();
        s.failedCount = q.value(11).toInt();
        list.push_back(std::move(s));
    }
    return list;
}

std::optional<Run> Store::run(const QUuid &uuid)
{
    if (!connect())
        return std::nullopt;
    QSqlQuery q(database());
    if (!exec(q,
            QStringLiteral("SELECT %1, id FROM runs WHERE uuid = ?")
                .arg(QLatin1String(kRunColumns)),
            { uuidText(uuid) }, &error_))
        return std::nullopt;
    if (!q.next()) {
        error_ = QStringLiteral("no run %1").arg(uuidText(uuid));
        return std::nullopt;
    }
    Run r;
    readRunColumns(q, &r);
    const qint64 id = q.value(kRunColumnCount).toLongLong();
    q.finish();
    if (!exec(q,
            QStringLiteral("SELECT p.name, p.verdict, p.score, p.tolerance, p.cause_class, "
                           "p.cause_text, p.reading, p.curve, r.curve FROM points p "
                           "LEFT JOIN reference_curves r ON r.digest = p.reference_digest "
                           "WHERE p.run_id = ? ORDER BY p.position"),
            { id }, &error_))
        return std::nullopt;
    while (q.next()) {
        PointResult p;
        p.name = q.value(0).toString();
        p.verdict = q.value(1).toString();
        if (!q.value(2).isNull())
            p.score = q.value(2).toDouble();
        p.tolerance = q.value(3).toDouble();
        p.causeClass = text(q.value(4));
        p.causeText = text(q.value(5));
        p.reading = q.value(6).toString();
        // A damaged curve reads as none rather than failing the whole run.
        unpackCurve(q.value(7).toByteArray(), &p.volts, &p.milliamps);
        unpackCurve(q.value(8).toByteArray(), &p.refVolts, &p.refMilliamps);
        r.points.push_back(std::move(p));
    }
    return r;
}

std::optional<std::vector<PointStats>> Store::pareto(const QString &boardType, const QDate &since)
{
    if (!connect())
        return std::nullopt;
    QString sql = QStringLiteral(
        "SELECT name, SUM(tested), SUM(failed) FROM point_days WHERE board_type = ?");
    QVariantList values { nonNull(boardType) };
    if (since.isValid()) {
        sql += QLatin1String(" AND day >= ?");
        values << dayOf(since);
    }
    sql += QLatin1String(" GROUP BY name");
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return std::nullopt;
    std::vector<PointStats> list;
    while (q.next()) {
        PointStats s;
        s.name = q.value(0).toString();
        s.tested = q.value(1).toLongLong();
        s.failed = q.value(2).toLongLong();
        s.rate = s.tested > 0 ? double(s.failed) / double(s.tested) : 0.0;
        list.push_back(std::move(s));
    }
    std::sort(list.begin(), list.end(), [](const PointStats &a, const PointStats &b) {
        if (a.failed != b.failed)
            return a.failed > b.failed;
        if (a.rate != b.rate)
            return a.rate > b.rate;
        return a.name < b.name;
    });
    return list;
}

std::optional<std::vector<ScoreSample>> Store::scores(
    const QString &boardType, const QString &point, const QDateTime &since)
{
    if (!connect())
        return std::nullopt;
    QString sql = QStringLiteral(
        "SELECT r.started_ms, r.uuid, r.board_serial, p.score, p.tolerance FROM points p "
        "JOIN runs r ON r.id = p.run_id "
        "WHERE p.name = ? AND r.board_type = ? AND p.score IS NOT NULL");
    QVariantList values { nonNull(point), nonNull(boardType) };
    if (since.isValid()) {
        sql += QLatin1String(" AND r.started_ms >= ?");
        values << since.toMSecsSinceEpoch();
    }
    sql += QLatin1String(" ORDER BY r.started_ms, r.id, p.position");
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return std::nullopt;
    std::vector<ScoreSample> list;
    while (q.next())
        list.push_back({ fromMs(q.value(0)), QUuid::fromString(q.value(1).toString()),
            q.value(2).toString(), q.value(3).toDouble(), q.value(4).toDouble() });
    return list;
}

std::optional<QStringList> Store::probeOrder(const QString &boardType)
{
    if (!connect())
        return std::nullopt;
    QSqlQuery q(database());
    if (!exec(q,
            QStringLiteral("SELECT name, SUM(seen), SUM(tested), SUM(failed), SUM(position_sum) "
                           "FROM point_days WHERE board_type = ? GROUP BY name"),
            { nonNull(boardType) }, &error_))
        return std::nullopt;
    struct Entry
    {
        QString name;
        double rate, position;
    };
    std::vector<Entry> entries;
    while (q.next()) {
        const double seen = q.value(1).toDouble(), tested = q.value(2).toDouble();
        entries.push_back({ q.value(0).toString(), tested > 0 ? q.value(3).toDouble() / tested : 0,
            seen > 0 ? q.value(4).toDouble() / seen : 0 });
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.rate != b.rate)
            return a.rate > b.rate;
        if (a.position != b.position)
            return a.position < b.position;
        return a.name < b.name;
    });
    QStringList names;
    for (const Entry &e : entries)
        names << e.name;
    return names;
}

std::optional<std::vector<DayYield>> Store::yieldPerDay(
    const QString &boardType, const QDate &since)
{
    if (!connect())
        return std::nullopt;
    QString sql = QStringLiteral(
        "SELECT board_type, day, COUNT(*), SUM(CASE WHEN verdict = 'pass' THEN 1 ELSE 0 END) "
        "FROM runs WHERE 1 = 1");
    QVariantList values;
    if (!boardType.isEmpty()) {
        sql += QLatin1String(" AND board_type = ?");
        values << boardType;
    }
    if (since.isValid()) {
        sql += QLatin1String(" AND day >= ?");
        values << dayOf(since);
    }
    sql += QLatin1String(" GROUP BY board_type, day ORDER BY board_type, day");
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return std::nullopt;
    std::vector<DayYield> list;
    while (q.next()) {
        DayYield y;
        y.boardType = q.value(0).toString();
        y.day = QDate(1970, 1, 1).addDays(q.value(1).toLongLong());
        y.runs = q.value(2).toInt();
        y.passed = q.value(3).toInt();
        y.yield = y.runs > 0 ? double(y.passed) / y.runs : 0.0;
        list.push_back(std::move(y));
    }
    return list;
}

namespace {

QString isoTime(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

bool Store::exportCsv(const RunFilter &filter, QIODevice *out)
{
    if (!out || !out->isWritable())
        return fail(QStringLiteral("nowhere to write the CSV to"));
    const std::optional<std::vector<RunSummary>> list = runs(filter);
    if (!list)
        return false;
    zem::files::CsvWriter csv;
    csv.line("uuid,started,finished,board_type,board_serial,station,operator,verdict,"
             "signature,boards,points,failed_points");
    const auto write = [&] {
        const std::string text = csv.take();
        return out->write(text.data(), qint64(text.size())) == qint64(text.size())
            || fail(QStringLiteral("cannot write the CSV: %1").arg(out->errorString()));
    };
    for (const RunSummary &s : *list) {
        const Run &r = s.run;
        const QStringList fields { uuidText(r.uuid), isoTime(r.started), isoTime(r.finished),
            r.boardType, r.boardSerial, r.station, r.operatorName, r.verdict, r.signature,
            QString::number(r.boards), QString::number(s.pointCount),
            QString::number(s.failedCount) };
        for (const QString &f : fields)
            csv.field(f.toStdString());
        csv.endRow();
        if (csv.size() > (1 << 16) && !write())
            return false;
    }
    return write();
}

} // namespace zem::history
