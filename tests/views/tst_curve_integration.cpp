// The Curve dock in the window, against the virtual instrument: one click
// measures, the plot holds I = V / R, the log reads as for the pages, the
// CSV export reads back, and a page's frame feeds the curve too.
#include "base_io_widget.h"
#include "callsdock.h"
#include "curvedock.h"
#include "devicesession.h"
#include "filechooser.h"
#include "iopanel.h"
#include "mainwindow.h"
#include "pointsview.h"
#include "virtualcontrol.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolTip>
#include <QValueAxis>
#include <QXYSeries>
#include <QtTest>

#include <thread>

class tst_CurveIntegration : public QObject
{
    Q_OBJECT

private slots:
    void measureAndExport();
    void sendWhileTheDockWaitsOnASlowDevice();
    void closeTheWindowMidRun_data();
    void closeTheWindowMidRun();
};

namespace {

using FixedName = FixedFileChooser;

void connectTo(MainWindow &window, const QString &url)
{
    auto *edit = window.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    edit->setText(url);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cntButton")), Qt::LeftButton);
}

QStringList logMessages(const MainWindow &window)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: "));
    const auto *log = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));
    QStringList out;
    for (int row = 0; row < log->count(); ++row)
        out << log->item(row)->text().remove(stamp);
    return out;
}

} // namespace

