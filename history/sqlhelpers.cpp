#include "sqlhelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QStringList>

namespace zem::history::detail {

namespace {

constexpr qint64 kMsPerDay = 86'400'000;

thread_local bool lastTimedOut = false;

// Keeps a failed statement's error; false.
bool failed(const QSqlQuery &q, QString *error)
{
    const QSqlError e = q.lastError();
    // PostgreSQL's query_canceled (statement_timeout) and lock_not_available
    // (lock_timeout).
    lastTimedOut = e.nativeErrorCode() == QLatin1String("57014")
        || e.nativeErrorCode() == QLatin1String("55P03");
    *error = e.text();
    return false;
}

} // namespace

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

QString untestedText(const QStringList &names)
{
    return names.isEmpty()
        ? QStringLiteral("")
        : QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact));
}

QStringList untestedNames(const QVariant &v)
{
    QStringList names;
    for (const QJsonValue name : QJsonDocument::fromJson(v.toString().toUtf8()).array())
        if (name.isString())
            names << name.toString();
    return names;
}

QString placeholders(int columns, int rows)
{
    const QString row = '(' + QStringLiteral("?, ").repeated(columns - 1) + QStringLiteral("?)");
    QStringList all;
    for (int r = 0; r < rows; ++r)
        all << row;
    return all.join(QStringLiteral(", "));
}

bool timedOut()
{
    return lastTimedOut;
}

bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error)
{
    q.setForwardOnly(true);
    // Statements without values go as they are: PostgreSQL cannot prepare
    // BEGIN or COMMIT.
    if (values.isEmpty()) {
        return q.exec(sql) || failed(q, error);
    }
    if (!q.prepare(sql))
        return failed(q, error);
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec() || failed(q, error);
}

bool exec(QSqlDatabase db, const QString &sql, const QVariantList &values, QString *error)
{
    QSqlQuery q(db);
    return exec(q, sql, values, error);
}

RowInserter::RowInserter(QSqlDatabase db, QString sql, int columns)
    : query_(db)
    , sql_(std::move(sql))
    , columns_(columns)
{
}

bool RowInserter::insert(const QVariantList &values, QString *error)
{
    const int rows = int(values.size()) / columns_;
    if (rows != prepared_) {
        query_.setForwardOnly(true);
        if (!query_.prepare(sql_.arg(placeholders(columns_, rows))))
            return failed(query_, error);
        prepared_ = rows;
    }
    for (qsizetype k = 0; k < values.size(); ++k)
        query_.bindValue(int(k), values[k]);
    return query_.exec() || failed(query_, error);
}

} // namespace zem::history::detail
