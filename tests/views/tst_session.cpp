// The window over a long session, against our virtual instrument: the log's
// colours and export, trends fed by periodic pages, reconnection after a
// drop, the recent URLs and the keys.
#include "base_io_widget.h"
#include "curvedock.h"
#include "devicesession.h"
#include "filechooser.h"
#include "iopanel.h"
#include "logview.h"
#include "mainwindow.h"
#include "records.h"
#include "trenddock.h"

#include <QAction>
#include <QClipboard>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList messages(const QListWidget *log)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: "));
    QStringList out;
    for (int row = 0; row < log->count(); ++row)
        out << log->item(row)->text().remove(stamp);
    return out;
}

struct Session
{
    MainWindow w;
    QLineEdit *url = w.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    LogView *log = w.findChild<LogView *>(QStringLiteral("LogWidget"));
    TrendDock *trend = w.findChild<TrendDock *>(QStringLiteral("trendDock"));

    Session()
    {
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            qWarning("window not exposed");
    }
    // Types the URL and presses Return in the field.
    void connectTo(const QString &text)
    {
        url->clear();
        QTest::keyClicks(url, text);
        QTest::keyClick(url, Qt::Key_Return);
    }
    // Starts the page's periodic repetition faster than the form offers.
    void periodic(iopanel *page, int ms)
    {
        auto *period = page->findChild<QSpinBox *>(QStringLiteral("FreqBox"));
        period->setMinimum(ms);
        period->setValue(ms);
        page->PeriodicButtonClicked();
    }
};

// Plots a response field of the page's command, by the field's name.
void plotField(TrendDock *trend, const iopanel *page, const QString &name, int element = -1)
{
    const zem::Command *c = zem::findCommand(page->GetName().toStdString());
    for (std::size_t i = 0; i < c->response->fields.size(); ++i)
        if (name == QLatin1String(c->response->fields[i].name))
            trend->plot(int(c - zem::kCommands), int(i), element);
}

} // namespace

class tst_Session : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failureLines_data();
    void failureLines();
    void logExport();
    void trendFedByPeriodic();
    void reconnectAfterDrop();
    void recentUrls();
    void keys();

private:
    QTemporaryDir dir;
};

void tst_Session::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Settings of this process alone: another run of the test at the same
    // time must not change the recent URLs read back.
    QVERIFY(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("zem-tools-test"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_session"));
    QSettings().clear();
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path())); // periodic log files
}

void tst_Session::failureLines_data()
{
    // What the user does, then each line it logs and whether it is red. The
    // level comes from the result or outcome where the line is made.
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<bool>>("red");

    const QString ok = QStringLiteral("virtual://resistor");
    QTest::newRow("send ok") << ok << "send get_status"
                             << QStringList { "zem_get_status returned result_ok 0" }
                             << QList<bool> { false };
    QTest::newRow("send value error")
        << "virtual://resistor?fail=get_status:-3"
        << "send get_status" << QStringList { "zem_get_status returned result_value_error (-3)" }
        << QList<bool> { true };
    QTest::newRow("send lost") << "virtual://resistor?fail=get_status:-4"
                               << "send get_status"
                               << QStringList { "zem_get_status returned result_nodevice (-4)" }
                               << QList<bool> { true };
    QTest::newRow("measure, no device")
        << ""
        << "measure" << QStringList { "Measure: No device is connected" } << QList<bool> { true };
    QTest::newRow("measure fails")
        << "virtual://resistor?fail=start_measurement:-5"
        << "measure"
        << QStringList { "zem_get_measurement_settings returned result_ok 0",
               "zem_start_measurement returned result_timeout (-5)",
               "Measure: zem_start_measurement returned result_timeout (-5)" }
        << QList<bool> { false, true, true };
    QTest::newRow("connect refused")
        << "nothing://"
        << "none" << QStringList { "nothing:// device undefined" } << QList<bool> { true };
    QTest::newRow("profile file missing")
        << ok << "profile" << QStringList { "Error opening file", "Abort" }
        << QList<bool> { true, true };
}

