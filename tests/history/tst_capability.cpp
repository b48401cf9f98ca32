// zemctl history points --cpk over a history of 200 good and 20 bad boards,
// checked against figures worked out here from the scores read back with
// plain SQL. ZEM_TEST_PG names a PostgreSQL server (with_postgres.sh starts
// one) to run the same cases there instead of on a SQLite file.
#include "samplerun.h"
#include "store.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

using namespace zem::history;

class TestCapability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void figuresMatchTheStoredScores_data();
    void figuresMatchTheStoredScores();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();

private:
    QProcess *zemctl(QStringList args);
    std::vector<std::pair<double, double>> storedGoodScores(const QString &point);

    QTemporaryDir tmp_;
    Location where_;
};

void TestCapability::initTestCase()
{
    QVERIFY(tmp_.isValid());
    qputenv("XDG_DATA_HOME", tmp_.path().toUtf8());
    where_ = *parseLocation(tmp_.filePath("h.sqlite"), nullptr);
    if (qEnvironmentVariableIsSet("ZEM_TEST_PG"))
        where_ = *parseLocation(qEnvironmentVariable("ZEM_TEST_PG"), nullptr);
    Store store;
    QVERIFY2(store.open(where_), qPrintable(store.errorString()));
    // Each point's score spreads more than the one before; P0's tolerance
    // was raised for the newest good board, whose tolerance is the limit.
    std::mt19937 random(7);
    std::normal_distribution<double> spread;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int k = 0; k < 220; ++k) {
        const bool good = k < 200;
        Run run = sampleRun("cap", 4, 8);
        run.started = start.addSecs(k);
        run.verdict = good ? "pass" : "fail";
        for (int j = 0; j < 4; ++j) {
            PointResult &p = run.points[std::size_t(j)];
            p.verdict = "pass";
            p.score = std::clamp(2 + j + spread(random) * (0.3 + 0.4 * j), 0.0, 9.9);
            if (j == 0 && k == 199)
                p.tolerance = 12;
        }
        if (!good) {
            run.points[1].verdict = "different";
            run.points[1].score = 40;
        }
        QCOMPARE(store.record(run), Store::Outcome::Stored);
    }
}

QProcess *TestCapability::zemctl(QStringList args)
{
    auto *p = new QProcess(this);
    p->start(ZEMCTL, QStringList { "history", "--db", where_.text() } + args);
    p->waitForFinished(60'000);
    return p;
}

// Each good board's score of a point, with the run's tolerance, oldest first.
std::vector<std::pair<double, double>> TestCapability::storedGoodScores(const QString &point)
{
    std::vector<std::pair<double, double>> scores;
    {
        const bool pg = where_.engine == Location::Engine::Postgres;
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", "plain");
        db.setHostName(where_.host);
        db.setUserName(where_.user);
        db.setDatabaseName(pg ? where_.database : where_.path);
        QSqlQuery q(db);
        if (!db.open() || !q.prepare("SELECT p.score, p.tolerance FROM points p, runs r "
                                     "WHERE r.id = p.run_id AND r.board_type = 'cap' "
                                     "AND r.verdict = 'pass' AND p.name = ? ORDER BY r.started_ms"))
            qFatal("cannot read the history");
        q.addBindValue(point);
        q.exec();
        while (q.next())
            scores.emplace_back(q.value(0).toDouble(), q.value(1).toDouble());
    }
    QSqlDatabase::removeDatabase("plain");
    return scores;
}

void TestCapability::figuresMatchTheStoredScores_data()
{
    QTest::addColumn<QString>("rate");
    QTest::addColumn<double>("z"); // the normal quantile at 1 - rate
    // 200 boards are too few to see these tails: the normal model where it
    // lies above the largest score, which is near z = 2.7 here.
    QTest::newRow("0.1 %") << "0.001" << 3.090232306167813;
    QTest::newRow("0.4 %") << "0.004" << 2.652069807902199;
    // Four boards may fail: the fifth largest score.
    QTest::newRow("2 %") << "0.02" << 0.0;
    QTest::newRow("half") << "0.5" << 0.0;
}

void TestCapability::figuresMatchTheStoredScores()
{
    QFETCH(QString, rate);
    QFETCH(double, z);
    QProcess *p = zemctl({ "points", "--board", "cap", "--cpk", "--rate", rate });
    QCOMPARE(p->exitCode(), 0);
    const QList<QByteArray> lines = p->readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    int normals = 0;
    for (const QByteArray &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const auto stored = storedGoodScores(o["point"].toString());
        const double n = double(stored.size());
        QCOMPARE(n, 200.0);
        std::vector<double> s;
        double sum = 0;
        for (const auto &[score, tolerance] : stored) {
            s.push_back(score);
            sum += score;
        }
        const double mean = sum / n;
        double squares = 0;
        for (double v : s)
            squares += (v - mean) * (v - mean);
        const double sigma = std::sqrt(squares / (n - 1));
        const double usl = stored.back().second;
        std::sort(s.begin(), s.end());
        const auto allowed = std::size_t(n * rate.toDouble());
        const bool normal = !allowed && mean + z * sigma > s.back();
        const double suggested = normal ? mean + z * sigma : s[s.size() - 1 - allowed];
        const auto near = [](double a, double b) { return std::abs(a - b) <= 1e-9 * std::abs(b); };
        QCOMPARE(o["n"].toInt(), 200);
        QVERIFY(near(o["mean"].toDouble(), mean));
        QVERIFY(near(o["sigma"].toDouble(), sigma));
        QCOMPARE(o["tolerance"].toDouble(), usl);
        QVERIFY(near(o["cpk"].toDouble(), (usl - mean) / (3 * sigma)));
        QVERIFY2(near(o["suggested_tolerance"].toDouble(), suggested), line.constData());
        QCOMPARE(o["suggested_from"].toString(), normal ? "normal" : "quantile");
        normals += normal;
        QCOMPARE(o["tested"].toInt(), 220);
    }
    if (rate == "0.001")
        QVERIFY(normals > 0); // the normal model is exercised
    QProcess *text
        = zemctl({ "--format", "text", "points", "--board", "cap", "--cpk", "--rate", rate });
    QCOMPARE(text->exitCode(), 0);
    QVERIFY(text->readAllStandardOutput().startsWith("point  tested"));
}

void TestCapability::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    QTest::newRow("rate 0") << QStringList { "--cpk", "--rate", "0" } << "--rate";
    QTest::newRow("rate 1") << QStringList { "--cpk", "--rate", "1" } << "--rate";
    QTest::newRow("rate nan") << QStringList { "--cpk", "--rate", "nan" } << "--rate";
    QTest::newRow("rate without cpk") << QStringList { "--rate", "0.01" } << "--cpk";
}

void TestCapability::badOptionsAreRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    QProcess *p = zemctl(QStringList { "points", "--board", "cap" } + args);
    QCOMPARE(p->exitCode(), 1);
    QVERIFY(p->readAllStandardOutput().isEmpty());
    const QByteArray error = p->readAllStandardError();
    QVERIFY2(error.contains(said.toUtf8()), error.constData());
}

QTEST_GUILESS_MAIN(TestCapability)
#include "tst_capability.moc"
