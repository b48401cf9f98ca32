// The Signatures dock's Prober panel on the virtual gantry, used as a
// technician does: connect, home, jog with the arrow keys onto the two
// fiducials and teach them, see the probe drawn on the photo, stop a jog;
// then learn a board and test a bad one with the machine bringing the probe,
// the panel handing its line to each run and taking it back.
#include "boardeditor.h"
#include "boardview.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "proberpanel.h"
#include "signaturesdock.h"

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "stiffgantry.h"

class tst_ProberPanel : public QObject
{
    Q_OBJECT

private slots:
    void teachByJoggingThenProbeByMachine();
};

void tst_ProberPanel::teachByJoggingThenProbeByMachine()
{
    QTemporaryDir dir;
    // Six points 10 mm apart; the photo (800 x 600 px, 10 px a mm) registered
    // by its two fiducials at the board's lower corners.
    sig::Signature board;
    board.board = QStringLiteral("six");
    board.settings = sig::defaultSettings();
    QStringList pins;
    for (int k = 0; k < 6; ++k) {
        sig::Point p;
        p.name = QStringLiteral("P%1").arg(k);
        p.mm = QPointF(10 + 10 * (k % 3), 10 + 10 * (k / 3));
        board.points.push_back(p);
        pins << QStringLiteral("resistor:%1").arg(1000 * (k + 1));
    }
    board.fiducials = { { "F1", { 0, 0 }, QPointF(100, 500), {} },
        { "F2", { 50, 0 }, QPointF(600, 500), {} } };
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    QString error;
    board.image = sig::pictureFromData(png, &error);
    const QString file = dir.filePath(QStringLiteral("six.json"));
    QVERIFY2(sig::save(board, file, &error), qPrintable(error));

    QProcess sim;
    QString why;
    const QString port = startStiffGantry(sim, file, &why);
    QVERIFY2(!port.isEmpty(), qPrintable(why));

    DeviceSession session;
    DockContext context(session);
    SignaturesDock dock(context);
    dock.resize(1100, 700);
    dock.show();
    QVERIFY(dock.openFile(file));
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentWidget(dock.findChild<QWidget *>(QStringLiteral("boardPage")));
    auto *editor = dock.findChild<BoardEditor *>();
    QVERIFY(editor);
    editor->showProber(true);
    ProberPanel *panel = editor->prober();
    auto *view = dock.findChild<BoardView *>(QStringLiteral("boardView"));
    const auto button = [&](const char *name) {
        return panel->findChild<QPushButton *>(QLatin1String(name));
    };
    panel->findChild<QLineEdit *>(QStringLiteral("proberUrlEdit"))
        ->setText(QStringLiteral("grbl-tcp://127.0.0.1:%1?safe=-35&surface=-40&feed=100&contact_feed=50").arg(port));
    button("proberConnectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(panel->machineState().open, 10000);
    // Jogs wait for homing: the position means nothing before.
    QVERIFY(!button("proberJogXPlus")->isEnabled());
    button("proberHomeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(panel->machineState().homed, 20000);

    // The arrow keys jog by the step chosen (10 mm) wherever the focus is on
    // the Board tab. The board lies at machine 20, 20.
    panel->findChild<QComboBox *>(QStringLiteral("proberStepBox"))->setCurrentIndex(3);
    dock.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dock));
    view->setFocus();
    const auto at = [&](double x, double y) {
        const auto &p = panel->machineState().position;
        return p && std::abs(p->x - x) < 0.01 && std::abs(p->y - y) < 0.01
            && panel->machineState().state == QLatin1String("Idle");
    };
    const auto keys = [&](Qt::Key key, int times) {
        for (int k = 0; k < times; ++k)
            QTest::keyClick(view, key);
    };
    keys(Qt::Key_Right, 2);
    keys(Qt::Key_Up, 2);
    QTRY_VERIFY_WITH_TIMEOUT(at(20, 20), 10000);
    auto *fiducial = panel->findChild<QComboBox *>(QStringLiteral("proberFiducialBox"));
    fiducial->setCurrentText(QStringLiteral("F1"));
    button("proberTeachButton")->click();
    keys(Qt::Key_Right, 5);
    QTRY_VERIFY_WITH_TIMEOUT(at(70, 20), 10000);
    fiducial->setCurrentText(QStringLiteral("F2"));
    button("proberTeachButton")->click();
    QCOMPARE(dock.signature().fiducials[1].machine, QPointF(70, 20));
    // The probe is drawn on the photo where the registered board puts F2.
    QTRY_VERIFY(view->probeAt() && QLineF(*view->probeAt(), QPointF(600, 500)).length() < 0.5);
    // Stop ends a jog at once; the line stays, and so does the machine's place.
    button("proberJogXMinus")->click();
    button("proberStopButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(panel->machineState().state == QLatin1String("Idle"), 10000);
    QVERIFY(panel->machineState().open);
    keys(Qt::Key_Right, 1);
    QTRY_VERIFY_WITH_TIMEOUT(panel->machineState().position->x > 60, 10000);

    // Learn the good board, then test one whose P3 is a diode: the machine
    // brings the probe to each point and says when it is down.
    const auto run = [&](const char *mode, const QStringList &loads) {
        session.connection().close();
        session.connection().open(QStringLiteral("virtual://open?gantry=127.0.0.1:%1&noise=0&pins=%2")
                                      .arg(port, loads.join(QLatin1Char(',')))
                                      .toStdString());
        dock.findChild<QRadioButton *>(QLatin1String(mode))->click();
        dock.startRun();
        QVERIFY(dock.isRunning());
        QVERIFY(!panel->machineState().open); // the run holds the line
        QTRY_VERIFY_WITH_TIMEOUT(!dock.isRunning(), 120000);
        QTRY_VERIFY_WITH_TIMEOUT(panel->machineState().open, 10000);
    };
    run("signatureLearnButton", pins);
    if (QTest::currentTestFailed())
        return;
    const QString status = dock.findChild<QLabel *>(QStringLiteral("signatureStatus"))->text();
    for (const sig::Point &p : dock.signature().points)
        QVERIFY2(p.learned(), qPrintable(p.name + QLatin1String(": ") + status));
    QStringList bad = pins;
    bad[3] = QStringLiteral("diode");
    run("signatureTestButton", bad);
    const std::vector<sig::PointResult> *results = dock.results();
    QVERIFY(results && results->size() == 6);
    for (std::size_t k = 0; k < 6; ++k)
        QCOMPARE(int((*results)[k].verdict), int(k == 3 ? sig::Verdict::Different : sig::Verdict::Pass));
    sim.kill();
    sim.waitForFinished();
}

QTEST_MAIN(tst_ProberPanel)
#include "tst_proberpanel.moc"
