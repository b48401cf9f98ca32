// What the store's files share for talking SQL: binding and running
// statements, multi-row inserts, and the columns' forms of times, texts and
// UUIDs.
#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariant>

namespace zem::history::detail {

// The UTC day of a time in ms since the epoch, and of a date: days since 1970-01-01.
qint64 dayOf(qint64 ms);
qint64 dayOf(const QDate &date);
// A time column (ms since the epoch, UTC); invalid when NULL.
QDateTime fromMs(const QVariant &v);
// Text columns that may not be NULL take "" for a null string.
QString nonNull(const QString &s);
// A null string as SQL NULL.
QVariant nullable(const QString &s);
// A text column; a null string when NULL.
QString text(const QVariant &v);
QString uuidText(const QUuid &uuid);
// A run's untested points as stored: a JSON array, "" for none; anything
// else stored reads as none.
QString untestedText(const QStringList &names);
QStringList untestedNames(const QVariant &v);
// "(?, ?), (?, ?)" for rows of columns.
QString placeholders(int columns, int rows);

// Whether the last statement that failed on this thread was cancelled by
// the server's statement or lock timeout.
bool timedOut();

// Runs a statement with its values bound in order; keeps the error.
bool exec(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error);
bool exec(QSqlDatabase db, const QString &sql, const QVariantList &values, QString *error);

// One multi-row INSERT statement after another, each prepared once for its
// number of rows. sql has %1 where the rows' placeholders go.
class RowInserter
{
public:
    RowInserter(QSqlDatabase db, QString sql, int columns);
    // values holds whole rows of columns.
    bool insert(const QVariantList &values, QString *error);

private:
    QSqlQuery query_;
    QString sql_;
    int columns_;
    int prepared_ = 0;
};

} // namespace zem::history::detail
