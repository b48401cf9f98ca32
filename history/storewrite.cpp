// Recording a run: whole or not at all, each exactly once, with the counts
// the failure statistics read; and taking one back out of the spool.
#include "store.h"

#include "sqlhelpers.h"

#include <QMap>

#include <algorithm>
#include <cmath>

namespace zem::history {

using namespace detail;

namespace {

// Rows per INSERT: a server is asked in few round trips, within its limit on
// bound values; SQLite runs in the process, and Qt's SQLite driver binds
// values in time growing with the square of their count.
int rowsPerInsert(bool postgres)
{
    return postgres ? 50 : 1;
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
        c.failed += isFailure(p.verdict, p.info) ? sign : 0;
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
            > kMaxCurvePoints)
            return QStringLiteral("point '%1' has a curve of over %2 points")
                .arg(p.name)
                .arg(kMaxCurvePoints);
    }
    return {};
}

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

} // namespace

Store::Outcome Store::record(const Run &run)
{
    error_ = invalid(run);
    if (!error_.isEmpty())
        return Outcome::Failed;
    if (!open_ || readOnly_) {
        error_ = QLatin1String(
            open_ ? "the history is open for reading only" : "the history is not open");
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
        // A server busy past the timeout (a table locked) keeps the run no
        // sooner on a second try: it waits in the spool.
        if (timedOut()) {
            error_ = QStringLiteral("%1 did not answer within %2 s: %3")
                         .arg(location_.text())
                         .arg(location_.timeoutMs / 1000.0)
                         .arg(error_.trimmed());
            reached = false;
            break;
        }
        // The server may have gone away with the connection: a new one tells.
        database().close();
    }
    // A server that answered but would not take the run (a name it cannot
    // store) loses it no less than one away: the run waits in the spool,
    // where it stays until the server takes it.
    const QString why = reached ? QStringLiteral("%1 refused the run: %2")
                                      .arg(location_.text(), error_.trimmed())
                                : error_;
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
        [](const PointResult &p) { return isFailure(p.verdict, p.info); }));
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
                           "failed_count, untested, stop_reason) VALUES %1 "
                           "ON CONFLICT (uuid) DO NOTHING")
                .arg(placeholders(15, 1)),
            { uuidText(run.uuid), nonNull(run.boardType), nonNull(run.boardSerial),
                nonNull(run.station), nonNull(run.operatorName), started,
                run.finished.isValid() ? QVariant(run.finished.toMSecsSinceEpoch())
                                       : QVariant(QMetaType::fromType<qint64>()),
                day, nonNull(run.verdict), nonNull(run.signature), run.boards,
                int(run.points.size()), failed, untestedText(run.untested),
                run.stopReason.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                         : QVariant(run.stopReason) },
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
                       "cause_class, cause_text, reading, curve, reference_digest, info) "
                       "VALUES %1"),
        12);
    const std::size_t perInsert = std::size_t(rowsPerInsert(postgres()));
    for (std::size_t first = 0; first < run.points.size(); first += perInsert) {
        QVariantList values;
        for (std::size_t k = first; k < std::min(first + perInsert, run.points.size()); ++k) {
            const PointResult &p = run.points[k];
            const bool scored = p.score && std::isfinite(*p.score);
            values << runId << qint64(k) << nonNull(p.name) << nonNull(p.verdict)
                   << (scored ? QVariant(*p.score) : QVariant(QMetaType::fromType<double>()))
                   << p.tolerance << nullable(p.causeClass) << nullable(p.causeText)
                   << nonNull(p.reading) << packCurve(p.volts, p.milliamps) << nullable(digests[k])
                   << int(p.info);
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
    bool absent = false;
    const std::optional<Run> old = read(uuid, &absent);
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
    // Another sync of the same spool may have taken it out already.
    return ok || absent;
}

} // namespace zem::history
