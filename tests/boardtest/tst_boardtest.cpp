// One board test below every program: the same plans run through zemctl
// (a process), Signature.test (a Python process), the Signatures dock and
// zem_bench (driven by their keys) on the virtual instrument, each leaving
// the same verdict, coverage and counts, the same run in the history and,
// from zemctl, JUnit saying as much. A learn on a probe touching nothing is
// refused by each; no writer of any program writes over a file in use.
#include "benchwindow.h"
#include "boardeditor.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "location.h"
#include "proberpanel.h"
#include "runcontroller.h"
#include "signaturesdock.h"
#include "store.h"
#include "worker.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "stiffgantry.h"

class tst_BoardTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameRecordFromEveryProgram_data();
    void sameRecordFromEveryProgram();
    void learningNothingIsRefused_data();
    void learningNothingIsRefused();
    void noWriterWritesOverAFileInUse_data();
    void noWriterWritesOverAFileInUse();

private:
    QTemporaryDir m_dir;
    QString m_board; // learned on kGood
    QString m_moved; // the same, D1 placed where the machine finds no pad
    QString m_history; // one run
};

namespace {

// X1 is for information only; the machine finds the board where F1 and F2 were taught.
const QByteArray kBoard = R"({"format":"zem-signature","version":3,"board":"B",
"settings":{"SamplingRate":10000,"ProbeSignalFrequency":100,"NumberPoints":100,
"NumberChargePoints":0,"MaxVoltage":5,"CurrentSensorMode":2,"OutputMode":0},
"points":[{"name":"R1","mm":[10,10]},{"name":"D1","mm":[20,10]},{"name":"R2","mm":[30,10]},
{"name":"X1","mm":[40,10],"check":"info"}],
"fiducials":[{"name":"F1","mm":[0,0],"machine":[20,20]},{"name":"F2","mm":[50,0],"machine":[70,20]}]})";
const QString kGood = QStringLiteral("resistor:1000,diode,resistor:4700,resistor:2200");
const QString kPins = QStringLiteral("virtual://open?noise=0&pins=");

const char *kTest = R"(import json, sys, zem
url, board, db, start, prober = sys.argv[1:]
sig = zem.Signature.load(board)
with zem.open(url) as dev:
    results = sig.test(dev, points=sig.points[sig.points.index(start):] if start else None,
                       history=db, serial="SN-1", prober=zem.Prober.open(prober) if prober else None)
print(json.dumps(results.summary)))";
const char *kLearn = R"(import sys, zem
url, board, after, add = sys.argv[1:]
sig = zem.Signature.load(board)
try:
    with zem.open(url) as dev:
        sig.learn(dev, add=bool(add))
except zem.MeasurementError as e:
    print(e)
sig.save(after))";

