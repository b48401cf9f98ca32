// The test history: runs are recorded whole or not at all, each exactly once
// (by its UUID), in a SQLite file or on a shared PostgreSQL server. While the
// server cannot be reached runs wait in a local SQLite spool until sync()
// uploads them. Use a Store from one thread at a time.
#pragma once

#include "location.h"
#include "run.h"

#include <QDate>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;
class QSqlDatabase;

namespace zem::history {

// Empty fields do not filter.
struct RunFilter
{
    QString boardType;
    QString boardSerial;
    QDateTime since; // runs started at or after
    QString verdict; // see verdictKind(); runs() refuses any other
    int limit = -1; // at most this many, newest first; -1: all
    QDateTime until; // runs started before
};

// A run as listed: everything but its points, which run() reads.
struct RunSummary
{
    Run run;
    int pointCount = 0;
    int failedCount = 0; // points that failed (isFailure), as the run was stored
};

// How often a point of a board type failed; tested leaves out runs in which
// it was not learned.
struct PointStats
{
    QString name;
    qint64 tested = 0;
    qint64 failed = 0;
    double rate = 0; // failed / tested, 0 when never tested
};

struct ScoreSample
{
    QDateTime started;
    QUuid run;
    QString boardSerial;
    double score = 0;
    double tolerance = 0; // the point's in that run, percent
    QString verdict; // the point's in that run
};

// A point of a run as listed: its verdict and score without its curve.
struct PointRow
{
    QUuid run;
    QDateTime started;
    QString boardSerial;
    QString name;
    QString verdict;
    std::optional<double> score; // none when nothing was compared
    double tolerance = 0; // percent
    QString causeClass; // null when no cause was found
    QString causeText;
    bool info = false; // for information only: never a failure
};

// A point's score in a run of a good board: one whose verdict is "pass".
struct GoodScore
{
    QString point;
    double score = 0;
    double tolerance = 0; // the point's in that run, percent
    qint64 startedMs = 0; // the run's start, ms since 1970 UTC
};

struct DayYield
{
    QString boardType;
    QDate day; // UTC
    int runs = 0;
    int passed = 0; // runs whose verdict is "pass"
    double yield = 0; // passed / runs
};

class Store
{
public:
    enum class Outcome {
        Stored, // written now
        AlreadyStored, // a run with this UUID was there: nothing written
        Spooled, // the server could not be reached: waits in the spool (errorString says why)
        Failed, // nothing written (errorString says why)
    };
    struct SyncResult
    {
        bool ok = true; // false when the server could not be reached or a run failed
        int uploaded = 0; // runs written to the server by this sync
        int alreadyThere = 0; // spooled runs the server had already: dropped from the spool
        int refused = 0; // spooled runs the server answered but would not take: kept
        int waiting = 0; // runs still in the spool
    };

    // Reading leaves a SQLite history as it is: opened read-only, neither
    // migrated nor switched to WAL, so a file on a read-only mount or a full
    // disk can still be read. Only a file that is missing or needs migrating
    // is opened for writing.
    enum class Access { Write, Read };

    Store();
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Opens the history and brings its schema up to date, creating a SQLite
    // file and its folder on first use. A PostgreSQL server that cannot be
    // reached is no failure: online() is then false and runs are spooled at
    // spoolPath. False for a file that cannot be opened or a schema this
    // build cannot use, and for a SQLite path that is no regular file.
    bool open(const Location &where, const QString &spoolPath = defaultSpoolPath(),
        Access access = Access::Write);
    bool isOpen() const { return open_; }
    const Location &location() const { return location_; }
    // Connected to the server now (always true for an open SQLite history).
    bool online() const;
    QString errorString() const { return error_; }

    Outcome record(const Run &run);
    // Uploads the spooled runs, oldest first, each exactly once, and removes
    // them from the spool.
    SyncResult sync();
    // Runs in the spool, -1 when it cannot be read.
    int waiting();

    // Every query returns nothing when the history cannot be read, with the
    // reason in errorString().
    std::optional<std::vector<RunSummary>> runs(const RunFilter &filter);
    // The points of the runs() of the filter, newest run first, each run's
    // in probing order; the filter's limit counts runs.
    std::optional<std::vector<PointRow>> points(const RunFilter &filter);
    // A run with its points and curves; nothing when absent or unreadable.
    std::optional<Run> run(const QUuid &uuid);
    // The points of a board type, most failures first (a Pareto chart's
    // order); since counts whole UTC days.
    std::optional<std::vector<PointStats>> pareto(
        const QString &boardType, const QDate &since = {});
    // A point's score in every run of a board type that scored it, oldest first.
    std::optional<std::vector<ScoreSample>> scores(
        const QString &boardType, const QString &point, const QDateTime &since = {});
    // Hands every scored point of a board type's passing runs to take, in
    // no particular order, without keeping them: a line's history holds
    // millions. False when the history cannot be read.
    bool goodScores(const QString &boardType, const std::function<void(const GoodScore &)> &take);
    // The board types of the runs kept, in alphabetical order.
    std::optional<QStringList> boardTypes();
    // The runs whose UUID, as text, starts with prefix (any case), newest
    // first; none for a prefix no UUID can have.
    std::optional<std::vector<QUuid>> runsWithPrefix(const QString &prefix);
    // A board type's point names, the likeliest to fail first; points with
    // the same rate keep the order in which they are usually probed.
    std::optional<QStringList> probeOrder(const QString &boardType);
    // Runs and passes per board type (all when empty) and UTC day.
    std::optional<std::vector<DayYield>> yieldPerDay(
        const QString &boardType = {}, const QDate &since = {});
    // The runs() of the filter as CSV (RFC 4180, a header line, times in
    // ISO 8601 UTC), written to out.
    bool exportCsv(const RunFilter &filter, QIODevice *out);

private:
    QSqlDatabase database() const;
    bool connect();
    bool openSqlite(QSqlDatabase &db, Access access);
    // Sets the server's statement and lock timeouts on a new connection.
    bool limitWaits(QSqlDatabase &db, QString *error);
    bool postgres() const { return location_.engine == Location::Engine::Postgres; }
    Outcome write(const Run &run);
    // run(), telling in *absent when there is no such run.
    std::optional<Run> read(const QUuid &uuid, bool *absent);
    // Fails a read, naming the store and, for a SQLite file, how to check it.
    std::nullopt_t unreadable(const QString &why);
    // True when the run is gone, whether now or before.
    bool remove(const QUuid &uuid);
    Store *spool(bool create);
    bool fail(const QString &error);
    // Adds the filter's conditions on the table runs to sql; false (with
    // error_ set) for a verdict no run or point has.
    bool runConditions(const RunFilter &filter, QString *sql, QVariantList *values);

    Location location_;
    QString connection_;
    QString spoolPath_;
    std::unique_ptr<Store> spool_;
    QString error_;
    bool open_ = false;
    bool migrated_ = false;
    bool readOnly_ = false;
    // Reference digests this store has committed: runs against one
    // signature neither pack nor send their references again.
    QSet<QString> storedReferences_;
};

} // namespace zem::history
