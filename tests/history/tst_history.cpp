// The history store against SQLite, or against the PostgreSQL server that
// ZEM_TEST_PG names (with_postgres.sh starts one): the same cases for both.
#include "samplerun.h"
#include "schema.h"
#include "store.h"
#include "worker.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

#include <sys/resource.h>
#include <zlib.h>

using namespace zem::history;

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void locations_data();
    void locations();
    void curves();
    void damagedStore();
    void recordAndQuery();
    void concurrentWriters();
    void killedWriter();
    void spoolAndSync();
    void migrates_data();
    void migrates();
    void workerUploadsWhenBack();
    void parallelSyncs();
    void serverTimeout();
    void viewRows_data();
    void viewRows();
    void viewNameTaken();
    void roles_data();
    void roles();
    void dashboard_data();
    void dashboard();

private:
    const Location &viewsHistory();
    const Location &stationHistory();
    Location fresh();
    QStringList helperLines(QProcess &p);

    QTemporaryDir tmp_;
    std::optional<Location> server_;
    int databases_ = 0;
    std::optional<Location> views_;
    std::optional<Location> station_;
};

void TestHistory::initTestCase()
{
    QVERIFY(tmp_.isValid());
    qputenv("XDG_DATA_HOME", tmp_.path().toUtf8()); // no default spool in $HOME
    if (qEnvironmentVariableIsSet("ZEM_TEST_PG")) {
        server_ = parseLocation(qEnvironmentVariable("ZEM_TEST_PG"), nullptr);
        QVERIFY(server_);
    }
    qInfo("engine: %s", server_ ? "PostgreSQL" : "SQLite");
}

// One statement straight to a database, past the store (migrated to version
// first if given): the first value it returns, invalid when it fails.
static QVariant raw(const Location &l, const QString &sql, int version = 0)
{
    QVariant first;
    {
        const bool pg = l.engine == Location::Engine::Postgres;
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", "raw");
        db.setHostName(l.host);
        db.setUserName(l.user);
        db.setDatabaseName(pg ? l.database : l.path);
        QString error;
        QSqlQuery q(db);
        if (db.open() && (!version || schema::migrate(db, pg, &error, version)) && q.exec(sql))
            first = q.next() ? q.value(0) : QVariant(true);
    }
    QSqlDatabase::removeDatabase("raw");
    return first;
}

// A query's column names and its rows' first values, or its error.
struct Rows
{
    QString error;
    QStringList columns;
    QVariantList rows;
};
static Rows select(const Location &l, const QString &sql)
{
    Rows out;
    {
        const bool pg = l.engine == Location::Engine::Postgres;
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", "select");
        db.setHostName(l.host);
        db.setUserName(l.user);
        db.setDatabaseName(pg ? l.database : l.path);
        QSqlQuery q(db);
        if (!db.open())
            out.error = db.lastError().text();
        else if (!q.exec(sql))
            out.error = q.lastError().text();
        for (int k = 0; out.error.isEmpty() && k < q.record().count(); ++k)
            out.columns << q.record().fieldName(k);
        while (out.error.isEmpty() && q.next())
            out.rows << q.value(0);
    }
    QSqlDatabase::removeDatabase("select");
    return out;
}

// zem_reader made from its SQL, able to log in; the error, if any.
static QString grantReader(const Location &where)
{
    QFile sql(READER_ROLE);
    const Rows made = select(where, sql.open(QIODevice::ReadOnly) ? sql.readAll() : "");
    return made.error.isEmpty() ? select(where, "ALTER ROLE zem_reader LOGIN").error : made.error;
}

// A new, empty database for each case.
Location TestHistory::fresh()
{
    const QString name = QStringLiteral("case%1").arg(++databases_);
    if (!server_)
        return *parseLocation(tmp_.filePath(name + ".sqlite"), nullptr);
    if (!raw(*server_, "CREATE DATABASE " + name).isValid())
        qFatal("cannot create a database on the test server");
    Location l = *server_;
    l.database = name;
    return l;
}

void TestHistory::locations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // empty: refused

    QTest::newRow("sqlite:") << "sqlite:rel/h.db"
                             << "sqlite:rel/h.db";
    QTest::newRow(".sqlite") << "/var/h.sqlite"
                             << "sqlite:/var/h.sqlite";
    QTest::newRow("full uri") << "postgresql://zem@db.lab:5433/hist?sslmode=require"
                              << "postgresql://zem@db.lab:5433/hist?sslmode=require";
    QTest::newRow("postgres:// and socket") << "postgres:///hist?host=/run/postgresql"
                                            << "postgresql:///hist?host=%2Frun%2Fpostgresql";
    QTest::newRow("percent socket host") << "postgresql://%2Ftmp%2Fs/db"
                                         << "postgresql:///db?host=%2Ftmp%2Fs";
    QTest::newRow("ipv6") << "postgresql://[::1]:5432/db"
                          << "postgresql://:5432/db?host=%3A%3A1";
    QTest::newRow("bare") << "postgresql://"
                          << "postgresql:///";
    QTest::newRow("password") << "postgresql://zem:secret@db/h"
                              << "";
    QTest::newRow("password param") << "postgresql://db/h?password=x"
                                    << "";
    QTest::newRow("unknown param") << "postgresql://db/h?color=red"
                                   << "";
    QTest::newRow("semicolon") << "postgresql://db/h?sslmode=a;b"
                               << "";
    QTest::newRow("bad port") << "postgresql://db:99999/h"
                              << "";
    QTest::newRow("bad escape") << "postgresql://db/h%zz"
                                << "";
    QTest::newRow("nul escape") << "postgresql://db/h%00"
                                << "";
    QTest::newRow("two hosts") << "postgresql://a,b/h"
                               << "";
    QTest::newRow("bad ipv6") << "postgresql://[::1/h"
                              << "";
    QTest::newRow("no kind") << "history.db"
                             << "";
    QTest::newRow("empty sqlite") << "sqlite:"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestHistory::locations()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QString error;
    const std::optional<Location> l = parseLocation(text, &error);
    QCOMPARE(l ? l->text() : QString(), canonical);
    QCOMPARE(error.isEmpty(), bool(l));
    if (l)
        QCOMPARE(parseLocation(l->text(), nullptr), l);
}

