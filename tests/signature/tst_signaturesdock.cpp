// The Signatures dock on the virtual instrument, driven as a user does: points
// typed in, a board learned with the probe's button (which the test presses),
// a second board tested with Space, the verdicts read from the table and kept
// in the history, a report written, the next test probing the failed point
// first.
#include "boardeditor.h"
#include "boardview.h"
#include "cadimportdialog.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "signaturemodel.h"
#include "signaturesdock.h"
#include "virtualcontrol.h"
#include "worker.h"

#include "zem.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

class tst_SignaturesDock : public QObject
{
    Q_OBJECT

private slots:
    void learnWithButtonThenTestWithSpace();
    void renameRefusesWhatNoNameMayBe();
    void componentPlacedByClicks_data();
    void componentPlacedByClicks();
    void fiducialsRegisterThePicture();
    void cadImportPreviewedThenUndone();
    void predictFromCad_data();
    void predictFromCad();
};

void tst_SignaturesDock::learnWithButtonThenTestWithSpace()
{
    DeviceSession session;
    zem::Connection &device = session.connection();
    QTemporaryDir dir;
    zem::history::Worker history;
    history.setLocationText(dir.filePath(QStringLiteral("h.sqlite")));
    DockContext context(session, &history);
    SignaturesDock dock(context);
    dock.show();
    const auto child
        = [&](const char *name) { return dock.findChild<QWidget *>(QLatin1String(name)); };
    QTest::keyClicks(child("signaturePointEdit"), QStringLiteral("R1, D1, C1"));
    QTest::keyClick(child("signaturePointEdit"), Qt::Key_Return);
    QCOMPARE(dock.signature().points.size(), 3u);

    // One press of the probe's button a point, which learns from one capture;
    // the probe moves to the next pin at each capture.
    device.open("virtual://open?pins=resistor:1000,diode,capacitor");

    QSignalSpy done(&dock, &SignaturesDock::pointDone);
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    QVERIFY(dock.isRunning());
    for (int k = 0; k < 3; ++k) {
        virtualcontrol::pressButton();
        QTRY_COMPARE(done.count(), k + 1);
    }
    QTRY_VERIFY(!dock.isRunning());
    for (const sig::Point &p : dock.signature().points)
        QVERIFY(p.learned());

    // The second board: its diode replaced by a resistor; no button.
    device.close();
    // Two captures a point (the dock's default): the probe stays on a pin for two.
    device.open("virtual://open?per_pin=2&pins=resistor:1000,resistor:1000,capacitor");
    QSignalSpy kept(&dock, &SignaturesDock::runRecorded);
    QTest::keyClicks(child("signatureSerialEdit"), QStringLiteral("SN-7"));
    static_cast<QRadioButton *>(child("signatureTestButton"))->click();
    auto *table = static_cast<QTableView *>(child("signatureTable"));
    table->setCurrentIndex(table->model()->index(0, 0));
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    done.clear();
    for (int k = 0; k < 3; ++k) {
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Space);
        QTRY_COMPARE(done.count(), k + 1);
    }
    QVERIFY(!dock.isRunning());
    const QAbstractItemModel *m = table->model();
    const auto verdict
        = [&](int row) { return m->index(row, SignatureModel::Verdict).data().toString(); };
    QCOMPARE(verdict(0), QStringLiteral("pass"));
    QCOMPARE(verdict(1), QStringLiteral("different"));
    QCOMPARE(verdict(2), QStringLiteral("pass"));
    // What changed, then what it reads as now.
    QVERIFY(m->index(1, SignatureModel::Reading).data().toString().contains("now resistor"));
    QTRY_COMPARE(kept.count(), 1);
    zem::history::Store store;
    QVERIFY(store.open(*zem::history::parseLocation(history.locationText(), nullptr)));
    const auto runs = store.runs({});
    QVERIFY(runs && runs->size() == 1);
    QCOMPARE(runs->front().run.boardSerial, QStringLiteral("SN-7"));
    QCOMPARE(runs->front().run.verdict, QStringLiteral("fail"));
    QVERIFY(dock.writeReport(dir.filePath(QStringLiteral("r.html"))));
    QVERIFY(dock.saveFile(dir.filePath(QStringLiteral("board.json"))));
    QVERIFY(dock.openFile(dir.filePath(QStringLiteral("board.json"))));
    QVERIFY(dock.signature().points[2].learned());

    // The point that failed is probed first next time; the order comes from
    // the history while the window goes on.
    static_cast<QCheckBox *>(child("signatureLikelyFirstCheck"))->setChecked(true);
    table->setCurrentIndex(table->model()->index(0, 0));
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    QTRY_COMPARE(table->currentIndex().row(), 1);
    QTRY_VERIFY(dock.isRunning());
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    QTRY_VERIFY(!dock.isRunning());

    // No good board: the three points compared with each other, the odd one out
    // flagged with what differs, and nothing learned from it.
    device.close();
    device.open("virtual://open?pins=resistor:1000,resistor:1000,resistor:1500");
    static_cast<QRadioButton *>(child("signatureSymmetryButton"))->click();
    table->setCurrentIndex(table->model()->index(0, 0));
    const sig::Signature before = dock.signature();
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    for (int k = 0; k < 3; ++k) {
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Space);
        QTRY_COMPARE(done.count(), 4 + k);
    }
    QTRY_VERIFY(!dock.isRunning());
    QTRY_COMPARE(verdict(2), QStringLiteral("different"));
    QCOMPARE(verdict(0), QStringLiteral("pass"));
    QVERIFY(m->index(2, SignatureModel::Reading).data().toString().contains("higher"));
    QVERIFY(*dock.signature().points[0].measurements[0].reference
        == *before.points[0].measurements[0].reference);
}

