// The window against our real library and its virtual instrument.
#include "base_io_widget.h"
#include "iopanel.h"
#include "mainwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

class tst_AppIntegration : public QObject
{
    Q_OBJECT

private slots:
    void connectAndDisconnect();
    void valueErrorInStatusBar();
};

// After a -3 the status bar says which values the instrument does not take,
// as zemctl says it, until the next Send; the log lines stay as they were.
void tst_AppIntegration::valueErrorInStatusBar()
{
    MainWindow window;
    window.findChild<QLineEdit *>(QStringLiteral("comEdit"))->setText("virtual://resistor");
    window.connectButton();
    iopanel *page = window.page(QStringLiteral("set_measurement_settings"));
    page->getterButton->click(); // the device's settings, then two values
    auto *lines = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));
    const QString refused
        = "set_measurement_settings returned result_value_error (-3): NumberPoints "
          "5: the device takes 10..1000; MaxVoltage 20.0: the device takes 0..12 V";
    for (const bool outside : { true, false }) {
        page->GetRequest(2)->SetValue(outside ? "5" : "100"); // NumberPoints
        page->GetRequest(4)->SetValue(outside ? "20" : "5"); // MaxVoltage
        page->sendButton->click();
        QCOMPARE(lines->item(lines->count() - 1)->text().mid(10), // after "hh:mm:ss: "
            outside ? "zem_set_measurement_settings returned result_value_error (-3)"
                    : "zem_set_measurement_settings returned result_ok 0");
        // The status line follows within a frame.
        QTRY_COMPARE(window.findChild<QLabel *>("callsStatus")->text().contains(refused), outside);
    }
}

void tst_AppIntegration::connectAndDisconnect()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *url = window.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("cntButton"));
    auto *disconnectButton = window.findChild<QPushButton *>(QStringLiteral("dcntButton"));
    auto *log = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));

    const auto connectTo = [&](const QString &text) {
        url->clear();
        QTest::keyClicks(url, text);
        QTest::mouseClick(connectButton, Qt::LeftButton);
    };

    connectTo(QStringLiteral("virtual://resistor"));
    QVERIFY(window.deviceHandle() != -1);
    // A serial port is not available through this library.
    connectTo(QStringLiteral("com:\\\\.\\COM12"));
    QCOMPARE(window.deviceHandle(), -1);
    // The status bar gives the library's reason, which the log line does not.
    QTRY_VERIFY(
        window.findChild<QLabel *>(QStringLiteral("callsStatus"))
            ->text()
            .startsWith("Not connected: cannot open device com:\\\\.\\COM12: no transport"));
    connectTo(QStringLiteral("virtual://resistor?ohms=1000"));
    QVERIFY(window.deviceHandle() != -1);
    QTest::mouseClick(disconnectButton, Qt::LeftButton);

    const QStringList expected { "virtual://resistor connect", "com:\\\\.\\COM12 device undefined",
        "virtual://resistor?ohms=1000 connect", "Disconnect virtual://resistor?ohms=1000" };
    QCOMPARE(log->count(), expected.size());
    const QRegularExpression stamp(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d: "));
    for (int row = 0; row < log->count(); ++row) {
        QString line = log->item(row)->text();
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(line.remove(stamp), expected.at(row));
    }
}

QTEST_MAIN(tst_AppIntegration)
#include "tst_app_integration.moc"