void tst_CurveIntegration::measureAndExport()
{
    constexpr double ohms = 1000;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *dock = window.findChild<CurveDock *>(QStringLiteral("curveDock"));
    QVERIFY(dock && dock->isVisible());
    QVERIFY(window.menuBar()
                ->findChild<QMenu *>(QStringLiteral("viewMenu"))
                ->actions()
                .contains(dock->toggleViewAction()));
    QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("comEdit")),
        QStringLiteral("virtual://resistor?ohms=1000&noise=0"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cntButton")), Qt::LeftButton);

    auto *measure = dock->findChild<QPushButton *>(QStringLiteral("measureButton"));
    QSignalSpy finished(dock, &CurveDock::runFinished);
    QTest::mouseClick(measure, Qt::LeftButton);
    QCOMPARE(measure->text(), QStringLiteral("Cancel"));
    QVERIFY(finished.wait(30000)); // the event, however slow the build
    QCOMPARE(finished.first().first().value<MeasurementSequence::Outcome>(),
        MeasurementSequence::Outcome::Complete);
    QCOMPARE(measure->text(), QStringLiteral("Measure"));

    auto *view = dock->findChild<QChartView *>(QStringLiteral("curveView"));
    const QList<QPointF> points
        = qobject_cast<QXYSeries *>(view->chart()->series().first())->points();
    QCOMPARE(points.size(), 100);
    double largest = 0;
    for (const QPointF &p : points) {
        QVERIFY2(qAbs(p.y() - 1000 * p.x() / ohms) < 1e-4, qPrintable(QString::number(p.x())));
        largest = qMax(largest, qAbs(p.x()));
    }
    QVERIFY(largest > 1); // a real sweep, not a flat line
    QVERIFY(dock->findChild<QLabel *>(QStringLiteral("curveFigures"))
                ->text()
                .contains(QStringLiteral("1.00 kΩ")));

    QStringList expected { QStringLiteral("virtual://resistor?ohms=1000&noise=0 connect"),
        QStringLiteral("zem_get_measurement_settings returned result_ok 0"),
        QStringLiteral("zem_start_measurement returned result_ok 0") };
    // A line repeated right after itself is one line with its count.
    const QStringList log = logMessages(window);
    QCOMPARE(log.mid(0, 3), expected);
    QCOMPARE(log.size(), 5);
    const QRegularExpressionMatch polls = QRegularExpression(
        QStringLiteral(
            "^zem_check_measurement_status returned result_ok 0(?: \\((\\d+) times\\))?$"))
                                              .match(log[3]);
    QVERIFY2(polls.hasMatch(), qPrintable(log[3]));
    QCOMPARE(log[4], QStringLiteral("zem_get_measurement returned result_ok 0 (4 times)"));
    // ... and the Calls dock records each of them as the curve's.
    window.calls()->raise();
    const QAbstractItemModel *calls
        = window.findChild<QTableView *>(QStringLiteral("callsView"))->model();
    const int runCalls = 2 + (polls.captured(1).isEmpty() ? 1 : polls.captured(1).toInt()) + 4;
    QTRY_VERIFY(calls->rowCount() > runCalls);
    for (int r = calls->rowCount() - runCalls; r < calls->rowCount(); ++r)
        QCOMPARE(calls->index(r, 4).data().toString(), QStringLiteral("curve"));
    dock->raise();

    // The CSV export reads back as the plotted points, with units in its header.
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("curve.csv"));
    window.setFileChooser(std::make_shared<FixedName>(csv));
    QTest::mouseClick(
        dock->findChild<QPushButton *>(QStringLiteral("exportButton")), Qt::LeftButton);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.count("\r\n"), text.count('\n')); // CRLF line ends only
    QStringList rows;
    for (const QByteArray &line : text.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            rows << QString::fromUtf8(line.chopped(1));
    QCOMPARE(rows.takeFirst(), QStringLiteral("index,time_ms,voltage_V,current_mA"));
    QCOMPARE(rows.size(), points.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList cells = rows[i].split(QLatin1Char(','));
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells[0].toInt(), i);
        QCOMPARE(cells[1].toDouble(), i * 0.1); // 10 kHz
        QCOMPARE(float(cells[2].toDouble()), float(points[i].x()));
        QCOMPARE(float(cells[3].toDouble()), float(points[i].y()));
    }

    // The other forms: JSON as zem_example lays it out, and pictures of the chart.
    const QString json = dir.filePath(QStringLiteral("curve.json"));
    QCOMPARE(dock->exportTo(json), QString());
    QFile jsonFile(json);
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QByteArray jsonText = jsonFile.readAll();
    QVERIFY(jsonText.startsWith("{\n    \"voltage\": [0.000000, "));
    QVERIFY(jsonText.endsWith(
        "],\n    \"voltage_units\": \"Volts\",\n    \"current_units\": \"mA\"\n}\n"));
    for (const char *suffix : { "png", "svg" }) {
        const QString picture = dir.filePath(QStringLiteral("curve.") + QLatin1String(suffix));
        QCOMPARE(dock->exportTo(picture), QString());
        QFile pictureFile(picture);
        QVERIFY(pictureFile.open(QIODevice::ReadOnly));
        QVERIFY(pictureFile.read(8).contains(suffix == QByteArray("png") ? "PNG" : "<?xml"));
    }
    QVERIFY(!dock->exportTo(dir.filePath(QStringLiteral("curve.txt"))).isEmpty());
    QVERIFY(!dock->exportTo(dir.filePath(QStringLiteral("missing/curve.csv"))).isEmpty());

    // Hovering a point shows its values; a drag zooms, a double-click returns.
    auto *xAxis = qobject_cast<QValueAxis *>(view->chart()->axes(Qt::Horizontal).first());
    const qreal fullWidth = xAxis->max() - xAxis->min();
    const QPoint at = view->mapFromScene(view->chart()->mapToPosition(points[10]));
    QTest::mouseMove(view->viewport(), at);
    QTRY_VERIFY(QToolTip::text().contains(QStringLiteral(" V, ")));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at - QPoint(30, 30));
    QTest::mouseMove(view->viewport(), at + QPoint(30, 30));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at + QPoint(30, 30));
    QVERIFY(xAxis->max() - xAxis->min() < fullWidth / 2);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(xAxis->max() - xAxis->min(), fullWidth);

    // The Points tab copies its selection as tab-separated rows.
    dock->findChild<QTabWidget *>(QStringLiteral("curveTabs"))->setCurrentIndex(2);
    auto *table = dock->findChild<PointsView *>(QStringLiteral("pointsView"));
    QVERIFY(table);
    table->selectionModel()->select(
        QItemSelection(table->model()->index(1, 0), table->model()->index(2, 3)),
        QItemSelectionModel::Select);
    table->copy();
    QCOMPARE(QGuiApplication::clipboard()->text(),
        QStringLiteral("1\t0.1\t%1\t%2\n2\t0.2\t%3\t%4\n")
            .arg(points[1].x(), 0, 'g', 7)
            .arg(points[1].y(), 0, 'g', 7)
            .arg(points[2].x(), 0, 'g', 7)
            .arg(points[2].y(), 0, 'g', 7));

    // A frame read on the page lands at its place in the page's curve,
    // beside the measured one, which stays whole.
    iopanel *page = window.page(QStringLiteral("get_measurement"));
    page->GetRequest(0)->GetEdit()->setText(QStringLiteral("2"));
    QTest::mouseClick(page->sendButton, Qt::LeftButton);
    QCOMPARE(int(dock->pageCurve().size()), 75);
    QCOMPARE(int(dock->pageCurve().pointsRead()), 25);
    QCOMPARE(dock->pageCurve().voltage[50], float(points[50].x()));
    QCOMPARE(dock->pageCurve().current[60], float(points[60].y()));
    QCOMPARE(int(dock->latest().pointsRead()), 100);
}