void tst_SignaturesDock::componentPlacedByClicks_data()
{
    QTest::addColumn<int>("pins");
    QTest::addColumn<bool>("twoRows");
    QTest::addColumn<QList<QPoint>>("clicks"); // in the picture's pixels
    QTest::addColumn<QList<QPoint>>("expected"); // of every pin, in order
    QTest::newRow("row of 5") << 5 << false << QList<QPoint> { { 100, 100 }, { 500, 100 } }
                              << QList<QPoint> { { 100, 100 }, { 200, 100 }, { 300, 100 },
                                     { 400, 100 }, { 500, 100 } };
    // Pin 1 top left, down to pin 3, across to pin 4, up to pin 6 facing pin 1.
    QTest::newRow("two rows of 3")
        << 6 << true << QList<QPoint> { { 100, 100 }, { 300, 100 }, { 100, 500 } }
        << QList<QPoint> { { 100, 100 }, { 100, 300 }, { 100, 500 }, { 300, 500 }, { 300, 300 },
               { 300, 100 } };
}

void tst_SignaturesDock::componentPlacedByClicks()
{
    QFETCH(int, pins);
    QFETCH(bool, twoRows);
    QFETCH(QList<QPoint>, clicks);
    QFETCH(QList<QPoint>, expected);
    DeviceSession session;
    DockContext context(session);
    SignaturesDock dock(context);
    dock.resize(900, 700);
    dock.show();
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QTemporaryDir dir;
    QVERIFY(image.save(dir.filePath(QStringLiteral("board.png"))));
    QVERIFY(dock.setPicture(dir.filePath(QStringLiteral("board.png"))));
    QCOMPARE(dock.addPoints(QStringLiteral("R1")), 1);
    QCOMPARE(dock.addComponent(QStringLiteral("U1"), pins), pins);
    dock.placeComponent(QStringLiteral("U1"), twoRows);
    auto *view = dock.findChild<BoardView *>(QStringLiteral("boardView"));
    QVERIFY(view && QTest::qWaitForWindowExposed(view));
    QTRY_VERIFY(view->pictureShown());
    for (const QPoint &at : clicks)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(at));

    // Within a screen pixel of the picture at the view's zoom.
    const double slack = 1.5 / view->transform().m11();
    const auto &points = dock.signature().points;
    QCOMPARE(int(points.size()), pins + 1);
    QVERIFY(!points[0].at);
    for (int k = 0; k < pins; ++k) {
        const auto &p = points[std::size_t(k + 1)];
        QCOMPARE(p.name, QStringLiteral("U1.%1").arg(k + 1));
        QVERIFY2(p.at && QLineF(*p.at, expected[k]).length() < slack, qPrintable(p.name));
    }
    // One undo takes the whole placement back.
    dock.undoStack()->undo();
    QVERIFY(!points[1].at && !points[std::size_t(pins)].at);
}