// Its exit code, -1 when it did not end; its standard output and error.
int run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
    QByteArray *err = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(ZEM_PYTHONPATH));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(err ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    p.start(program, args);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

template <class T = QWidget> T *child(const QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// "verdict coverage -untested... count=n...", the counts that are not zero.
QString account(const QJsonObject &o)
{
    QStringList words { o["verdict"].toString(), o["coverage"].toString() };
    for (const QJsonValue &name : o["untested"].toArray())
        words << QLatin1Char('-') + name.toString();
    for (const auto &[key, unused] : sig::boardVerdictCounts(sig::BoardVerdict()))
        if (const int n = o[QLatin1String(key)].toInt())
            words << QStringLiteral("%1=%2").arg(QLatin1String(key)).arg(n);
    return words.join(QLatin1Char(' '));
}

QString account(const sig::RunRecord &r)
{
    QJsonObject o { { "verdict", sig::boardVerdictName(r.verdict.kind) },
        { "coverage", r.coverage.complete ? "complete" : "partial" } };
    QJsonArray untested;
    for (int k : r.coverage.untested)
        untested << r.signature.points[std::size_t(k)].name;
    o["untested"] = untested;
    for (const auto &[key, n] : sig::boardVerdictCounts(r.verdict))
        o[QLatin1String(key)] = n;
    return account(o) + (r.coverage.subset ? " subset" : "");
}

// The history's one run: "verdict untested serial info-points".
QString kept(const QString &db)
{
    zem::history::Store store;
    const auto where = zem::history::parseLocation(db, nullptr);
    if (!where || !store.open(*where))
        return store.errorString();
    const auto runs = store.runs({});
    if (!runs || runs->size() != 1)
        return QStringLiteral("%1 runs").arg(runs ? int(runs->size()) : -1);
    const zem::history::Run run = store.run(runs->front().run.uuid).value_or(zem::history::Run());
    QStringList info;
    for (const zem::history::PointResult &p : run.points)
        if (p.info)
            info << p.name;
    return QStringList { run.verdict, run.untested.join(','), run.boardSerial, info.join(',') }
        .join(' ');
}

// Space for each point, each time once the last is done, then the run's end.
bool probe(
    QWidget *keys, QSignalSpy &done, int points, bool machine, const std::function<bool()> &running)
{
    for (int k = 0; k < points; ++k) {
        if (!machine)
            QTest::keyClick(keys ? keys : QApplication::focusWidget(), Qt::Key_Space);
        if (!QTest::qWaitFor([&] { return done.count() > k; }, 60000))
            return false;
    }
    return QTest::qWaitFor([&] { return !running(); }, 60000);
}

// The Signatures dock with what it needs, its runs kept in db.
struct Dock
{
    explicit Dock(const QString &db) { worker.setLocationText(db); }
    DeviceSession session;
    zem::history::Worker worker;
    DockContext context { session, &worker };
    SignaturesDock dock { context };
};

// The bench shown, the board open in it, its runs kept in db.
bool opened(BenchWindow &window, const QString &board, const QString &db)
{
    window.context().history()->setLocationText(db);
    window.show();
    QSignalSpy opened(&window, &BenchWindow::boardOpened);
    window.openBoard(board);
    return QTest::qWaitForWindowActive(&window)
        && QTest::qWaitFor([&] { return !opened.isEmpty(); }, 10000)
        && opened.front().front().toBool();
}

} // namespace

void tst_BoardTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The spool of the history lives here, for the guard to keep.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("data/zem-tools"))));
    m_board = m_dir.filePath(QStringLiteral("b.json"));
    m_moved = m_dir.filePath(QStringLiteral("moved.json"));
    m_history = m_dir.filePath(QStringLiteral("h.sqlite"));
    QVERIFY(
        write(m_board, kBoard) && write(m_moved, QByteArray(kBoard).replace("[20,10]", "[20,15]")));
    for (const QString &board : { m_board, m_moved })
        QCOMPARE(run(ZEMCTL, { "-u", kPins + kGood, "learn", board }), 0);
    QCOMPARE(run(ZEMCTL, { "-u", kPins + kGood, "test", m_board, "--db", m_history }), 0);
}

void tst_BoardTest::sameRecordFromEveryProgram_data()
{
    QTest::addColumn<QString>("pins");
    QTest::addColumn<QString>("from"); // the first point probed; "" for all
    QTest::addColumn<bool>("machine"); // the virtual gantry brings the probe
    // Verdict, coverage, -each untested point, and the counts not zero.
    QTest::addColumn<QString>("record");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<int>>("junit"); // tests, failures, skipped

    const QString changed = "resistor:1000,resistor:1000,resistor:4700,resistor:2200";
    QTest::newRow("good") << kGood << "" << false << "pass complete points=4 passed=4" << 0
                          << QList<int> { 4, 0, 0 };
    QTest::newRow("D1 changed") << changed << "" << false
                                << "fail complete points=4 passed=3 different=1" << 5
                                << QList<int> { 4, 1, 0 };
    QTest::newRow("from D1") << kGood << "D1" << false << "partial partial -R1 points=4 passed=3"
                             << 7 << QList<int> { 4, 0, 1 };
    QTest::newRow("from D1, changed")
        << changed << "D1" << false << "fail partial -R1 points=4 passed=2 different=1" << 5
        << QList<int> { 4, 1, 1 };
    QTest::newRow("R2 unstable") << kGood + "&unstable=3"
                                 << "" << false << "unstable complete points=4 passed=3 unstable=1"
                                 << 6 << QList<int> { 4, 1, 0 };
    QTest::newRow("info point different")
        << "resistor:1000,diode,resistor:4700,resistor:47000"
        << "" << false << "pass complete points=4 passed=3 info=1" << 0 << QList<int> { 4, 0, 0 };
    // Only a machine tries a pad again, and gives it up as no contact; the
    // bench has none.
    QTest::newRow("D1 missed by the machine")
        << kGood << "" << true << "no_contact complete points=4 passed=3 no_contact=1" << 5
        << QList<int> { 4, 1, 0 };
}

