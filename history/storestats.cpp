// Statistics over the history: which points fail most, their scores over
// time, the good boards' scores, the order that finds failures first and
// the yield per day.
#include "store.h"

#include "sqlhelpers.h"

#include <QSqlError>

#include <algorithm>

namespace zem::history {

using namespace detail;

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
        return unreadable(error_);
    std::vector<PointStats> list;
    while (q.next()) {
        PointStats s;
        s.name = q.value(0).toString();
        s.tested = q.value(1).toLongLong();
        s.failed = q.value(2).toLongLong();
        s.rate = s.tested > 0 ? double(s.failed) / double(s.tested) : 0.0;
        list.push_back(std::move(s));
    }
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
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
        "SELECT r.started_ms, r.uuid, r.board_serial, p.score, p.tolerance, p.verdict "
        "FROM points p "
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
        return unreadable(error_);
    std::vector<ScoreSample> list;
    while (q.next())
        list.push_back(
            { fromMs(q.value(0)), QUuid::fromString(q.value(1).toString()), q.value(2).toString(),
                q.value(3).toDouble(), q.value(4).toDouble(), q.value(5).toString() });
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return list;
}

bool Store::goodScores(const QString &boardType, const std::function<void(const GoodScore &)> &take)
{
    if (!connect())
        return false;
    QSqlQuery q(database());
    if (!exec(q,
            QStringLiteral("SELECT p.name, p.score, p.tolerance, r.started_ms FROM runs r "
                           "JOIN points p ON p.run_id = r.id "
                           "WHERE r.board_type = ? AND r.verdict = 'pass' AND p.score IS NOT NULL"),
            { nonNull(boardType) }, &error_))
        return unreadable(error_), false;
    GoodScore s;
    while (q.next()) {
        s.point = q.value(0).toString();
        s.score = q.value(1).toDouble();
        s.tolerance = q.value(2).toDouble();
        s.startedMs = q.value(3).toLongLong();
        take(s);
    }
    if (q.lastError().isValid())
        return unreadable(q.lastError().text()), false;
    return true;
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
        return unreadable(error_);
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
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
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
        return unreadable(error_);
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
    if (q.lastError().isValid())
        return unreadable(q.lastError().text());
    return list;
}

} // namespace zem::history