// Two fiducials clicked register the picture: the hint gives the residual,
// a point clicked gets its mm, and undo takes both back.
void tst_SignaturesDock::fiducialsRegisterThePicture()
{
    DeviceSession session;
    DockContext context(session);
    SignaturesDock dock(context);
    dock.resize(900, 700);
    dock.show();
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QTemporaryDir dir;
    QVERIFY(image.save(dir.filePath(QStringLiteral("board.png"))));
    QVERIFY(dock.setPicture(dir.filePath(QStringLiteral("board.png"))));
    QCOMPARE(dock.addPoints(QStringLiteral("R1")), 1);
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentWidget(dock.findChild<QWidget *>(QStringLiteral("boardPage")));
    auto *editor = dock.findChild<BoardEditor *>();
    auto *view = dock.findChild<BoardView *>(QStringLiteral("boardView"));
    QVERIFY(editor && view && QTest::qWaitForWindowExposed(view));
    QTRY_VERIFY(view->pictureShown());
    const auto click = [view](QPointF at) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(at));
    };
    editor->placeFiducial(QStringLiteral("F1"), QPointF(5, 5));
    click(QPointF(100, 500));
    editor->placeFiducial(QStringLiteral("F2"), QPointF(75, 5));
    click(QPointF(700, 500));
    auto *hint = dock.findChild<QLabel *>(QStringLiteral("boardHint"));
    QVERIFY2(hint->text().contains(QStringLiteral("registered on 2 fiducials: 0.000 mm RMS")),
        qPrintable(hint->text()));
    QVERIFY(view->registration());

    editor->setCurrent(0);
    click(QPointF(400, 200));
    const sig::Point &r1 = dock.signature().points[0];
    QVERIFY(r1.at && r1.mm);
    QVERIFY(QLineF(*r1.mm, view->registration()->toMm.map(*r1.at)).length() < 1e-9);
    QVERIFY2(QLineF(*r1.mm, QPointF(40, 40)).length() < 0.5, qPrintable(hint->text()));
    dock.undoStack()->undo();
    QVERIFY(!r1.at && !r1.mm);
    dock.undoStack()->undo();
    QVERIFY(!view->registration());
    QCOMPARE(dock.signature().fiducials.size(), 1u);
}

// A position file previewed (each point new, updated or no longer in the
// file), narrowed to one side, imported as one edit and undone.
void tst_SignaturesDock::cadImportPreviewedThenUndone()
{
    QTemporaryDir dir;
    const QString pos = dir.filePath(QStringLiteral("board-pos.csv"));
    QFile f(pos);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Ref,Val,Package,PosX,PosY,Rot,Side\nR1,1k,R0603,10,20,0,top\nU1,LM358,SO8,30,15,90,"
            "bottom\n");
    f.close();
    DeviceSession session;
    DockContext context(session);
    context.setFileChooser(std::make_shared<FixedFileChooser>(pos));
    SignaturesDock dock(context);
    dock.show();
    QCOMPARE(dock.addPoints(QStringLiteral("R1, X9")), 2);
    {
        CadImportDialog preview(dock.signature(), pos);
        QCOMPARE(preview.previewRows(), 3); // U1 new, R1 updated, X9 kept
        preview.findChild<QComboBox *>(QStringLiteral("cadSideBox"))->setCurrentIndex(2);
        QCOMPARE(preview.previewRows(), 2); // U1 new, X9 kept
    }
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentWidget(dock.findChild<QWidget *>(QStringLiteral("boardPage")));
    QTimer::singleShot(0, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            d->accept();
    });
    dock.findChild<QPushButton *>(QStringLiteral("signatureImportButton"))->click();
    const sig::Signature &s = dock.signature();
    QCOMPARE(s.points.size(), 3u);
    const sig::Point &u1 = s.points[std::size_t(s.find(QStringLiteral("U1")))];
    QVERIFY(u1.mm == QPointF(30, 15) && u1.side == sig::Side::Bottom);
    QCOMPARE(s.points[0].mm, std::optional(QPointF(10, 20)));
    dock.undoStack()->undo();
    QCOMPARE(s.points.size(), 2u);
    QVERIFY(!s.points[0].mm);
}