void tst_BoardTest::sameRecordFromEveryProgram()
{
    QFETCH(QString, pins);
    QFETCH(QString, from);
    QFETCH(bool, machine);
    QFETCH(QString, record);
    QFETCH(int, exitCode);
    QFETCH(QList<int>, junit);
    const QStringList untested = record.split(' ').filter(QRegularExpression("^-"));
    const QString history
        = QStringList { record.section(' ', 0, 0), untested.join(',').remove('-'), "SN-1", "X1" }
              .join(' ');

    QTemporaryDir dir;
    const auto db = [&](const char *program) { return dir.filePath(program + QString(".sqlite")); };
    const QString board = machine ? m_moved : m_board;
    QString url = kPins + pins, prober;
    QProcess sim;
    if (machine) {
        QString why;
        const QString port = startStiffGantry(sim, m_board, &why);
        QVERIFY2(!port.isEmpty(), qPrintable(why));
        url = QStringLiteral("virtual://open?gantry=127.0.0.1:%1&noise=0&pins=%2").arg(port, pins);
        prober = QStringLiteral("grbl-tcp://127.0.0.1:%1?safe=-35&surface=-40&feed=100"
                                "&contact_feed=50")
                     .arg(port);
    }
    const int first = from.isEmpty() ? 0 : 1;
    const int points = 4 - first;

    const QString xml = dir.filePath(QStringLiteral("j.xml"));
    QStringList args { "-u", url, "test", board, "--db", db("zemctl"), "--junit", xml, "--serial",
        "SN-1" };
    if (!from.isEmpty())
        args << "--from" << from;
    if (machine)
        args << "--prober" << prober;
    QByteArray out;
    QCOMPARE(run(ZEMCTL, args, &out), exitCode);
    QCOMPARE(account(QJsonDocument::fromJson(out.trimmed().split('\n').last()).object()), record);
    QCOMPARE(kept(db("zemctl")), history);
    const QString suite = QStringLiteral(R"(tests="%1" failures="%2" errors="0" skipped="%3")")
                              .arg(junit[0])
                              .arg(junit[1])
                              .arg(junit[2]);
    QVERIFY2(contents(xml).contains(suite.toUtf8()), contents(xml));

#ifdef PYTHON
    QCOMPARE(run(PYTHON, { "-c", kTest, url, board, db("python"), from, prober }, &out), 0);
    QCOMPARE(account(QJsonDocument::fromJson(out).object()), record);
    QCOMPARE(kept(db("python")), history);
#endif

    // The windows' records say too whether the run began past the first point.
    const QString windows = record + (first > 0 ? " subset" : "");
    {
        Dock docked(db("dock"));
        SignaturesDock &dock = docked.dock;
        dock.resize(1100, 700);
        dock.show();
        QVERIFY(QTest::qWaitForWindowActive(&dock));
        QVERIFY(dock.openFile(board));
        docked.session.connection().open(url.toStdString());
        if (machine) {
            child<QTabWidget>(&dock, "signatureTabs")->setCurrentWidget(child(&dock, "boardPage"));
            BoardEditor *editor = dock.findChild<BoardEditor *>();
            editor->showProber(true);
            child<QLineEdit>(editor->prober(), "proberUrlEdit")->setText(prober);
            child<QPushButton>(editor->prober(), "proberConnectButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(editor->prober()->machineState().open, 10000);
        }
        child<QRadioButton>(&dock, "signatureTestButton")->click();
        QTest::keyClicks(child(&dock, "signatureSerialEdit"), "SN-1");
        auto *table = child<QTableView>(&dock, "signatureTable");
        table->setCurrentIndex(table->model()->index(first, 0));
        auto *controller = dock.findChild<RunController *>();
        QSignalSpy done(&dock, &SignaturesDock::pointDone);
        QSignalSpy recorded(controller, &RunController::runRecorded);
        child<QPushButton>(&dock, "signatureRunButton")->click();
        table->setFocus();
        QVERIFY(probe(table, done, points, machine, [&] { return dock.isRunning(); }));
        QCOMPARE(account(controller->record()), windows);
        QTRY_COMPARE(recorded.count(), 1);
        QCOMPARE(kept(db("dock")), history);
    }

    if (machine) {
        sim.kill();
        sim.waitForFinished();
        return;
    }
    BenchWindow window;
    QVERIFY(opened(window, board, db("bench")));
    QVERIFY(window.connectTo(url));
    auto *table = child<QTableView>(&window, "pointsTable");
    table->setCurrentIndex(table->model()->index(first, 0));
    auto *controller = window.findChild<RunController *>();
    QSignalSpy done(&window, &BenchWindow::pointDone);
    QSignalSpy recorded(controller, &RunController::runRecorded);
    auto *serial = child<QLineEdit>(&window, "serialEdit");
    serial->setFocus();
    QTest::keyClicks(serial, "SN-1");
    QTest::keyClick(serial, Qt::Key_Return);
    QVERIFY(probe(nullptr, done, points, false, [&] { return controller->isRunning(); }));
    QCOMPARE(account(controller->record()), windows);
    QTRY_COMPARE(recorded.count(), 1);
    QCOMPARE(kept(db("bench")), history);
}

void tst_BoardTest::learningNothingIsRefused_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("add"); // to the references, rather than replacing them
    QTest::newRow("zemctl") << "zemctl" << false;
    QTest::newRow("zemctl --add") << "zemctl" << true;
#ifdef PYTHON
    QTest::newRow("python") << "python" << false;
    QTest::newRow("python, add") << "python" << true;
#endif
    QTest::newRow("bench, which adds") << "bench" << true;
}

