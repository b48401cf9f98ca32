// The window against our real library and its virtual instrument.
#include "mainwindow.h"

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
};

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