void TestHistory::curves()
{
    std::vector<double> v { 0, 1.5, -2.25 }, m { 0.125 }, v2, m2;
    QVERIFY(unpackCurve(packCurve(v, m), &v2, &m2));
    QCOMPARE(v2, v);
    QCOMPARE(m2, m);
    const QByteArray packed = packCurve(v, m);
    for (const QByteArray &bad : { QByteArray(), packed.left(packed.size() - 3),
             QByteArray("\x7f\xff\xff\xff garbage"), qCompress("\x02 not a curve") })
        QVERIFY(!unpackCurve(bad, &v2, &m2) && v2.empty() && m2.empty());
}

// A page wrecked mid-file, and a curve that inflates past its size: a read
// fails whole, naming the file, the run and the point.
void TestHistory::damagedStore()
{
    const auto zemctl = [](const QString &file, const QStringList &args) {
        QProcess z;
        z.start(ZEMCTL, QStringList { "history", "--db", "sqlite:" + file } + args);
        z.waitForFinished(120000);
        return std::pair { z.exitCode(), QString::fromUtf8(z.readAllStandardError()) };
    };
    const QString path = tmp_.filePath("damaged.sqlite"), bomb = path + "-bomb.sqlite";
    Run shown = sampleRun("D", 40, 10);
    for (int k = 0; k < 40; ++k)
        shown.points[std::size_t(k)].reading = QString("reading-%1-mark").arg(k);
    {
        Store store;
        QVERIFY(store.open(*parseLocation(path, nullptr))
            && store.record(shown) == Store::Outcome::Stored);
        for (int k = 0; k < 300; ++k) {
            Run r = sampleRun("D", 1, 0);
            r.station = QString("station-%1-mark").arg(k);
            QCOMPARE(store.record(r), Store::Outcome::Stored);
        }
    }
    QFile file(path);
    QVERIFY(QFile::copy(path, bomb) && file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const int page = qFromBigEndian<quint16>(bytes.constData() + 16);
    for (const char *mark : { "station-150-mark", "reading-20-mark" }) {
        const qsizetype at = bytes.indexOf(mark);
        QVERIFY(
            at > 0 && file.seek(at - at % page) && file.write(QByteArray(page, '\xff')) == page);
    }
    file.close();
    const QString uuid = shown.uuid.toString(QUuid::WithoutBraces), csv = path + ".csv";
    for (const QStringList &args :
        { QStringList { "runs" }, { "show", uuid }, { "export", "--csv", csv } }) {
        const auto [code, err] = zemctl(path, args);
        QVERIFY2(code == 3 && err.contains(path) && err.contains("PRAGMA integrity_check"),
            qPrintable(err));
    }
    QVERIFY(!QFile::exists(csv));
    // 256 MiB of zeros deflated, under a header that says 100 bytes.
    QByteArray packed(1 << 20, 0), zeros(1 << 20, 0);
    qToBigEndian<quint32>(100, packed.data());
    z_stream z {};
    deflateInit(&z, 9);
    z.next_out = reinterpret_cast<Bytef *>(packed.data() + 4);
    z.avail_out = uInt(packed.size() - 4);
    for (int k = 256; k >= 0; --k) {
        z.next_in = reinterpret_cast<Bytef *>(zeros.data());
        z.avail_in = k ? uInt(zeros.size()) : 0;
        deflate(&z, k ? Z_NO_FLUSH : Z_FINISH);
    }
    packed.truncate(4 + qsizetype(z.total_out));
    deflateEnd(&z);
    const Location where = *parseLocation(bomb, nullptr);
    QVERIFY(raw(where, "UPDATE points SET curve = X'" + packed.toHex() + "' WHERE position = 7")
                .isValid());
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    Store store;
    QVERIFY(store.open(where, {}, Store::Access::Read) && !store.run(shown.uuid));
    getrusage(RUSAGE_SELF, &after);
    QVERIFY2(
        after.ru_maxrss - before.ru_maxrss < 65536, "a damaged curve took the memory it claimed");
    const auto [code, err] = zemctl(bomb, { "show", uuid });
    QVERIFY2(code == 3 && err.contains("point 'P7'") && err.contains(uuid), qPrintable(err));
}

void TestHistory::recordAndQuery()
{
    const Location where = fresh();
    Store store;
    QVERIFY2(store.open(where), qPrintable(store.errorString()));
    const QDateTime day1 = QDateTime::fromString("2026-03-01T08:00:00.123Z", Qt::ISODateWithMs);
    const QDateTime day2 = day1.addDays(1);
    Run a = sampleRun("B1", 3, 0), b = sampleRun("B1", 3, 0), c = sampleRun("B2", 1, 0);
    a.boardSerial = c.boardSerial = "S1";
    a.operatorName = "Ann \"A\", Lab";
    a.started = day1;
    a.finished = QDateTime();
    a.verdict = c.verdict = "fail";
    a.points[0].causeClass = "";
    a.points[1] = { "P1", "different", 42.25, 10, "open", "pin 3 open", "open", { 0, 1.5, -2.25 },
        { 0, 0.125 }, { 0, 1 }, { 0, 0.5 } };
    // One reference used twice in a run and once in another: kept once.
    for (PointResult *p : { &a.points[0], &b.points[1] })
        p->refVolts = a.points[1].refVolts, p->refMilliamps = a.points[1].refMilliamps;
    a.points[2].verdict = "not_learned";
    a.points[2].score.reset();
    b.started = day2;
    c.started = day2.addSecs(60);
    c.points[0].verdict = "unstable";
    for (const Run *r : { &a, &b, &c })
        QCOMPARE(store.record(*r), Store::Outcome::Stored);
    QCOMPARE(store.record(a), Store::Outcome::AlreadyStored);
    Run bad = b;
    bad.uuid = QUuid();
    QCOMPARE(store.record(bad), Store::Outcome::Failed);
    QVERIFY(!store.errorString().isEmpty());

    QVERIFY(Store().record(a) == Store::Outcome::Failed && !Store().run(a.uuid));
    const std::optional<Run> back = store.run(a.uuid);
    QVERIFY(back);
    QCOMPARE(back->started, a.started);
    QVERIFY(!back->finished.isValid());
    QCOMPARE(back->operatorName, a.operatorName);
    QCOMPARE(back->station, a.station);
    QCOMPARE(back->points.size(), 3u);
    const PointResult &p0 = back->points[0], &p1 = back->points[1], &p2 = back->points[2];
    QVERIFY(!p0.causeClass.isNull() && p0.causeText.isNull() && p0.score == 1.5);
    QVERIFY(!p2.score && p2.verdict == "not_learned");
    QCOMPARE(p1.causeText, "pin 3 open");
    QCOMPARE(p1.volts, a.points[1].volts);
    QCOMPARE(p1.milliamps, a.points[1].milliamps);
    QVERIFY(p0.refVolts == a.points[1].refVolts && p1.refMilliamps == a.points[1].refMilliamps);
    QCOMPARE(store.run(b.uuid)->points[1].refMilliamps, a.points[1].refMilliamps);
    QCOMPARE(raw(where, "SELECT COUNT(*) FROM reference_curves").toInt(), 1);
    QVERIFY(!store.run(QUuid::createUuid()));
    // A run named by the start of its UUID in any case; LIKE's wildcards are no UUID's.
    const QString aText = a.uuid.toString(QUuid::WithoutBraces).toUpper();
    QCOMPARE(*store.runsWithPrefix(aText.left(13)), std::vector<QUuid> { a.uuid });
    QVERIFY(store.runsWithPrefix("%")->empty() && store.runsWithPrefix("")->size() == 3);
    QCOMPARE(*store.boardTypes(), QStringList({ "B1", "B2" }));

    const auto uuids
        = [&](QString board, QString serial, QDateTime since, QString verdict, int limit = -1) {
              QList<QUuid> list;
              const auto runs = store.runs({ board, serial, since, verdict, limit, {} });
              for (const RunSummary &s : *runs)
                  list << s.run.uuid;
              return list;
          };
    QCOMPARE(uuids({}, {}, {}, {}), QList<QUuid>({ c.uuid, b.uuid, a.uuid }));
    QCOMPARE(uuids("B1", {}, {}, {}), QList<QUuid>({ b.uuid, a.uuid }));
    QCOMPARE(uuids({}, "S1", {}, {}), QList<QUuid>({ c.uuid, a.uuid }));
    QCOMPARE(uuids({}, {}, day2, {}), QList<QUuid>({ c.uuid, b.uuid }));
    QCOMPARE(uuids({}, {}, {}, "pass"), QList<QUuid>({ b.uuid }));
    // A point's verdict selects the runs holding such a point.
    QCOMPARE(uuids({}, {}, {}, "different"), QList<QUuid>({ a.uuid }));
    QCOMPARE(uuids({}, {}, {}, "not_learned"), QList<QUuid>({ a.uuid }));
    QVERIFY(!store.runs({ {}, {}, {}, "differnt", -1, {} })
        && store.errorString().contains("no verdict 'differnt'"));
    QCOMPARE(uuids({}, {}, {}, {}, 1), QList<QUuid>({ c.uuid }));
    QCOMPARE(store.runs({})->back().failedCount, 1);

    const std::vector<PointStats> pareto = *store.pareto("B1");
    QCOMPARE(pareto.size(), 3u);
    QVERIFY(pareto[0].name == "P1" && pareto[0].tested == 2 && pareto[0].failed == 1);
    QVERIFY(pareto[2].name == "P2" && pareto[2].tested == 1 && pareto[2].rate == 0);
    QCOMPARE(store.pareto("B1", day2.date())->at(0).failed, 0);
    QCOMPARE(*store.probeOrder("B1"), QStringList({ "P1", "P0", "P2" }));
    QCOMPARE(*store.probeOrder("B2"), QStringList({ "P0" }));
    const std::vector<ScoreSample> drift = *store.scores("B1", "P1");
    QVERIFY(drift.size() == 2 && drift[0].score == 42.25 && drift[1].run == b.uuid);
    QCOMPARE(store.scores("B1", "P2")->size(), 1u);
    const std::vector<DayYield> yield = *store.yieldPerDay();
    QCOMPARE(yield.size(), 3u);
    QVERIFY(yield[0].boardType == "B1" && yield[0].day == day1.date() && yield[0].passed == 0);
    QVERIFY(yield[1].day == day2.date() && yield[1].yield == 1.0 && yield[2].boardType == "B2");

    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QVERIFY(store.exportCsv({ "B1", {}, {}, {}, -1, {} }, &csv));
    const QList<QByteArray> lines = csv.data().split('\n');
    QCOMPARE(lines.size(), 4); // header, two runs, the last line's end
    QVERIFY(lines[2].startsWith(
        a.uuid.toByteArray(QUuid::WithoutBraces) + ",2026-03-01T08:00:00.123Z,,B1,S1,"));
    QVERIFY(lines[2].contains(",\"Ann \"\"A\"\", Lab\",fail,"));

    // A point unlike its net fails its run and is found by its verdict.
    Run d = sampleRun("B3", 2, 0);
    d.verdict = "fail";
    d.points[1].verdict = "net_disagrees";
    QCOMPARE(store.record(d), Store::Outcome::Stored);
    QCOMPARE(store.run(d.uuid)->points[1].verdict, "net_disagrees");
    QCOMPARE(uuids({}, {}, {}, "net_disagrees"), QList<QUuid>({ d.uuid }));
    QCOMPARE(store.runs({ "B3", {}, {}, {}, -1, {} })->front().failedCount, 1);
    QCOMPARE(store.pareto("B3")->front().failed, 1);

    // A point for information only fails nothing and selects nothing; a
    // partial run keeps what it left untested and why it stopped.
    Run e = sampleRun("B4", 2, 0), f = sampleRun("B4", 1, 0);
    e.verdict = "partial", e.untested = QStringList { "R2", "R\"3" }, e.stopReason = "e-stop";
    e.points[1].verdict = "different", e.points[1].info = true;
    f.verdict = f.points[0].verdict = "no_contact";
    QVERIFY(store.record(e) == Store::Outcome::Stored && store.record(f) == Store::Outcome::Stored);
    const Run eBack = *store.run(e.uuid), fBack = *store.run(f.uuid);
    QVERIFY(eBack.points[1].info && !eBack.points[0].info && eBack.untested == e.untested
        && eBack.stopReason == "e-stop" && fBack.stopReason.isNull() && fBack.untested.isEmpty());
    QCOMPARE(uuids("B4", {}, {}, "partial") + uuids("B4", {}, {}, "no_contact")
            + uuids("B4", {}, {}, "different"),
        QList<QUuid>({ e.uuid, f.uuid }));
    QVERIFY(store.points({ "B4", {}, {}, {}, -1, {} })->at(2).info
        && store.pareto("B4")->back().failed == 0 && store.runs({ "B4" })->back().failedCount == 0);

    // Written by a newer build: refused.
    QVERIFY(raw(where, "INSERT INTO schema_version (version) VALUES (99)").isValid());
    Store newer;
    QVERIFY(!newer.open(where) && newer.errorString().contains("newer"));
}

QStringList TestHistory::helperLines(QProcess &p)
{
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

void TestHistory::concurrentWriters()
{
    const Location where = fresh();
    QVERIFY(Store().open(where)); // the schema, before four writers race for it
    QProcess writers[4];
    for (QProcess &w : writers)
        w.start(RECORD_RUNS, { where.text(), "25", "20", "100" });
    QSet<QString> done;
    for (QProcess &w : writers) {
        QVERIFY(w.waitForFinished(300000));
        QCOMPARE(w.exitCode(), 0);
        for (const QString &line : helperLines(w))
            if (line.startsWith("done "))
                done << line.mid(5);
    }
    QCOMPARE(done.size(), 100);
    Store store;
    QVERIFY(store.open(where));
    QSet<QString> stored;
    const auto runs = store.runs({});
    for (const RunSummary &s : *runs)
        stored << s.run.uuid.toString(QUuid::WithoutBraces);
    QCOMPARE(stored, done);
    QCOMPARE(store.pareto("helper")->at(0).tested, 100);
}

void TestHistory::killedWriter()
{
    const Location where = fresh();
    QProcess writer;
    writer.start(RECORD_RUNS, { where.text(), "100", "2000", "200" });
    QStringList lines;
    // Killed once it has begun its second run, most likely inside its transaction.
    while (lines.filter("begin ").size() < 2 && writer.waitForReadyRead(60000))
        lines += helperLines(writer);
    writer.kill();
    writer.waitForFinished();
    QCOMPARE(lines.filter("begin ").size(), 2);
    Store store;
    QVERIFY2(store.open(where), qPrintable(store.errorString()));
    const std::vector<RunSummary> runs = *store.runs({});
    QVERIFY(runs.size() == 1 || runs.size() == 2);
    for (const RunSummary &s : runs)
        QCOMPARE(store.run(s.run.uuid)->points.size(), 2000u);
    QCOMPARE(store.pareto("helper")->at(0).tested, qint64(runs.size()));
    QCOMPARE(store.record(sampleRun("helper", 2, 2)), Store::Outcome::Stored);
}

void TestHistory::spoolAndSync()
{
    // No server at all: the run waits, and sync says it could not upload.
    Location nowhere = *parseLocation("postgresql:///h?host=" + tmp_.filePath("none"), nullptr);
    Store away;
    QVERIFY(away.open(nowhere, tmp_.filePath("spool-away.sqlite")));
    QVERIFY(!away.online());
    QCOMPARE(away.record(sampleRun("B", 2, 10)), Store::Outcome::Spooled);
    QVERIFY(away.errorString().contains("cannot reach"));
    const Store::SyncResult failed = away.sync();
    QVERIFY(!failed.ok && failed.uploaded == 0 && failed.waiting == 1);
    if (!server_)
        QSKIP("the rest needs a PostgreSQL server (run through with_postgres.sh)");

    const QString ctl = qEnvironmentVariable("ZEM_TEST_PG_CTL");
    const QString spoolPath = tmp_.filePath("spool.sqlite");
    Store store;
    QVERIFY(store.open(fresh(), spoolPath) && store.online());
    const Run before = sampleRun("B", 5, 100);
    Run during = sampleRun("B", 5, 100);
    during.untested = QStringList { "P5" }, during.stopReason = "e-stop",
    during.points[1].info = true;
    QCOMPARE(store.record(before), Store::Outcome::Stored);
    QCOMPARE(QProcess::execute(ctl, { "stop", "-m", "fast" }), 0);
    QCOMPARE(store.record(during), Store::Outcome::Spooled);
    // Already uploaded once, spooled again: dropped, not doubled.
    Store local;
    QVERIFY(local.open(*parseLocation("sqlite:" + spoolPath, nullptr)));
    QCOMPARE(local.record(before), Store::Outcome::Stored);
    QCOMPARE(store.waiting(), 2);
    QVERIFY(!store.sync().ok);
    QCOMPARE(QProcess::execute(ctl, { "start" }), 0);
    const Store::SyncResult first = store.sync(), second = store.sync();
    QVERIFY2(first.ok, qPrintable(store.errorString()));
    QCOMPARE(first.uploaded, 1);
    QCOMPARE(first.alreadyThere, 1);
    QCOMPARE(first.waiting, 0);
    QVERIFY(second.ok && second.uploaded == 0 && second.alreadyThere == 0);
    QCOMPARE(store.runs({})->size(), 2u);
    const std::optional<Run> synced = store.run(during.uuid);
    QVERIFY(synced->untested == during.untested && synced->stopReason == "e-stop"
        && synced->points[1].info && !synced->points[0].info);

    // A name the server cannot store (a NUL): the run waits in the spool
    // rather than being lost, and does not hold back the runs after it.
    Run refused = sampleRun("B", 2, 10);
    refused.points[0].name = QStringLiteral("P1") + QChar(0) + QStringLiteral("x");
    QCOMPARE(store.record(refused), Store::Outcome::Spooled);
    QVERIFY2(store.errorString().contains("refused"), qPrintable(store.errorString()));
    QCOMPARE(QProcess::execute(ctl, { "stop", "-m", "fast" }), 0);
    const Run after = sampleRun("B", 2, 10);
    QCOMPARE(store.record(after), Store::Outcome::Spooled);
    QCOMPARE(QProcess::execute(ctl, { "start" }), 0);
    const Store::SyncResult third = store.sync();
    QVERIFY(!third.ok && third.refused == 1 && third.uploaded == 1 && third.waiting == 1);
    QVERIFY2(store.errorString().contains("refused run"), qPrintable(store.errorString()));
    QVERIFY(store.run(after.uuid));

    const PointResult &last = synced->points[4]; // float32, as stored
    QCOMPARE(packCurve(last.volts, last.milliamps),
        packCurve(during.points[4].volts, during.points[4].milliamps));
    QCOMPARE(packCurve(last.refVolts, last.refMilliamps),
        packCurve(during.points[4].refVolts, during.points[4].refMilliamps));
}

void TestHistory::migrates_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("from version 1") << 1;
    QTest::newRow("from version 3") << 3;
}

// An older history, as stations have them, migrates in place: its runs stay
// with their verdicts, with no reference, nothing untested, no point for
// information only; what zem_reader was granted it still reads.
void TestHistory::migrates()
{
    QFETCH(int, version);
    const Location where = fresh();
    const QUuid id("{6d0b8a52-4c1e-4a57-9a8e-0c6f1e0b7a31}");
    const QString run = "INSERT INTO runs VALUES (1000, '6d0b8a52-4c1e-4a57-9a8e-0c6f1e0b7a31', "
                        "'B', '', '', '', 0, NULL, 0, 'fail', '', 1, 1, 1)";
    const QString point = QString("INSERT INTO points VALUES (1000, 0, 'P0', 'no_contact', 1, 10, "
                                  "NULL, NULL, '', ''%1)")
                              .arg(version > 1 ? ", NULL" : "");
    QVERIFY(raw(where, run, version).isValid() && raw(where, point).isValid());
    Location reader = where;
    if (server_ && version == 3) {
        QVERIFY2(grantReader(where).isEmpty(), qPrintable(grantReader(where)));
        reader.user = "zem_reader";
    }
    Store store;
    QVERIFY2(store.open(where), qPrintable(store.errorString()));
    const std::optional<Run> back = store.run(id);
    QVERIFY(back && back->verdict == "fail" && back->untested.isEmpty()
        && back->points[0].refVolts.empty() && !back->points[0].info);
    const Rows failing = select(reader, "SELECT SUM(failing) FROM zem_points");
    QVERIFY2(
        failing.error.isEmpty() && failing.rows.value(0).toInt() == 1, qPrintable(failing.error));
    QCOMPARE(store.record(sampleRun("B", 1, 10)), Store::Outcome::Stored);
}

// The window's worker: a run kept while the server is away waits in the
// spool, and the first job once the server is back uploads it, once.
void TestHistory::workerUploadsWhenBack()
{
    if (!server_)
        QSKIP("needs a PostgreSQL server (run through with_postgres.sh)");
    const QString ctl = qEnvironmentVariable("ZEM_TEST_PG_CTL");
    Worker worker;
    worker.setLocationText(fresh().text());
    QSignalSpy synced(&worker, &Worker::synced);
    std::optional<Store::Outcome> kept;
    std::optional<std::size_t> count;
    const auto post = [&](std::optional<Run> run) {
        kept.reset();
        count.reset();
        worker.post(this, [&, run](Store *store, const QString &) -> Worker::Reply {
            const Store::Outcome o = run ? store->record(*run) : Store::Outcome::Stored;
            const std::size_t n = store->runs({}) ? store->runs({})->size() : 0;
            return [&, o, n] { kept = o, count = n; };
        });
    };
    QCOMPARE(QProcess::execute(ctl, { "stop", "-m", "fast" }), 0);
    post(sampleRun("W", 3, 10));
    QTRY_VERIFY(kept);
    QCOMPARE(*kept, Store::Outcome::Spooled);
    QCOMPARE(QProcess::execute(ctl, { "start" }), 0);
    for (int round = 0; round < 2; ++round) {
        post(std::nullopt);
        QTRY_VERIFY(count);
    }
    QCOMPARE(synced.count(), 1);
    QCOMPARE(synced[0].value(0).toInt(), 1);
    QCOMPARE(synced[0].value(1).toInt(), 0);
    QCOMPARE(*count, 1u);
}

// Two syncs of one spool at once: every run reaches the server once, and
// neither takes a run the other uploaded for a failure.
void TestHistory::parallelSyncs()
{
    if (!server_)
        QSKIP("needs a PostgreSQL server (run through with_postgres.sh)");
    const QString spool = tmp_.filePath("spool-parallel.sqlite");
    Store away;
    QVERIFY(
        away.open(*parseLocation("postgresql:///h?host=" + tmp_.filePath("none"), nullptr), spool));
    for (int k = 0; k < 30; ++k)
        QCOMPARE(away.record(sampleRun("S", 2, 10)), Store::Outcome::Spooled);
    const Location where = fresh();
    Store::SyncResult results[2];
    const auto sync = [&](int k) {
        Store s;
        s.open(where, spool);
        results[k] = s.sync();
    };
    std::thread first(sync, 0), second(sync, 1);
    first.join(), second.join();
    QVERIFY(results[0].ok && results[1].ok && results[0].uploaded + results[1].uploaded == 30);
    Store store; // the UUIDs are unique there: 30 runs are the 30 spooled
    QVERIFY(store.open(where) && store.runs({})->size() == 30);
}

// A server that holds a run past the timeout (the table locked by another
// session): the run waits in the spool, and the reason says so.
void TestHistory::serverTimeout()
{
    if (!server_)
        QSKIP("needs a PostgreSQL server (run through with_postgres.sh)");
    Location where = *parseLocation(fresh().text() + "&timeout=1", nullptr);
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase("QPSQL", "locker");
        locker.setHostName(where.host), locker.setUserName(where.user),
            locker.setDatabaseName(where.database);
        QSqlQuery q(locker);
        QVERIFY(Store().open(where) && locker.open() && q.exec("BEGIN")
            && q.exec("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE"));
        Store store;
        QVERIFY(store.open(where, tmp_.filePath("spool-timeout.sqlite")));
        QCOMPARE(store.record(sampleRun("T", 2, 10)), Store::Outcome::Spooled);
        QVERIFY2(store.errorString().contains("did not answer within 1 s"),
            qPrintable(store.errorString()));
        q.exec("ROLLBACK");
    }
    QSqlDatabase::removeDatabase("locker");
}

