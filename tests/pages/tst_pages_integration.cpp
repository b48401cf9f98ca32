// The command pages through the window against our library and its virtual
// instrument: one complete measurement, and a device lost while a page repeats.
#include "pagetesting.h"

#include <QSpinBox>
#include <QTemporaryDir>

namespace {

QList<double> numbers(const QString &text)
{
    QList<double> out;
    for (const QString &part : text.split(QLatin1Char(' ')))
        out << part.toDouble();
    return out;
}

} // namespace

class tst_PagesIntegration : public QObject
{
    Q_OBJECT

private slots:
    void measurement();
    void deviceLostWhileRepeating();
    void badProfileChangesNothing_data();
    void badProfileChangesNothing();
    void badUrlIsRefused_data();
    void badUrlIsRefused();
};

void tst_PagesIntegration::measurement()
{
    Window window(QStringLiteral("virtual://resistor?ohms=1000&noise=0"));
    QVERIFY(window.w.deviceHandle() != -1);
    const QString ok = QStringLiteral("result_ok 0");

    iopanel &settings = window.open(QStringLiteral("set_measurement_settings"));
    QTest::mouseClick(settings.getterButton, Qt::LeftButton);
    window.type(settings, QStringLiteral("NumberPoints"), QStringLiteral("100"));
    window.type(settings, QStringLiteral("MaxVoltage"), QStringLiteral("12"));
    QCOMPARE(window.send(settings), ok);

    QCOMPARE(window.send(window.open(QStringLiteral("start_measurement"))), ok);
    iopanel &status = window.open(QStringLiteral("check_measurement_status"));
    const auto ready = [&] {
        return window.send(status) == ok
            && field(status, false, QStringLiteral("ReadyStatus"))->GetValue()
            == QLatin1String("1");
    };
    QTRY_VERIFY(ready());

    iopanel &frames = window.open(QStringLiteral("get_measurement"));
    const double ohms = 1000;
    double peak = 0;
    for (int frame = 0; frame < 4; ++frame) {
        window.type(frames, QStringLiteral("FrameNumber"), QString::number(frame));
        QCOMPARE(window.send(frames), ok);
        const QList<double> volts
            = numbers(field(frames, false, QStringLiteral("Voltage"))->GetValue());
        const QList<double> milliamps
            = numbers(field(frames, false, QStringLiteral("Current"))->GetValue());
        QCOMPARE(volts.size(), 25);
        QCOMPARE(milliamps.size(), 25);
        for (int i = 0; i < 25; ++i) {
            // I = V / R in mA; both texts carry 6 significant digits.
            const double expected = 1000.0 * volts.at(i) / ohms;
            QVERIFY2(qAbs(milliamps.at(i) - expected) <= 1e-5 * qAbs(expected) + 1e-9,
                qPrintable(QStringLiteral("frame %1, point %2: %3 V, %4 mA")
                               .arg(frame)
                               .arg(i)
                               .arg(volts.at(i))
                               .arg(milliamps.at(i))));
            peak = qMax(peak, qAbs(volts.at(i)));
        }
    }
    // 12 V divided between the 1 kOhm of the range and the 1 kOhm load.
    QVERIFY2(peak > 5.9 && peak <= 6.0, qPrintable(QString::number(peak)));
}

void tst_PagesIntegration::deviceLostWhileRepeating()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });

    Window window(QStringLiteral("virtual://open?lose_after=3"));
    iopanel &page = window.open(QStringLiteral("get_status"));
    page.findChild<QSpinBox *>(QStringLiteral("FreqBox"))->setValue(100);
    page.PeriodicButtonClicked();
    QTRY_VERIFY(logMessages(window.w).size() >= 1 + 6); // three lines from after the loss
    page.PeriodicButtonClicked();

    QVERIFY(window.w.isVisible());
    const QStringList steps = logMessages(window.w).mid(1);
    QVERIFY2(steps.size() >= 6, qPrintable(steps.join(QLatin1Char('\n'))));
    for (int i = 0; i < steps.size(); ++i)
        QCOMPARE(steps.at(i),
            i < 3 ? QStringLiteral("zem_get_status returned result_ok 0")
                  : QStringLiteral("zem_get_status returned result_nodevice (-4)"));

    QFile file(QStringLiteral("get_status.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + steps.size() + 1); // the header, one line per step, the last '\n'
    // After the loss each line repeats the last texts shown.
    for (int i = 4; i <= steps.size(); ++i)
        QCOMPARE(lines.at(i), lines.at(3));
}

void tst_PagesIntegration::badProfileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("size"); // grown sparse to this size when larger than the content
    QTest::addColumn<QStringList>("log");

    const QStringList refused { "set_profile returned -3", "Abort" };
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 37);
    QTest::newRow("binary") << binary << qint64(0) << refused;
    QTest::newRow("empty") << QByteArray() << qint64(0) << refused;
    QTest::newRow("malformed JSON")
        << QByteArray("{\"version\": 1, \"measurement_settings\": [") << qint64(0) << refused;
    QTest::newRow("100 MB") << QByteArray("{") << qint64(100) * 1000 * 1000
                            << QStringList { "File error:",
                                   "too large for a profile (more than 67108864 bytes)", "Abort" };
}

void tst_PagesIntegration::badProfileChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(QStringList, log);

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("profile.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    if (size > content.size())
        QVERIFY(file.resize(size));
    file.close();

    Window window(QStringLiteral("virtual://open"));
    window.w.setFileChooser(std::make_unique<FakeChooser>(file.fileName()));
    iopanel &settings = window.open(QStringLiteral("get_measurement_settings"));
    window.send(settings);
    const QString before = field(settings, false, QStringLiteral("NumberPoints"))->GetValue();

    const int lines = logMessages(window.w).size();
    QTest::mouseClick(
        window.w.findChild<QPushButton *>(QStringLiteral("SetProfileBtn")), Qt::LeftButton);
    QCOMPARE(logMessages(window.w).mid(lines), log);
    QVERIFY(window.w.deviceHandle() != -1);
    QCOMPARE(window.send(settings), QStringLiteral("result_ok 0"));
    QCOMPARE(field(settings, false, QStringLiteral("NumberPoints"))->GetValue(), before);
}

void tst_PagesIntegration::badUrlIsRefused_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("100,000 characters")
        << QStringLiteral("virtual://resistor?ohms=") + QString(100000, QLatin1Char('1'));
    QTest::newRow("beyond Latin-1") << QStringLiteral("virtual://\u96fb\u6c17");
    QTest::newRow("Latin-1 but not ASCII") << QStringLiteral("virtual://r\u00e9sistor");
}

void tst_PagesIntegration::badUrlIsRefused()
{
    QFETCH(QString, url);
    MainWindow w;
    auto *edit = w.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    edit->setText(url); // a line edit keeps at most 32767 characters
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("cntButton")), Qt::LeftButton);
    QCOMPARE(w.deviceHandle(), -1);
    QCOMPARE(logMessages(w), QStringList { edit->text() + QStringLiteral(" device undefined") });
}

QTEST_MAIN(tst_PagesIntegration)
#include "tst_pages_integration.moc"
