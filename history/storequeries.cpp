// Reading the history: runs as listed and whole.
#include "store.h"

#include "sqlhelpers.h"

#include <QSqlError>

#include <algorithm>

namespace zem::history {

using namespace detail;

namespace {

// The columns of a run as listed and as read whole, in this order.
const char kRunColumns[] = "uuid, board_type, board_serial, station, operator, started_ms, "
                           "finished_ms, verdict, signature, boards, untested, stop_reason";
constexpr int kRunColumnCount = 12;

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
    r->untested = untestedNames(q.value(10));
    r->stopReason = q.value(11).toString();
}

} // namespace

bool Store::runConditions(const RunFilter &filter, QString *sql, QVariantList *values)
{
    const auto where = [&](bool given, const char *condition, const QVariant &value) {
        if (given) {
            *sql += QLatin1String(condition);
            *values << value;
        }
    };
    where(!filter.boardType.isEmpty(), " AND board_type = ?", filter.boardType);
    where(!filter.boardSerial.isEmpty(), " AND board_serial = ?", filter.boardSerial);
    where(filter.since.isValid(), " AND started_ms >= ?", filter.since.toMSecsSinceEpoch());
    where(filter.until.isValid(), " AND started_ms < ?", filter.until.toMSecsSinceEpoch());
    const VerdictKind kind = verdictKind(filter.verdict);
    if (!filter.verdict.isEmpty() && kind == VerdictKind::Unknown) {
        error_ = QStringLiteral("no verdict '%1': a run's is pass, fail, unstable, no_contact or "
                                "partial, a point's different, not_learned or net_disagrees")
                     .arg(filter.verdict);
        return false;
    }
    where(kind == VerdictKind::Run, " AND verdict = ?", filter.verdict);
    // Points for information only select nothing: a run is found by what
    // judged it. Only failed runs can then hold a different point; the count
    // keeps the search to them.
    where(kind == VerdictKind::Point,
        filter.verdict == QLatin1String("different")
            ? " AND failed_count > 0 AND EXISTS (SELECT 1 FROM points p WHERE p.run_id = runs.id "
              "AND p.info = 0 AND p.verdict = ?)"
            : " AND EXISTS (SELECT 1 FROM points p WHERE p.run_id = runs.id AND p.info = 0 "
              "AND p.verdict = ?)",
        filter.verdict);
    return true;
}

std::optional<std::vector<RunSummary>> Store::runs(const RunFilter &filter)
{
    if (!connect())
        return std::nullopt;
    QString sql = QStringLiteral("SELECT %1, point_count, failed_count FROM runs WHERE 1 = 1")
                      .arg(QLatin1String(kRunColumns));
    QVariantList values;
    if (!runConditions(filter, &sql, &values))
        return std::nullopt;
    sql += QLatin1String(" ORDER BY started_ms DESC, id DESC");
    if (filter.limit >= 0) {
        sql += QLatin1String(" LIMIT ?");
        values << filter.limit;
    }
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return unreadable(error_);
    std::vector<RunSummary> list;
    // Copied rather than built per row: a new Run makes a UUID and asks for
    // the host name.
    const RunSummary blank;
    while (q.next()) {
        RunSummary s = blank;
        readRunColumns(q, &s.run);
        s.pointCount = q.value(kRunColumnCount).toInt();
        s.failedCount = q.value(kRunColumnCount + 1).toInt();
        list.push_back(std::move(s));
    }
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return list;
}

std::optional<std::vector<PointRow>> Store::points(const RunFilter &filter)
{
    if (!connect())
        return std::nullopt;
    QString runs
        = QStringLiteral("SELECT id, uuid, started_ms, board_serial FROM runs WHERE 1 = 1");
    QVariantList values;
    if (!runConditions(filter, &runs, &values))
        return std::nullopt;
    runs += QLatin1String(" ORDER BY started_ms DESC, id DESC");
    if (filter.limit >= 0) {
        runs += QLatin1String(" LIMIT ?");
        values << filter.limit;
    }
    const QString sql = QStringLiteral(
        "SELECT r.uuid, r.started_ms, r.board_serial, p.name, p.verdict, p.score, p.tolerance, "
        "p.cause_class, p.cause_text, p.info FROM points p JOIN (%1) r ON r.id = p.run_id "
        "ORDER BY r.started_ms DESC, r.id DESC, p.position")
                            .arg(runs);
    QSqlQuery q(database());
    if (!exec(q, sql, values, &error_))
        return unreadable(error_);
    std::vector<PointRow> list;
    while (q.next()) {
        PointRow p;
        p.run = QUuid::fromString(q.value(0).toString());
        p.started = fromMs(q.value(1));
        p.boardSerial = q.value(2).toString();
        p.name = q.value(3).toString();
        p.verdict = q.value(4).toString();
        if (!q.value(5).isNull())
            p.score = q.value(5).toDouble();
        p.tolerance = q.value(6).toDouble();
        p.causeClass = text(q.value(7));
        p.causeText = text(q.value(8));
        p.info = q.value(9).toInt() != 0;
        list.push_back(std::move(p));
    }
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return list;
}

