// The Signatures dock on the virtual instrument, driven as a user does: points
// typed in, a board learned with the probe's button, a second board tested
// with Space, the verdicts read from the table, a report written.
#include "signaturemodel.h"
#include "devicesession.h"
#include "signaturesdock.h"

#include "zem.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class tst_SignaturesDock : public QObject
{
    Q_OBJECT

private slots:
    void learnWithButtonThenTestWithSpace();
};

void tst_SignaturesDock::learnWithButtonThenTestWithSpace()
{
    DeviceSession session;
    zem::Connection &device = session.connection();
    SignaturesDock dock(session);
    dock.show();
    const auto child
        = [&](const char *name) { return dock.findChild<QWidget *>(QLatin1String(name)); };
    QTest::keyClicks(child("signaturePointEdit"), QStringLiteral("R1, D1, C1"));
    QTest::keyClick(child("signaturePointEdit"), Qt::Key_Return);
    QCOMPARE(dock.signature().points.size(), 3u);

    // The probe moves to the next pin at each press, the first one included.
    device.open("virtual://open?pins=resistor:1000,diode,capacitor&button_period_ms=150");

    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    QVERIFY(dock.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!dock.isRunning(), 5000);
    for (const sig::Point &p : dock.signature().points)
        QVERIFY(p.learned());

    // The second board: its diode replaced by a resistor; no button.
    device.close();
    device.open("virtual://open?pins=resistor:1000,resistor:1000,capacitor");
    static_cast<QRadioButton *>(child("signatureTestButton"))->click();
    auto *table = static_cast<QTableView *>(child("signatureTable"));
    table->setCurrentIndex(table->model()->index(0, 0));
    static_cast<QPushButton *>(child("signatureRunButton"))->click();
    QSignalSpy done(&dock, &SignaturesDock::pointDone);
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

    QTemporaryDir dir;
    QVERIFY(dock.writeReport(dir.filePath(QStringLiteral("r.html"))));
    QVERIFY(dock.saveFile(dir.filePath(QStringLiteral("board.json"))));
    QVERIFY(dock.openFile(dir.filePath(QStringLiteral("board.json"))));
    QVERIFY(dock.signature().points[2].learned());
}

QTEST_MAIN(tst_SignaturesDock)
#include "tst_signaturesdock.moc"
