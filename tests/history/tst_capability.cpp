// zemctl history points --cpk over a history of 200 good and 20 bad boards,
// against figures worked out here from the scores read back with plain SQL;
// on PostgreSQL instead when ZEM_TEST_PG names a server (with_postgres.sh).
#include "samplerun.h"
#include "store.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <random>

using namespace zem::history;

class TestCapability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void figuresMatchTheStoredScores_data();
    void figuresMatchTheStoredScores();
    void tooLittleDataGivesNoSuggestion_data();
    void tooLittleDataGivesNoSuggestion();

private:
    QTemporaryDir tmp_;
    Location where_;
};

// zemctl history ARGS: its exit code and standard output, or standard error after a failure.
static std::pair<int, QByteArray> zemctl(const Location &where, const QStringList &args)
{
    QProcess p;
    p.start(ZEMCTL, QStringList { "history", "--db", where.text() } + args);
    p.waitForFinished(60'000);
    return { p.exitCode(), p.exitCode() ? p.readAllStandardError() : p.readAllStandardOutput() };
}

void TestCapability::initTestCase()
{
    qputenv("XDG_DATA_HOME", tmp_.path().toUtf8());
    where_
        = *parseLocation(qEnvironmentVariable("ZEM_TEST_PG", tmp_.filePath("h.sqlite")), nullptr);
    Store store;
    QVERIFY2(store.open(where_), qPrintable(store.errorString()));
    // Each point's score spreads more than the one before; P0's tolerance
    // was raised for the newest good board, whose tolerance is the limit.
    std::mt19937 random(7);
    std::normal_distribution<double> spread;
    for (int k = 0; k < 220; ++k) {
        Run run = sampleRun("cap", 4, 8);
        run.started = QDateTime::currentDateTimeUtc().addSecs(k - 1000);
        run.verdict = k < 200 ? "pass" : "fail";
        for (int j = 0; j < 4; ++j) {
            run.points[std::size_t(j)].verdict = "pass";
            run.points[std::size_t(j)].score
                = std::clamp(2 + j + spread(random) * (0.3 + 0.4 * j), 0.0, 9.9);
        }
        run.points[0].tolerance = k == 199 ? 12 : 10;
        if (k >= 200) {
            run.points[1].verdict = "different";
            run.points[1].score = 40;
        }
        QCOMPARE(store.record(run), Store::Outcome::Stored);
    }
    // Scores that never vary (identical curves), and a single good board.
    for (const char *board : { "flat", "flat", "flat", "single" })
        QCOMPARE(store.record(sampleRun(board, 1, 8)), Store::Outcome::Stored);
}

void TestCapability::figuresMatchTheStoredScores_data()
{
    QTest::addColumn<QString>("rate");
    QTest::addColumn<double>("z"); // the normal quantile at 1 - rate
    QTest::addColumn<bool>("cpk");
    // 200 boards are too few to see these tails: the normal model where it
    // lies above the largest score, which is near z = 2.7 here.
    QTest::newRow("0.1 %") << "0.001" << 3.090232306167813 << true;
    QTest::newRow("0.4 %") << "0.004" << 2.652069807902199 << true;
    // Four boards may fail: the fifth largest score.
    QTest::newRow("2 %") << "0.02" << 0.0 << true;
    QTest::newRow("half") << "0.5" << 0.0 << true;
    // Refused, with nothing printed.
    for (const char *bad : { "0", "1", "nan", "1e-400" })
        QTest::newRow(bad) << bad << 0.0 << true;
    QTest::newRow("--rate without --cpk") << "0.01" << 0.0 << false;
}

void TestCapability::figuresMatchTheStoredScores()
{
    QFETCH(QString, rate);
    QFETCH(double, z);
    QFETCH(bool, cpk);
    const QStringList args { "points", "--board", "cap", cpk ? "--cpk" : "", "--rate", rate };
    const auto [code, out] = zemctl(where_, QStringList(args).filter(QRegularExpression(".")));
    if (!cpk || !(rate.toDouble() > 0 && rate.toDouble() < 1)) {
        QCOMPARE(code, 64); // usage
        QVERIFY2(out.contains(cpk ? "--rate" : "--cpk"), out.constData());
        QVERIFY2(rate != "1e-400" || out.contains("1e-400 is out of range"), out.constData());
        return;
    }
    QCOMPARE(code, 0);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    int normals = 0;
    QSqlDatabase db = QSqlDatabase::addDatabase(
        where_.engine == Location::Engine::Postgres ? "QPSQL" : "QSQLITE", "plain");
    db.setHostName(where_.host);
    db.setUserName(where_.user);
    db.setDatabaseName(where_.engine == Location::Engine::Postgres ? where_.database : where_.path);
    QVERIFY(db.open());
    for (const QByteArray &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        QSqlQuery q(db);
        q.prepare("SELECT p.score, p.tolerance FROM points p, runs r WHERE r.id = p.run_id "
                  "AND r.board_type = 'cap' AND r.verdict = 'pass' AND p.name = ? "
                  "ORDER BY r.started_ms");
        q.addBindValue(o["point"].toString());
        QVERIFY(q.exec());
        std::vector<double> s;
        double sum = 0, usl = 0, squares = 0;
        while (q.next()) {
            s.push_back(q.value(0).toDouble());
            sum += s.back();
            usl = q.value(1).toDouble();
        }
        const double n = double(s.size()), mean = sum / n;
        for (double v : s)
            squares += (v - mean) * (v - mean);
        const double sigma = std::sqrt(squares / (n - 1));
        std::sort(s.begin(), s.end());
        const auto allowed = std::size_t(n * rate.toDouble());
        const bool normal = !allowed && mean + z * sigma > s.back();
        const double suggested = normal ? mean + z * sigma : s[s.size() - 1 - allowed];
        normals += normal;
        const auto near = [](double a, double b) { return std::abs(a - b) <= 1e-9 * std::abs(b); };
        QCOMPARE(n, 200.0);
        QCOMPARE(o["n"].toInt(), 200);
        QCOMPARE(o["tested"].toInt(), 220);
        QCOMPARE(o["tolerance"].toDouble(), usl);
        QVERIFY(near(o["mean"].toDouble(), mean) && near(o["sigma"].toDouble(), sigma));
        QVERIFY(near(o["cpk"].toDouble(), (usl - mean) / (3 * sigma)));
        QVERIFY2(near(o["suggested_tolerance"].toDouble(), suggested), line.constData());
        QCOMPARE(o["suggested_from"].toString(), normal ? "normal" : "quantile");
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("plain");
    QVERIFY(rate != "0.001" || normals > 0); // the normal model is exercised
    QVERIFY(zemctl(where_, QStringList { "--format", "text" } + args)
                .second.startsWith("point  tested"));
}

void TestCapability::tooLittleDataGivesNoSuggestion_data()
{
    QTest::addColumn<QString>("board");
    QTest::newRow("scores all alike") << "flat";
    QTest::newRow("one good board") << "single";
}

void TestCapability::tooLittleDataGivesNoSuggestion()
{
    QFETCH(QString, board);
    const auto [code, out] = zemctl(where_, { "points", "--board", board, "--cpk" });
    QCOMPARE(code, 0);
    const QJsonObject o = QJsonDocument::fromJson(out).object();
    QVERIFY2(o["suggested_tolerance"].isNull(), out.constData());
    QCOMPARE(o["suggested_from"].toString(), "not_enough_data");
}

QTEST_GUILESS_MAIN(TestCapability)
#include "tst_capability.moc"