// The views' history, recorded once: V1 fails on 4 March, passes (with a
// different point for information only) and fails on 5 March; V2 passes on
// 5 March. On PostgreSQL with zem_reader from its SQL.
static const char *const kFirstRun = "00000000-0000-4000-8000-000000000001";

const Location &TestHistory::viewsHistory()
{
    if (views_)
        return *views_;
    const Location where = fresh();
    Store store;
    if (!store.open(where))
        qFatal("%s", qPrintable(store.errorString()));
    const char *const starts[] = { "2026-03-04T05:06:07.089Z", "2026-03-05T10:00:00.000Z",
        "2026-03-05T11:00:00.000Z", "2026-03-05T12:00:00.000Z" };
    const QStringList verdicts[] = { { "pass", "different", "not_learned", "net_disagrees" },
        { "pass", "pass", "pass", "pass" }, { "unstable" }, { "pass", "pass", "pass", "pass" } };
    for (int k = 0; k < 4; ++k) {
        Run run = sampleRun(k == 2 ? "V2" : "V1", int(verdicts[k].size()), 0);
        if (k == 0) {
            run.uuid = QUuid::fromString(QLatin1String(kFirstRun));
            run.points[1].causeClass = "open";
        }
        run.started = QDateTime::fromString(starts[k], Qt::ISODateWithMs);
        run.finished = run.started.addMSecs(90'500);
        run.verdict = k == 0 || k == 3 ? "fail" : "pass";
        for (std::size_t p = 0; p < run.points.size(); ++p)
            run.points[p].verdict = verdicts[k][int(p)];
        if (k == 1)
            run.points[3].verdict = "different", run.points[3].info = true;
        if (store.record(run) != Store::Outcome::Stored)
            qFatal("%s", qPrintable(store.errorString()));
    }
    views_ = where;
    if (server_ && !grantReader(where).isEmpty())
        qFatal("%s: %s", READER_ROLE, qPrintable(grantReader(where)));
    return *views_;
}

// Each view's columns, names and order, on which dashboards were built: a
// migration that changes them breaks this table as it would break them. Then
// what the views say about the runs above: times to the millisecond in UTC,
// every point verdict but pass and not_learned failing (including one the
// views never heard of) unless the point is for information only, yield per
// UTC day. %1 is the first run's UUID.
void TestHistory::viewRows_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected");
    // clang-format off
    const char *const rows[][3] = {
        { "zem_interface", "SELECT * FROM zem_interface WHERE 1 = 0", "version" },
        { "zem_runs", "SELECT * FROM zem_runs WHERE 1 = 0", "time run_id board_type serial verdict points failed operator station signature boards duration_s" },
        { "zem_points", "SELECT * FROM zem_points WHERE 1 = 0", "time run_id board_type serial point position verdict failing score tolerance cause cause_text reading" },
        { "zem_yield_daily", "SELECT * FROM zem_yield_daily WHERE 1 = 0", "time board_type runs passed yield" },
        { "zem_point_failures", "SELECT * FROM zem_point_failures WHERE 1 = 0", "time board_type point verdict cause cause_text run_id serial" },
        { "a run's millisecond", "SELECT run_id FROM zem_runs WHERE time = '2026-03-04T05:06:07.089Z'", kFirstRun },
        { "duration", "SELECT duration_s FROM zem_runs WHERE run_id = '%1'", "90.5" },
        { "failed points", "SELECT failed FROM zem_runs WHERE run_id = '%1'", "2" },
        { "a point", "SELECT position FROM zem_points WHERE cause = 'open'", "1" },
        { "failing verdicts", "SELECT COUNT(*) FROM zem_point_failures WHERE verdict IN ('different', 'unstable', 'net_disagrees')", "3" },
        { "failing flags", "SELECT SUM(failing) FROM zem_points", "3" },
        { "UTC days", "SELECT COUNT(*) FROM zem_yield_daily WHERE time = '2026-03-05T00:00:00.000Z'", "2" },
        { "yield", "SELECT yield FROM zem_yield_daily WHERE board_type = 'V1' AND time > '2026-03-04T23:59:59.999Z'", "0.5" },
        { "runs and passes", "SELECT runs * 10 + passed FROM zem_yield_daily WHERE board_type = 'V1' AND time < '2026-03-05T00:00:00.000Z'", "10" },
        { "version", "SELECT version FROM zem_interface", "1" },
    };
    // clang-format on
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[1]).replace("%1", kFirstRun) << row[2];
}