// Every call of the instrument takes 5 ms, and the measurement goes on until
// the test lets it complete. A page's Send while the Curve dock's run waits
// on it goes between two of the run's calls; the two never overlap, and the
// record and the log keep the order they were made in.
void tst_CurveIntegration::sendWhileTheDockWaitsOnASlowDevice()
{
    std::vector<zem::calls::Call> calls; // outlives the window, which closes the device
    MainWindow window;
    window.show();
    connectTo(window, QStringLiteral("virtual://resistor?delay_ms=5&noise=0"));
    auto *dock = window.findChild<CurveDock *>(QStringLiteral("curveDock"));
    QSignalSpy finished(dock, &CurveDock::runFinished);
    // A measurement of five seconds: the window, busy with building itself on
    // a slow build, has caught up before the first status poll, and the
    // time-out (three times that, plus a second) outlasts the hold.
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Connection);
        zem::Connection &device = window.deviceSession()->connection();
        measurement_settings settings {};
        QCOMPARE(device.call("get_measurement_settings", nullptr, &settings), 0);
        settings.SamplingRate = float(settings.NumberPoints + settings.NumberChargePoints) / 5;
        settings.ProbeSignalFrequency = settings.SamplingRate / 4;
        QCOMPARE(device.call("set_measurement_settings", &settings, nullptr), 0);
    }
    connect(window.deviceSession(), &DeviceSession::callMade, &window,
        [&](const zem::calls::Call &c) { calls.push_back(c); });

    // The page is built before the measurement is held: pages are built when
    // first asked for, which must not eat into the measurement's deadline.
    QPushButton *send = window.page(QStringLiteral("get_status"))->sendButton;
    virtualcontrol::holdMeasurements(true);
    const auto release = qScopeGuard([] { virtualcontrol::holdMeasurements(false); });
    dock->findChild<QPushButton *>(QStringLiteral("measureButton"))->click();
    // Asked of the instrument, not of the window's record, which a slow build
    // may hear of late; and without turning the window's event loop, whose
    // backlog of calls to draw (seconds of it under ThreadSanitizer) would
    // hold the measurement past its deadline. The run goes on the device
    // thread, the Send is posted there.
    const QDeadlineTimer polled(60000);
    while (virtualcontrol::polledWhileHeld() == 0 && !polled.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(virtualcontrol::polledWhileHeld() > 0);
    send->click();
    virtualcontrol::holdMeasurements(false);
    QVERIFY(finished.count() || finished.wait(60000)); // the event, however slow the build
    QCOMPARE(finished.first().first().value<MeasurementSequence::Outcome>(),
        MeasurementSequence::Outcome::Complete);

    // One at a time: each call began after the one before it had returned.
    QVERIFY(calls.size() >= 8);
    int pageCalls = 0;
    for (std::size_t i = 1; i < calls.size(); ++i) {
        const qint64 previousEndMs = calls[i - 1].wallMs + calls[i - 1].durationNs / 1000000;
        QVERIFY2(calls[i].wallMs >= previousEndMs - 1, qPrintable(QString::number(i)));
        QVERIFY(calls[i].durationNs >= 4900000);
    }
    QStringList order;
    std::size_t pageAt = 0;
    for (const zem::calls::Call &c : calls) {
        if (c.origin == zem::calls::Origin::Page) {
            ++pageCalls;
            pageAt = std::size_t(order.size());
        }
        order << QLatin1String(c.commandName());
    }
    QCOMPARE(pageCalls, 1);
    QVERIFY(pageAt > 0 && pageAt + 1 < calls.size()); // between two of the run's calls
    QCOMPARE(order.mid(0, 1), QStringList { "get_measurement_settings" });
    // The log lists the calls in the order the record has them.
    QStringList logged;
    static const QRegularExpression times(QStringLiteral(" \\((\\d+) times\\)$"));
    for (const QString &line : logMessages(window))
        if (line.startsWith(QLatin1String("zem_"))) {
            const QRegularExpressionMatch folded = times.match(line);
            for (int k = folded.hasMatch() ? folded.captured(1).toInt() : 1; k > 0; --k)
                logged << line.section(u' ', 0, 0).mid(4);
        }
    QCOMPARE(logged, order);
}

// Closing the window while a run waits on a slow call ends the run within
// that call, leaves nothing behind (the sanitizer and valgrind runs check),
// and closes the device after it.
void tst_CurveIntegration::closeTheWindowMidRun_data()
{
    QTest::addColumn<QString>("dock");
    QTest::newRow("curve") << "curveDock";
    QTest::newRow("signatures") << "signaturesDock";
}

void tst_CurveIntegration::closeTheWindowMidRun()
{
    QFETCH(QString, dock);
    auto window = std::make_unique<MainWindow>();
    window->show();
    connectTo(*window, QStringLiteral("virtual://resistor?delay_ms=40"));
    const auto origin = dock == QLatin1String("curveDock") ? zem::calls::Origin::Curve
                                                           : zem::calls::Origin::Signature;
    bool runCalled = false;
    connect(window->deviceSession(), &DeviceSession::callMade, window.get(),
        [&](const zem::calls::Call &c) { runCalled = runCalled || c.origin == origin; });
    if (dock == QLatin1String("curveDock")) {
        window->findChild<QPushButton *>(QStringLiteral("measureButton"))->click();
    } else {
        window->findChild<QDockWidget *>(QStringLiteral("signaturesDock"))->raise();
        auto *points = window->findChild<QLineEdit *>(QStringLiteral("signaturePointEdit"));
        points->setText(QStringLiteral("R1, R2"));
        QTest::keyClick(points, Qt::Key_Return);
        window->findChild<QPushButton *>(QStringLiteral("signatureRunButton"))->click();
    }
    QTRY_VERIFY(runCalled); // the run goes on with its next call
    QElapsedTimer closing;
    closing.start();
    window.reset();
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
}

QTEST_MAIN(tst_CurveIntegration)
#include "tst_curve_integration.moc"