// Every point read open: the program says so, and the board is as it was.
// The bench, which adds every board learned, stands for the windows: both
// learn through the same run controller.
void tst_BoardTest::learningNothingIsRefused()
{
    QFETCH(QString, program);
    QFETCH(bool, add);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("b.json"));
    const QString after = dir.filePath(QStringLiteral("after.json"));
    QVERIFY(QFile::copy(m_board, file));
    const QString open = QStringLiteral("virtual://open?noise=0");
    QByteArray said;
    if (program == QLatin1String("zemctl")) {
        QStringList args { "-u", open, "learn", file };
        if (add)
            args << "--add";
        QCOMPARE(run(ZEMCTL, args, nullptr, &said), 1);
        QVERIFY(QFile::copy(file, after));
#ifdef PYTHON
    } else if (program == QLatin1String("python")) {
        QCOMPARE(run(PYTHON, { "-c", kLearn, open, file, after, add ? "1" : "" }, &said), 0);
#endif
    } else {
        BenchWindow window;
        QVERIFY(opened(window, file, dir.filePath(QStringLiteral("h.sqlite"))));
        QVERIFY(window.connectTo(open));
        child<QComboBox>(&window, "modeCombo")->setCurrentIndex(1);
        auto *controller = window.findChild<RunController *>();
        QSignalSpy done(&window, &BenchWindow::pointDone);
        child<QPushButton>(&window, "startButton")->click();
        QVERIFY(probe(nullptr, done, 4, false, [&] { return controller->isRunning(); }));
        said = window.statusBar()->currentMessage().toUtf8();
        QVERIFY(window.saveBoard(after));
    }
    QVERIFY2(said.contains("read open"), said.constData());
    QCOMPARE(contents(after), contents(m_board));
}