void TestHistory::viewRows()
{
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    const Rows r = select(viewsHistory(), sql);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QVERIFY(r.rows.size() <= 1);
    QCOMPARE(r.rows.isEmpty() ? r.columns.join(' ') : r.rows[0].toString(), expected);
}

// A database where a view's name is taken is left as it was.
void TestHistory::viewNameTaken()
{
    const Location where = fresh();
    QVERIFY(raw(where, "CREATE TABLE zem_points (mine INTEGER)", 2).isValid());
    Store store;
    QVERIFY(!store.open(where));
    QVERIFY2(store.errorString().contains("zem_points"), qPrintable(store.errorString()));
    QCOMPARE(raw(where, "SELECT MAX(version) FROM schema_version").toInt(), 2);
    QVERIFY(raw(where, "SELECT mine FROM zem_points").isValid());
}

// Each role may do what its SQL file says and nothing more, tried with every
// kind of statement: zem_reader reads the views; zem_station reads, records
// runs and only adds to point_days' counts. "record" records a run through
// the store as the role.
void TestHistory::roles_data()
{
    if (!server_)
        QSKIP("needs a PostgreSQL server (run through with_postgres.sh)");
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("allowed");
    for (const char *name :
        { "zem_interface", "zem_runs", "zem_points", "zem_yield_daily", "zem_point_failures",
            "runs", "points", "point_days", "reference_curves", "schema_version" }) {
        QTest::addRow("reader select %s", name) << "zem_reader"
            << QStringLiteral("SELECT * FROM %1").arg(name) << QByteArray(name).startsWith("zem_");
        QTest::addRow("station select %s", name)
            << "zem_station" << QStringLiteral("SELECT * FROM %1").arg(name) << true;
    }
    const char *const refusedToBoth[] = { "DELETE FROM zem_runs", "DELETE FROM runs",
        "DELETE FROM point_days", "TRUNCATE points", "UPDATE runs SET verdict = 'pass'",
        "UPDATE point_days SET seen = 0", "UPDATE point_days SET name = 'X'",
        "INSERT INTO schema_version VALUES (99)", "DROP TABLE reference_curves",
        "ALTER TABLE runs ADD COLUMN mine INTEGER", "CREATE TABLE mine (a INTEGER)",
        "CREATE TEMP TABLE mine (a INTEGER)", "CREATE VIEW mine AS SELECT 1",
        "CREATE FUNCTION mine() RETURNS INTEGER LANGUAGE sql AS 'SELECT 1'" };
    for (const char *role : { "zem_reader", "zem_station" })
        for (const char *sql : refusedToBoth)
            QTest::addRow("%s %s", role + 4, sql) << role << sql << false;
    QTest::newRow("reader record") << "zem_reader" << "record" << false;
    QTest::newRow("reader grants") << "zem_reader" << "GRANT SELECT ON runs TO PUBLIC" << false;
    QTest::newRow("reader adds to counts") << "zem_reader" << "UPDATE point_days SET seen = seen + 1"
                                           << false;
    QTest::newRow("station record") << "zem_station" << "record" << true;
    QTest::newRow("station adds to counts")
        << "zem_station" << "UPDATE point_days SET seen = seen + 1, tested = tested + 1" << true;
}