void tst_Session::failureLines()
{
    QFETCH(QString, url);
    QFETCH(QString, action);
    QFETCH(QStringList, lines);
    QFETCH(QList<bool>, red);

    Session s;
    if (!url.isEmpty())
        s.connectTo(url);
    const int before = s.log->count();
    if (action == QLatin1String("send get_status")) {
        s.w.page(QStringLiteral("get_status"))->sendButton->click();
    } else if (action == QLatin1String("measure")) {
        QSignalSpy finished(s.w.curveDock(), &CurveDock::runFinished);
        s.w.findChild<QPushButton *>(QStringLiteral("measureButton"))->click();
        QVERIFY(finished.count() || finished.wait(5000));
    } else if (action == QLatin1String("profile")) {
        s.w.setFileChooser(
            std::make_shared<FixedFileChooser>(dir.filePath(QStringLiteral("none/x.json"))));
        s.w.SetProfileSlot();
    }
    const int first = action == QLatin1String("none") ? before - 1 : before;
    QCOMPARE(s.log->count() - first, lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QListWidgetItem *item = s.log->item(first + i);
        QCOMPARE(item->text().section(QStringLiteral(": "), 1), lines[i]);
        const QBrush colour = item->foreground();
        QCOMPARE(colour.style() != Qt::NoBrush, red[i]);
        if (red[i]) // readable on black
            QVERIFY(colour.color().red() > 200 && colour.color().lightness() > 100);
    }
}

void tst_Session::logExport()
{
    Session s;
    for (int i = 0; i < 1000; ++i)
        s.w.AddLog(QStringLiteral("line %1 ü").arg(i));
    QCoreApplication::processEvents();
    // The newest line is in view after the arithmetic layout too.
    QVERIFY(s.log->viewport()->rect().contains(s.log->visualItemRect(s.log->item(999))));
    QCOMPARE(s.log->indexAt(s.log->visualItemRect(s.log->item(999)).center()).row(), 999);

    const QString name = dir.filePath(QStringLiteral("saved.log"));
    s.w.setFileChooser(std::make_shared<FixedFileChooser>(name));
    s.log->saveAsAction->trigger();
    QFile saved(name);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    QCOMPARE(text.split(u'\n', Qt::SkipEmptyParts), [&] {
        QStringList lines;
        for (int row = 0; row < s.log->count(); ++row)
            lines << s.log->item(row)->text();
        return lines;
    }());
    s.log->copyAllAction->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), text);

    // A file that cannot be written is reported and the old one stays whole.
    QString error;
    QVERIFY(!s.log->saveTo(dir.path(), &error));
    QVERIFY(error.contains(dir.path()));
}

void tst_Session::trendFedByPeriodic()
{
    Session s;
    s.connectTo(QStringLiteral("virtual://resistor?temperature=31"));
    iopanel *status = s.w.page(QStringLiteral("get_status"));
    QVERIFY(!s.trend->isVisible());
    plotField(s.trend, status, QStringLiteral("Temperature"));
    plotField(s.trend, status, QStringLiteral("IOState"));
    plotField(s.trend, status, QStringLiteral("Temperature")); // once only
    plotField(s.trend, status, QStringLiteral("Reserved0"), 1);
    QVERIFY(s.trend->isVisible());
    QCOMPARE(s.trend->traceCount(), 3);

    s.periodic(status, 10);
    QTRY_VERIFY(s.trend->sampleCount(0) >= 20);
    status->PeriodicButtonClicked();
    QCOMPARE(s.trend->sampleCount(1), s.trend->sampleCount(0));
    // A failed call shows no response, so it adds no sample.
    const qsizetype taken = s.trend->sampleCount(0);
    QTest::mouseClick(s.w.findChild<QPushButton *>(QStringLiteral("dcntButton")), Qt::LeftButton);
    QTest::mouseClick(status->sendButton, Qt::LeftButton);
    QCOMPARE(s.trend->sampleCount(0), taken);

    const QString csv = dir.filePath(QStringLiteral("trend.csv"));
    QString error;
    QVERIFY2(s.trend->exportTo(csv, &error), qPrintable(error));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.count("\r\n"), text.count('\n')); // CRLF line ends only
    const QList<QByteArray> rows = text.trimmed().replace("\r\n", "\n").split('\n');
    QCOMPARE(
        rows.first(), "time_s,get_status Temperature,get_status IOState,get_status Reserved0[1]");
    QCOMPARE(rows.size(), taken + 1);
    double previous = -1;
    for (const QByteArray &row : rows.mid(1)) {
        const QList<QByteArray> cells = row.split(',');
        QCOMPARE(cells.size(), 4);
        QVERIFY(cells.at(0).toDouble() >= previous);
        previous = cells.at(0).toDouble();
        QCOMPARE(cells.at(1), "31");
        QCOMPARE(cells.at(3), "0");
    }
    QVERIFY(s.trend->exportTo(dir.filePath(QStringLiteral("trend.png")), &error));
    QVERIFY(QImage(dir.filePath(QStringLiteral("trend.png"))).width() > 0);
}