std::optional<Run> Store::run(const QUuid &uuid)
{
    return read(uuid, nullptr);
}

std::optional<Run> Store::read(const QUuid &uuid, bool *absent)
{
    if (absent)
        *absent = false;
    if (!connect())
        return std::nullopt;
    QSqlQuery q(database());
    if (!exec(q,
            QStringLiteral("SELECT %1, id FROM runs WHERE uuid = ?")
                .arg(QLatin1String(kRunColumns)),
            { uuidText(uuid) }, &error_))
        return unreadable(error_);
    if (!q.next()) {
        if (q.lastError().isValid())
            return unreadable(q.lastError().text());
        if (absent)
            *absent = true;
        error_ = QStringLiteral("no run %1").arg(uuidText(uuid));
        return std::nullopt;
    }
    Run r;
    readRunColumns(q, &r);
    const qint64 id = q.value(kRunColumnCount).toLongLong();
    q.finish();
    if (!exec(q,
            QStringLiteral("SELECT p.name, p.verdict, p.score, p.tolerance, p.cause_class, "
                           "p.cause_text, p.reading, p.curve, r.curve, p.info FROM points p "
                           "LEFT JOIN reference_curves r ON r.digest = p.reference_digest "
                           "WHERE p.run_id = ? ORDER BY p.position"),
            { id }, &error_))
        return unreadable(error_);
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
        p.info = q.value(9).toInt() != 0;
        // An empty blob is no curve; one that does not unpack is damage,
        // which a run shown without it would hide.
        const QByteArray curve = q.value(7).toByteArray(), reference = q.value(8).toByteArray();
        if ((!curve.isEmpty() && !unpackCurve(curve, &p.volts, &p.milliamps))
            || (!reference.isEmpty() && !unpackCurve(reference, &p.refVolts, &p.refMilliamps))) {
            error_ = QStringLiteral("%1: run %2, point '%3' (number %4): its curve is damaged")
                         .arg(location_.text(), uuidText(uuid), p.name)
                         .arg(r.points.size() + 1);
            return std::nullopt;
        }
        r.points.push_back(std::move(p));
    }
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return r;
}

std::nullopt_t Store::unreadable(const QString &why)
{
    error_ = postgres()
        ? QStringLiteral("%1: %2").arg(location_.text(), why)
        : QStringLiteral("%1 cannot be read: %2; the file may be damaged: check it with "
                         "sqlite3 '%1' 'PRAGMA integrity_check'")
              .arg(location_.path, why);
    return std::nullopt;
}

std::optional<QStringList> Store::boardTypes()
{
    if (!connect())
        return std::nullopt;
    QSqlQuery q(database());
    // runs_board starts with the board type, so the engines can answer from the index.
    if (!exec(q, QStringLiteral("SELECT DISTINCT board_type FROM runs ORDER BY board_type"), {},
            &error_))
        return unreadable(error_);
    QStringList types;
    while (q.next())
        types << q.value(0).toString();
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return types;
}

std::optional<std::vector<QUuid>> Store::runsWithPrefix(const QString &prefix)
{
    if (!connect())
        return std::nullopt;
    const QString lower = prefix.toLower();
    // Only hex digits and dashes reach LIKE, so the prefix holds no wildcard;
    // anything else matches no UUID.
    const bool uuidLike = std::all_of(lower.begin(), lower.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || c == QLatin1Char('-');
    });
    std::vector<QUuid> found;
    if (!uuidLike || lower.size() > 36)
        return found;
    QSqlQuery q(database());
    if (!exec(q,
            QStringLiteral(
                "SELECT uuid FROM runs WHERE uuid LIKE ? ORDER BY started_ms DESC, id DESC"),
            { lower + QLatin1Char('%') }, &error_))
        return unreadable(error_);
    while (q.next())
        found.push_back(QUuid::fromString(q.value(0).toString()));
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return found;
}

} // namespace zem::history