void tst_BoardTest::noWriterWritesOverAFileInUse_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("target");
    for (const QString writer : { "zemctl --report", "zemctl --junit",
             "zemctl --no-history --report", "zemctl history export --csv", "dock report",
             "dock save", "bench report", "bench save" }) {
        QStringList targets { "history", "-journal", "-wal", "spool", "hard link", "symlink" };
        // A board is saved over its own file, and a CSV knows no signature.
        if (!writer.endsWith(QLatin1String("save")) && !writer.endsWith(QLatin1String("csv")))
            targets << "signature";
        if (writer.startsWith(QLatin1String("zemctl --")))
            targets << "the other output";
        for (const QString &target : targets)
            QTest::newRow(qPrintable(writer + " over " + target)) << writer << target;
    }
}

// Refused, naming both files; nothing in use changes, byte for byte.
void tst_BoardTest::noWriterWritesOverAFileInUse()
{
    QFETCH(QString, writer);
    QFETCH(QString, target);
    QTemporaryDir dir;
    const auto at = [&](const QString &name) { return dir.filePath(name); };
    const QString db = at("h.sqlite"), board = at("b.json"), other = at("other.out");
    const QString spool = zem::history::defaultSpoolPath();
    QVERIFY(QFile::copy(m_history, db) && QFile::copy(m_board, board));
    QVERIFY(write(db + "-journal", "journal") && write(db + "-wal", "wal") && write(spool, "spool")
        && write(other, "other"));
    QVERIFY(::link(QFile::encodeName(db), QFile::encodeName(at("h.link"))) == 0);
    QVERIFY(QFile::link(db, at("h.symlink")));
    const QMap<QString, QString> targets { { "history", db }, { "-journal", db + "-journal" },
        { "-wal", db + "-wal" }, { "spool", spool }, { "hard link", at("h.link") },
        { "symlink", at("h.symlink") }, { "signature", board }, { "the other output", other } };
    const QString to = targets[target];
    const QString keeper = target == "signature" || target == "the other output" ? to : db;
    QMap<QString, QByteArray> before;
    for (const QString &file : targets)
        before[file] = contents(file);

    QString said;
    const bool save = writer.endsWith(QLatin1String("save"));
    if (writer.startsWith(QLatin1String("zemctl"))) {
        QStringList args { "-u", kPins + kGood, "test", board, "--db", db,
            writer.contains("junit") ? "--junit" : "--report", to };
        if (writer.contains("csv"))
            args = QStringList { "history", "--db", db, "export", "--csv", to };
        if (writer.contains("no-history"))
            args << "--no-history";
        if (target == "the other output")
            args << (writer.contains("junit") ? "--report" : "--junit") << other;
        QByteArray err;
        QCOMPARE(run(ZEMCTL, args, nullptr, &err), 1);
        said = QString::fromUtf8(err);
    } else if (writer.startsWith(QLatin1String("dock"))) {
        Dock docked(db);
        SignaturesDock &dock = docked.dock;
        QVERIFY(dock.openFile(board));
        QVERIFY(!(save ? dock.saveFile(to) : dock.writeReport(to)));
        said = child<QLabel>(&dock, "signatureStatus")->text();
    } else {
        BenchWindow window;
        QVERIFY(opened(window, board, db));
        QVERIFY(!(save ? window.saveBoard(to) : window.writeReport(to)));
        said = window.statusBar()->currentMessage();
    }
    QVERIFY2(said.contains(to) && said.contains(keeper), qPrintable(said));
    for (const QString &file : targets)
        QVERIFY2(contents(file) == before[file], qPrintable(file));
}

QTEST_MAIN(tst_BoardTest)
#include "tst_boardtest.moc"