void TestHistory::roles()
{
    QFETCH(QString, role);
    QFETCH(QString, sql);
    QFETCH(bool, allowed);
    Location as = role == "zem_reader" ? viewsHistory() : stationHistory();
    as.user = role;
    QString error;
    if (sql == "record") {
        Store store;
        const bool stored = store.open(as)
            && store.record(sampleRun("S", 3, 8)) == Store::Outcome::Stored;
        error = stored ? QString() : store.errorString();
    } else {
        const Rows r = select(as, sql);
        error = r.error;
        // The views' history has a row in every view.
        if (allowed && role == "zem_reader" && error.isEmpty())
            QVERIFY2(!r.rows.isEmpty(), qPrintable(sql));
    }
    if (allowed)
        QVERIFY2(error.isEmpty(), qPrintable(error));
    else
        QVERIFY2(error.contains("permission denied") || error.contains("must be owner"),
            qPrintable(error.isEmpty() ? "allowed" : error));
}

// A history with one run, set up as the test engineer's guide says: zem_station
// made by the superuser, then granted by the tables' owner from its SQL.
const Location &TestHistory::stationHistory()
{
    if (station_)
        return *station_;
    const Location where = fresh();
    Store store;
    if (!store.open(where) || store.record(sampleRun("S", 3, 8)) != Store::Outcome::Stored)
        qFatal("%s", qPrintable(store.errorString()));
    QFile sql(STATION_ROLE);
    const QString error = select(where,
        "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zem_station') THEN "
        "CREATE ROLE zem_station LOGIN; END IF; END $$")
                              .error;
    const Rows granted = select(where, sql.open(QIODevice::ReadOnly) ? sql.readAll() : "");
    if (!error.isEmpty() || !granted.error.isEmpty())
        qFatal("%s: %s%s", STATION_ROLE, qPrintable(error), qPrintable(granted.error));
    station_ = where;
    return *station_;
}