void tst_Session::reconnectAfterDrop()
{
    Session s;
    auto *reconnect = s.w.findChild<QAction *>(QStringLiteral("reconnectAction"));
    QVERIFY(reconnect && reconnect->isCheckable() && !reconnect->isChecked());
    reconnect->setChecked(true);
    const QString url = QStringLiteral("virtual://resistor?lose_after=15");
    s.connectTo(url);
    iopanel *status = s.w.page(QStringLiteral("get_status"));
    plotField(s.trend, status, QStringLiteral("Temperature"));
    s.periodic(status, 10);

    // Two drops, each followed by one reconnection and working calls again.
    const QString connected = QStringLiteral("Reconnect %1: connected (attempt 1)").arg(url);
    QTRY_COMPARE_WITH_TIMEOUT(messages(s.log).count(connected), 2, 10000);
    QTRY_VERIFY(messages(s.log).last().endsWith(QLatin1String("result_ok 0")));
    QVERIFY(status->isPeriodic());
    QVERIFY(s.trend->sampleCount(0) >= 28);

    // Once disconnected by the user, nothing opens the device again, not even
    // when the periodic page's next call finds it gone.
    QSignalSpy lost(s.w.deviceSession(), &DeviceSession::lost);
    QTest::mouseClick(s.w.findChild<QPushButton *>(QStringLiteral("dcntButton")), Qt::LeftButton);
    QVERIFY(lost.wait(10000));
    QVERIFY(!s.w.reconnectPending());
    status->PeriodicButtonClicked();
    QCOMPARE(messages(s.log).count(connected), 2);
    QCOMPARE(s.w.deviceHandle(), -1);
}

void tst_Session::recentUrls()
{
    {
        Session s;
        s.connectTo(QStringLiteral("virtual://open"));
        s.connectTo(QStringLiteral("com:nothing")); // never connected: not kept
        for (int i = 0; i < 11; ++i)
            s.connectTo(QStringLiteral("virtual://resistor?ohms=%1").arg(i + 100));
        s.connectTo(QStringLiteral("virtual://resistor?ohms=105")); // moves to the front
    }
    Session s;
    QVERIFY(s.url->text().isEmpty());
    const auto *offered = qobject_cast<QStringListModel *>(s.url->completer()->model());
    QVERIFY(offered);
    const QStringList urls = offered->stringList();
    QCOMPARE(QSettings().value(QStringLiteral("recentUrls")).toStringList(), urls);
    QCOMPARE(urls.size(), 10);
    QCOMPARE(urls.first(), QStringLiteral("virtual://resistor?ohms=105"));
    QCOMPARE(urls.at(1), QStringLiteral("virtual://resistor?ohms=110"));
    QVERIFY(!urls.contains(QStringLiteral("virtual://open")));
    QVERIFY(!urls.contains(QStringLiteral("com:nothing")));
}

void tst_Session::keys()
{
    Session s;
    s.connectTo(QStringLiteral("virtual://resistor"));
    QVERIFY(s.w.deviceHandle() != -1);
    QTest::keyClick(&s.w, Qt::Key_F, Qt::ControlModifier);
    auto *search = s.w.findChild<QLineEdit *>(QStringLiteral("SearchEdit"));
    QVERIFY(search->hasFocus());
    QTest::keyClicks(search, QStringLiteral("get_status"));
    QTest::keyClick(&s.w, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(messages(s.log).last(), QStringLiteral("zem_get_status returned result_ok 0"));

    QTest::keyClick(&s.w, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(s.w.page(QStringLiteral("get_status"))->isPeriodic());
    QTest::keyClick(&s.w, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(!s.w.page(QStringLiteral("get_status"))->isPeriodic());

    search->clear();
    QTest::keyClicks(search, QStringLiteral("set_measurement"));
    QTest::keyClick(&s.w, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(messages(s.log).last(),
        QStringLiteral("zem_get_measurement_settings returned result_ok 0"));

    // Measure belongs to another dock: the key presses its button when there is one.
    auto *measure = new QPushButton(&s.w);
    measure->setObjectName(QStringLiteral("measureButton"));
    QSignalSpy pressed(measure, &QPushButton::clicked);
    QTest::keyClick(&s.w, Qt::Key_M, Qt::ControlModifier);
    QCOMPARE(pressed.size(), 1);

    QTest::keyClick(&s.w, Qt::Key_F1);
    QTRY_VERIFY(s.w.findChild<QWidget *>(QStringLiteral("keysDialog")));
}

QTEST_MAIN(tst_Session)
#include "tst_session.moc"
