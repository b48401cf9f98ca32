// zem_bench as a technician and a script use it, by its object names only:
// connect, open a learned board, give the operator, scan a serial (its Enter
// starts the test and hands Space to the probing), probe every point, read
// the banner, write the report, then a good board; the runs land in the
// history the History tab shows.
#include "benchwindow.h"
#include "dockcontext.h"
#include "signaturemodel.h"
#include "location.h"
#include "store.h"
#include "worker.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class tst_Bench : public QObject
{
    Q_OBJECT

private slots:
    void testTwoBoardsByTheirObjectNames();
};

namespace {

const QString kGood = QStringLiteral("resistor:1000,diode,resistor:4700,capacitor,diode,"
                                     "resistor:220,resistor:10000,diode,resistor:330,capacitor,"
                                     "resistor:1500");
// Pins 2 and 11 changed: a diode shorted by a resistor, a resistor doubled.
const QString kBad = QStringLiteral("resistor:1000,resistor:1000,resistor:4700,capacitor,diode,"
                                    "resistor:220,resistor:10000,diode,resistor:330,capacitor,"
                                    "resistor:3300");

} // namespace

void tst_Bench::testTwoBoardsByTheirObjectNames()
{
    QTemporaryDir dir;
    const QString board = dir.filePath(QStringLiteral("board.json"));
    QCOMPARE(QProcess::execute(QStringLiteral(ZEMCTL),
                 { "-u", "virtual://open?pins=" + kGood, "learn", board, "--points",
                     "U1.1,U1.2,U1.3,U1.4,U1.5,U1.6,U1.7,U1.8,R1,C1,R2" }),
        0);

    BenchWindow window;
    window.context().history()->setLocationText(dir.filePath(QStringLiteral("h.sqlite")));
    auto chooser = std::make_shared<FixedFileChooser>(board);
    window.context().setFileChooser(chooser);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.objectName(), QStringLiteral("benchWindow"));
    const auto child = [&](const char *name) {
        auto *w = window.findChild<QWidget *>(QLatin1String(name));
        if (!w)
            qFatal("no %s", name);
        return w;
    };
    QWidget *banner = child("boardVerdict");
    auto *table = static_cast<QTableView *>(child("pointsTable"));
    QVERIFY(child("boardView") && child("curveView"));

    QSignalSpy opened(&window, &BenchWindow::boardOpened);
    static_cast<QPushButton *>(child("openButton"))->click();
    QVERIFY(opened.wait() && opened.front().front().toBool());
    QTest::keyClicks(child("operatorEdit"), QStringLiteral("Ann"));

    const auto testBoard = [&](const QString &pins, const QString &serial) {
        auto *url = static_cast<QComboBox *>(child("urlCombo"));
        url->setEditText("virtual://open?per_pin=2&pins=" + pins);
        static_cast<QPushButton *>(child("connectButton"))->click();
        auto *serialEdit = static_cast<QLineEdit *>(child("serialEdit"));
        serialEdit->setFocus();
        serialEdit->selectAll();
        QTest::keyClicks(serialEdit, serial);
        QTest::keyClick(serialEdit, Qt::Key_Return);
        QVERIFY(!child("startButton")->isEnabled() && child("stopButton")->isEnabled());
        QTRY_VERIFY(banner->accessibleName().startsWith(QStringLiteral("TESTING")));
        // Space goes to the probing now, never into the serial.
        for (int k = 0; k < 11; ++k) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            QTRY_VERIFY(
                !table->model()->index(k, SignatureModel::Verdict).data().toString().isEmpty());
        }
        QCOMPARE(serialEdit->text(), serial);
        QTRY_VERIFY(child("startButton")->isEnabled());
    };

    testBoard(kBad, QStringLiteral("SN-41"));
    QCOMPARE(banner->accessibleName(), QStringLiteral("FAIL: 2 of 11 points fail: 2 different"));
    const QString report = dir.filePath(QStringLiteral("r.html"));
    chooser->name = report;
    static_cast<QPushButton *>(child("reportButton"))->click();
    QFile html(report);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    const QRegularExpression fields(
        QStringLiteral(R"(FAIL: 2 of 11 points fail.*<td>SN-41</td>.*<td>Ann</td>.*)"
                       R"(Station</th><td>[^-<][^<]*</td>.*<td>serial \d+, firmware [\d.]+</td>.*)"
                       R"(Test started</th><td>\d{4}-\d\d-\d\dT[\d:]+(Z|[+-]\d\d:\d\d).*</td>.*)"
                       R"(Test ended</th><td>\d{4}-)"),
        QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(fields.match(text).hasMatch(), qPrintable(text.left(2000)));

    testBoard(kGood, QStringLiteral("SN-42"));
    QCOMPARE(banner->accessibleName(), QStringLiteral("PASS: 11 of 11 points pass"));

    // Both runs are in the history, with their serials and the operator.
    // Either tab on top, the window fits 1280x800 with a frame's borders and title.
    auto *tabs = static_cast<QTabWidget *>(child("benchTabs"));
    for (const char *tab : { "testPage", "historyTab" }) {
        tabs->setCurrentWidget(child(tab));
        const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
        QVERIFY2(least.width() <= 1264 && least.height() <= 752,
            qPrintable(QStringLiteral("%1: %2 x %3").arg(tab).arg(least.width()).arg(least.height())));
    }
    zem::history::Store store;
    QVERIFY(store.open(*zem::history::parseLocation(
        window.context().history()->locationText(), nullptr)));
    QTRY_COMPARE(store.runs({}).value_or(std::vector<zem::history::RunSummary>()).size(), 2u);
    const auto runs = *store.runs({});
    QCOMPARE(runs.front().run.operatorName, QStringLiteral("Ann"));
}

QTEST_MAIN(tst_Bench)
#include "tst_bench.moc"