void tst_SignaturesDock::predictFromCad_data()
{
    QTest::addColumn<int>("meanwhile"); // 1: a board opened while it predicts, 2: the dock closed
    QTest::newRow("applied, clicked twice, undone") << 0;
    QTest::newRow("another board opened meanwhile") << 1;
    QTest::newRow("the dock closed meanwhile") << 2;
}

// The demo board with its parts but no references learned: predicted off
// the window's thread, applied as one edit that one undo takes back, and
// never onto a board opened meanwhile.
void tst_SignaturesDock::predictFromCad()
{
    QFETCH(int, meanwhile);
    const bool openAnother = meanwhile == 1;
    QTemporaryDir dir;
    QString error;
    auto board = sig::load(QStringLiteral(ZEM_DEMO_DIR "/demo.json"), &error);
    QVERIFY2(board, qPrintable(error));
    for (sig::Point &p : board->points)
        p.measurements = std::vector<sig::Measurement>(1);
    const QString file = dir.filePath(QStringLiteral("demo.json"));
    QVERIFY(sig::save(*board, file, &error));
    DeviceSession session;
    DockContext context(session);
    auto owned = std::make_unique<SignaturesDock>(context);
    SignaturesDock &dock = *owned;
    dock.show();
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentWidget(dock.findChild<QWidget *>(QStringLiteral("boardPage")));
    auto *predict = dock.findChild<QPushButton *>(QStringLiteral("signaturePredictButton"));
    QVERIFY(!predict->isEnabled()); // an empty signature has no parts
    QVERIFY(dock.openFile(file));
    QVERIFY(predict->isEnabled());
    predict->click();
    predict->click();
    QVERIFY(!predict->isEnabled());
    if (meanwhile == 2)
        return owned.reset(); // stops and waits for the simulations, applies nothing
    if (openAnother)
        QVERIFY(dock.openFile(file));
    auto *status = dock.findChild<QLabel *>(QStringLiteral("signatureStatus"));
    QTRY_VERIFY_WITH_TIMEOUT(predict->isEnabled(), 60000);
    const sig::Signature &s = dock.signature();
    const auto learned = [&s] {
        return std::count_if(
            s.points.begin(), s.points.end(), [](const sig::Point &p) { return p.learned(); });
    };
    QCOMPARE(learned(), openAnother ? 0 : 9);
    QCOMPARE(dock.undoStack()->count(), openAnother ? 0 : 1);
    QVERIFY2(
        status->text().contains(openAnother ? "nothing was applied" : "9 of 9 points predicted"),
        qPrintable(status->text()));
    dock.undoStack()->undo();
    QCOMPARE(learned(), 0);
    QVERIFY(!s.points[0].predicted());
}

// An empty name, a taken one and one with a control character are refused
// before any edit is asked for.
void tst_SignaturesDock::renameRefusesWhatNoNameMayBe()
{
    sig::Signature board;
    board.points.resize(2);
    board.points[0].name = QStringLiteral("R1"), board.points[1].name = QStringLiteral("R2");
    SignatureModel model;
    model.setSignature(&board);
    model.setEditable(true);
    QSignalSpy asked(&model, &SignatureModel::renameRequested);
    const QModelIndex first = model.index(0, SignatureModel::Name);
    for (const QString &refused : { QString(), QStringLiteral("R2"),
             QStringLiteral("R\x01"
                            "3") })
        QVERIFY2(!model.setData(first, refused), qPrintable(refused));
    QVERIFY(model.setData(first, QStringLiteral("R3")));
    QCOMPARE(asked.count(), 1);
}

QTEST_MAIN(tst_SignaturesDock)
#include "tst_signaturesdock.moc"
