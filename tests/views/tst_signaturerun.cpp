// The Signatures dock's document and run controller without any widget,
// against the recording double: points added and saved, a file that cannot
// be read, a board learned and tested by the measure key, a run stopped while
// it waits, and a run that cannot start.
#include "devicesession.h"
#include "dockcontext.h"
#include "records.h"
#include "runcontroller.h"
#include "signature.h"
#include "signaturedocument.h"
#include "zemdouble.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

class tst_SignatureRun : public QObject
{
    Q_OBJECT

private slots:
    void document();
    void learnThenTest();
    void refusedAndStopped();
};

void tst_SignatureRun::document()
{
    QTemporaryDir dir;
    SignatureDocument doc;
    QSignalSpy replaced(&doc, &SignatureDocument::replaced);
    QStringList taken;
    QCOMPARE(doc.addPoints(QStringLiteral("R1, R2\nR1"), &taken), 2);
    QCOMPARE(taken, QStringList { QStringLiteral("R1") });
    QCOMPARE(doc.addComponent(QStringLiteral("U1"), 2, &taken), 2);
    QCOMPARE(doc.addComponent(QStringLiteral("U1"), 2, &taken), 0);
    QCOMPARE(taken, (QStringList { QStringLiteral("U1.1"), QStringLiteral("U1.2") }));
    QVERIFY(doc.isModified());

    const QString file = dir.filePath(QStringLiteral("b.json"));
    QVERIFY(doc.save(file));
    QVERIFY(!doc.isModified());
    QCOMPARE(doc.path(), file);

    // A file that is no signature: false with the file named, nothing replaced.
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    QFile(bad).open(QIODevice::WriteOnly);
    QVERIFY(!doc.open(bad));
    QVERIFY(doc.errorString().contains(QStringLiteral("bad.json")));
    QCOMPARE(doc.signature().points.size(), 4u);
    QCOMPARE(replaced.count(), 0);

    doc.clear();
    QCOMPARE(doc.signature().points.size(), 0u);
    QVERIFY(doc.open(file));
    QCOMPARE(replaced.count(), 2);
    QCOMPARE(doc.signature().points.size(), 4u);
    QVERIFY(!doc.undoStack()->canUndo());
}

namespace {

using zemdouble::bytes;

// A device whose measurements complete at once with one frame of a 1 kOhm line.
void scriptDevice()
{
    zemdouble::reset();
    measurement_settings settings = sig::defaultSettings();
    settings.NumberPoints = FRAME_SIZE;
    zemdouble::setResponse("zem_get_measurement_settings", bytes(settings));
    check_measurement_status_response status {};
    status.ReadyStatus = MEASUREMENT_COMPLETE;
    zemdouble::setResponse("zem_check_measurement_status", bytes(status));
    get_measurement_response frame {};
    for (int k = 0; k < FRAME_SIZE; ++k) {
        frame.Voltage[k] = float(k - FRAME_SIZE / 2) / 4;
        frame.Current[k] = frame.Voltage[k];
    }
    zemdouble::setResponse("zem_get_measurement", bytes(frame));
}

// Presses the measure key as soon as the run waits, until `points` are done.
void measureEach(RunController &run, int points)
{
    QSignalSpy done(&run, &RunController::pointDone);
    for (int k = 0; k < points; ++k) {
        QTRY_VERIFY(run.isRunning() && !run.isMeasuring());
        run.measure();
        QTRY_COMPARE(done.count(), k + 1);
    }
}

} // namespace

void tst_SignatureRun::learnThenTest()
{
    scriptDevice();
    DeviceSession session;
    session.connection().open("double");
    DockContext context(session);
    SignatureDocument doc;
    RunController run(context, doc);
    QSignalSpy log(&run, &RunController::logMessage);
    doc.addPoints(QStringLiteral("R1, R2"));

    QVERIFY(run.start(RunController::Options()));
    measureEach(run, 2);
    QTRY_VERIFY(!run.isRunning());
    QVERIFY(run.isFinished());
    for (const sig::Point &p : doc.signature().points)
        QVERIFY(p.learned());
    // Each point's references are one undoable edit, after the two added.
    QCOMPARE(doc.undoStack()->count(), 3);
    QCOMPARE(doc.undoStack()->text(2), QStringLiteral("Learn R2"));
    QCOMPARE(run.results(), nullptr);

    RunController::Options test;
    test.kind = RunController::Kind::Test;
    test.row = 1; // the last run finished: the next starts over
    QVERIFY(run.start(test));
    measureEach(run, 2);
    QTRY_VERIFY(!run.isRunning());
    QVERIFY(run.results());
    QCOMPARE(run.results()->size(), 2u);
    for (const sig::PointResult &r : *run.results())
        QCOMPARE(r.verdict, sig::Verdict::Pass);
    QStringList lines;
    for (const auto &args : log)
        lines << args.at(0).toString();
    QCOMPARE(lines.filter(QStringLiteral("test started")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral("R1: pass")).size(), 1);
    QCOMPARE(lines.filter(QStringLiteral("run stopped")).size(), 2);
}

void tst_SignatureRun::refusedAndStopped()
{
    zemdouble::reset();
    DeviceSession session;
    DockContext context(session);
    SignatureDocument doc;
    RunController run(context, doc);
    QSignalSpy status(&run, &RunController::statusChanged);

    QVERIFY(!run.start({})); // no device
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Connect to an instrument first."));
    session.connection().open("double");
    QVERIFY(!run.start({})); // no points
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Add the points to probe first."));

    // Stopped while it waits for the probe: nothing learned, the machine gone
    // when another signature is opened.
    doc.addPoints(QStringLiteral("R1"));
    QSignalSpy state(&run, &RunController::stateChanged);
    QVERIFY(run.start({}));
    QVERIFY(run.isRunning());
    run.stop();
    QVERIFY(!run.isRunning());
    QVERIFY(!run.isFinished());
    QVERIFY(!doc.signature().points.front().learned());
    QVERIFY(run.start({}));
    doc.clear();
    QVERIFY(!run.isRunning());
    QCOMPARE(run.results(), nullptr);
}

QTEST_MAIN(tst_SignatureRun)
#include "tst_signaturerun.moc"