// Every query of the Grafana dashboard, panels' and variables', filled in as
// Grafana does for a range with the runs above and one without; as zem_reader.
void TestHistory::dashboard_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("inRange");
    QFile file(DASHBOARD);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll()).object();
    QList<std::pair<QString, QString>> queries;
    for (const QJsonValue panel : dashboard["panels"].toArray()) {
        const QJsonArray targets = panel["targets"].toArray();
        QVERIFY2(!targets.isEmpty(), qPrintable(panel["title"].toString()));
        for (const QJsonValue target : targets)
            queries.append({ panel["title"].toString(), target["rawSql"].toString() });
    }
    for (const QJsonValue variable : dashboard["templating"]["list"].toArray())
        if (variable["type"] == "query")
            queries.append({ "$" + variable["name"].toString(), variable["query"].toString() });
    for (auto [title, sql] : queries) {
        sql.replace("$board", "V1").replace("$point", "P1");
        for (const bool in : { true, false })
            QTest::addRow("%s, %s", qPrintable(title), in ? "in range" : "out of range")
                << QString(sql).replace("$__timeFilter(time)",
                       QStringLiteral(
                           "time BETWEEN '%1-01T00:00:00.000Z' AND '%1-28T00:00:00.000Z'")
                           .arg(in ? "2026-03" : "2025-01"))
                << in;
    }
}

void TestHistory::dashboard()
{
    QFETCH(QString, sql);
    QFETCH(bool, inRange);
    QVERIFY2(!sql.contains('$'), qPrintable("a macro or variable left: " + sql));
    Location where = viewsHistory();
    if (server_)
        where.user = "zem_reader";
    const Rows r = select(where, sql);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.rows.isEmpty(), !inRange);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
