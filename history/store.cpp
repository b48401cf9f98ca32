// Opening the history, reconnecting to a server, and the spool that holds
// runs while the server is away.
#include "store.h"

#include "schema.h"
#include "sqlhelpers.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QUrl>

namespace zem::history {

using namespace detail;

namespace {

// A libpq connection parameter's value, quoted as libpq reads it.
QString quoted(QString value)
{
    value.replace('\\', QLatin1String("\\\\")).replace('\'', QLatin1String("\\'"));
    return '\'' + value + '\'';
}

QAtomicInt connections;

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

bool Store::open(const Location &where, const QString &spoolPath, Access access)
{
    spool_.reset();
    if (!connection_.isEmpty()) {
        database().close();
        QSqlDatabase::removeDatabase(connection_);
    }
    location_ = where;
    spoolPath_ = spoolPath;
    error_.clear();
    open_ = migrated_ = readOnly_ = false;
    storedReferences_.clear();
    connection_ = QStringLiteral("zem_history_%1").arg(connections.fetchAndAddRelaxed(1));
    const char *driver = postgres() ? "QPSQL" : "QSQLITE";
    QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(driver), connection_);
    if (!db.isValid())
        return fail(QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                        .arg(QLatin1String(driver),
                            QLatin1String(postgres() ? "libqt6sql6-psql" : "libqt6sql6-sqlite")));
    if (!postgres())
        return openSqlite(db, access);
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
    QString error;
    if (!db.open() || !limitWaits(db, &error)) {
        error_
            = QStringLiteral("cannot reach %1: %2")
                  .arg(where.text(), (error.isEmpty() ? db.lastError().text() : error).trimmed());
        db.close();
        return true; // offline: runs go to the spool until the server answers
    }
    if (!schema::migrate(db, true, &error)) {
        db.close();
        open_ = false;
        return fail(QStringLiteral("%1: %2").arg(where.text(), error));
    }
    migrated_ = true;
    return true;
}

bool Store::openSqlite(QSqlDatabase &db, Access access)
{
    const QString &path = location_.path;
    const QFileInfo file(path);
    // SQLite would put its journal next to a device, e.g. /dev/null-journal.
    if (file.exists() && !file.isFile())
        return fail(
            QStringLiteral("%1 is not a regular file, as a SQLite history must be").arg(path));
    if (access == Access::Read && file.exists()) {
        // Where no journal can be made next to the file, nothing can change
        // it while it is read, and SQLite can only read a WAL file's pages
        // when told so.
        const bool fixed = !QFileInfo(file.absolutePath()).isWritable()
            && !QFileInfo::exists(path + QStringLiteral("-wal"));
        db.setDatabaseName(fixed
                ? QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded)
                    + QStringLiteral("?immutable=1")
                : path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=30000")
            + QLatin1String(fixed ? ";QSQLITE_OPEN_URI" : ""));
        if (!db.open())
            return fail(QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text()));
        QString error;
        const int have = schema::version(db, &error);
        if (have < 0) {
            unreadable(error);
            return false;
        }
        if (have >= schema::kVersion) {
            if (!schema::migrate(db, false, &error)) // refuses a newer schema
                return fail(QStringLiteral("%1: %2").arg(path, error));
            open_ = migrated_ = readOnly_ = true;
            return true;
        }
        // An older schema is brought up to date first, which takes writing.
        db.close();
    }
    if (!QDir().mkpath(file.absolutePath()))
        return fail(QStringLiteral("cannot create the folder %1").arg(file.absolutePath()));
    db.setDatabaseName(path);
    // Writers wait for each other instead of failing at once.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    if (!db.open())
        return fail(QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text()));
    QString error;
    // WAL lets readers go on while a run is written.
    if (!exec(db, QStringLiteral("PRAGMA journal_mode = WAL"), {}, &error)
        || !exec(db, QStringLiteral("PRAGMA foreign_keys = ON"), {}, &error)
        || !schema::migrate(db, false, &error))
        return fail(QStringLiteral("%1: %2").arg(path, error));
    open_ = migrated_ = true;
    return true;
}

bool Store::limitWaits(QSqlDatabase &db, QString *error)
{
    const QString ms = QString::number(location_.timeoutMs);
    return exec(db, QStringLiteral("SET statement_timeout = ") + ms, {}, error)
        && exec(db, QStringLiteral("SET lock_timeout = ") + ms, {}, error);
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
    if ((postgres() && !limitWaits(db, &error)) || !schema::migrate(db, postgres(), &error)) {
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
    // A run the server refuses stays, and those after it still go.
    QString refusedWhy;
    for (auto it = waiting->rbegin(); it != waiting->rend(); ++it) {
        bool gone = false;
        const std::optional<Run> full = local->read(it->run.uuid, &gone);
        if (gone) {
            // Another sync of the same spool uploaded it meanwhile.
            ++result.alreadyThere;
            --result.waiting;
            continue;
        }
        const Outcome outcome = full ? write(*full) : Outcome::Failed;
        if (!full)
            error_ = QStringLiteral("the spool: %1").arg(local->errorString());
        if (outcome == Outcome::Failed) {
            database().close();
            result.ok = false;
            const QString why = error_;
            if (!full || !connect())
                break;
            ++result.refused;
            refusedWhy = QStringLiteral("%1 refused run %2: %3")
                             .arg(location_.text(), it->run.uuid.toString(QUuid::WithoutBraces),
                                 why.trimmed());
            error_ = refusedWhy;
            continue;
        }
        (outcome == Outcome::Stored ? result.uploaded : result.alreadyThere) += 1;
        if (!local->remove(it->run.uuid)) {
            error_ = QStringLiteral("the spool: %1").arg(local->errorString());
            result.ok = false;
            break;
        }
        --result.waiting;
    }
    if (result.refused && error_.isEmpty())
        error_ = refusedWhy; // a run after it cleared it
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

} // namespace zem::history
