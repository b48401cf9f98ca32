// The command pages through a real window against the recording double of the
// zem library: request bytes, shown responses, CallGetter, periodic logging,
// profiles and the captions of every page.
#include "commandpage.h"
#include "multilistwidget.h"
#include "pagetesting.h"
#include "profiles.h"
#include "records.h"
#include "zemdouble.h"

#include <QLabel>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <memory>

namespace {

const zem::Command &command(const QString &name)
{
    return *findCommand(name.toLatin1().constData());
}

// A record of size bytes, zero but for patches "offset:hex" or
// "offset:float:<float>,<float>,..." (little-endian floats).
QByteArray record(int size, const QStringList &patches)
{
    QByteArray r(size, '\0');
    for (const QString &p : patches) {
        const int colon = p.indexOf(QLatin1Char(':'));
        const QString value = p.mid(colon + 1);
        QByteArray bytes;
        if (value.startsWith(QLatin1String("float:"))) {
            for (const QString &x : value.mid(6).split(QLatin1Char(','))) {
                const float f = x.toFloat();
                bytes.append(reinterpret_cast<const char *>(&f), sizeof f);
            }
        } else {
            bytes = QByteArray::fromHex(value.toLatin1());
        }
        r.replace(p.left(colon).toInt(), bytes.size(), bytes);
    }
    return r;
}

void respond(const zem::Command &c, const QStringList &patches)
{
    const QByteArray r = record(c.response->size, patches);
    zemdouble::setResponse(c.operation, std::vector<std::uint8_t>(r.begin(), r.end()));
}

QByteArray lastRequest(const std::string &function)
{
    for (auto c = zemdouble::calls().rbegin(); c != zemdouble::calls().rend(); ++c)
        if (c->function == function)
            return QByteArray(
                reinterpret_cast<const char *>(c->request.data()), qsizetype(c->request.size()));
    return "<not called>";
}

QStringList callLines()
{
    QStringList out;
    for (const std::string &line : zemdouble::callLines())
        out << QString::fromStdString(line);
    return out;
}

QByteArray readFile(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

// "Field=text" pairs: the field's name and its text.
QPair<QString, QString> assignment(const QString &pair)
{
    const int eq = pair.indexOf(QLatin1Char('='));
    return { pair.left(eq), pair.mid(eq + 1) };
}

// Connected to the double, which returns handle 1; the connection's calls
// are forgotten.
struct DoubleWindow : Window
{
    DoubleWindow()
        : Window(QStringLiteral("virtual://x"))
    {
        zemdouble::reset();
    }
};

} // namespace

class tst_Pages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestBytes_data();
    void requestBytes();
    void responseTexts_data();
    void responseTexts();
    void result_data();
    void result();
    void callGetter_data();
    void callGetter();

    void periodicLog_data();
    void periodicLog();
    void periodicLogCannotOpen();

    void profiles_data();
    void profiles();

    void captions_data();
    void captions();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
};

void tst_Pages::init()
{
    zemdouble::reset();
    // Log and profile files land in a directory of their own.
    dir = std::make_unique<QTemporaryDir>();
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
}

void tst_Pages::cleanup()
{
    QDir::setCurrent(previousDir);
    dir.reset();
}

void tst_Pages::requestBytes_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("typed"); // "Field=text"
    QTest::addColumn<QStringList>("sent"); // patches of the zero record

    const QString ms = QStringLiteral("set_measurement_settings");
    QTest::newRow("uint16 max") << "get_measurement" << QStringList { "FrameNumber=65535" }
                                << QStringList { "0:ffff" };
    QTest::newRow("uint16 65536 wraps to 0")
        << "get_measurement" << QStringList { "FrameNumber=65536" } << QStringList();
    QTest::newRow("letters are 0")
        << "get_measurement_raw" << QStringList { "Frame=ab" } << QStringList();
    QTest::newRow("uint8 300 keeps the low byte")
        << ms << QStringList { "OutputMode=300" } << QStringList { "28:2c" };
    QTest::newRow("uint32 max") << ms << QStringList { "NumberPoints=4294967295" }
                                << QStringList { "8:ffffffff" };
    QTest::newRow("uint32 beyond max is 0")
        << ms << QStringList { "NumberChargePoints=4294967296" } << QStringList();
    QTest::newRow("floats") << ms << QStringList { "SamplingRate=1.5", "MaxVoltage=-2.5e-3" }
                            << QStringList { "0:float:1.5", "16:float:-0.0025" };
    QTest::newRow("long byte array stops at its field")
        << ms << QStringList { "Reserved0=1 2 3 4 5 6" } << QStringList { "20:01020304" };
    QTest::newRow("double space is a zero element")
        << ms << QStringList { "Reserved0=1  2" } << QStringList { "20:010002" };
    QTest::newRow("leading and trailing space")
        << ms << QStringList { "Reserved0= 5 6 " } << QStringList { "20:000506" };

    QStringList thirtyOne;
    QString thirty;
    for (int i = 1; i <= 31; ++i) {
        thirtyOne << QString::number(i);
        if (i <= 30)
            thirty += QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0'));
    }
    QTest::newRow("flags and 30 of 31 bytes")
        << "reset_events"
        << QStringList { "IOEventsRst=15", "Reserved0=" + thirtyOne.join(QLatin1Char(' ')) }
        << QStringList { "0:0f00", "2:" + thirty };
    QTest::newRow("calibration") << "set_calibration_settings"
                                 << QStringList { "Reserved0=255 256 -1", "ADCMult=1e-05",
                                        "CurrentSense3Offset=-128" }
                                 << QStringList { "0:ff00ff", "8:float:1e-05", "36:float:-128" };
    QTest::newRow("no request") << "start_measurement" << QStringList() << QStringList();
}

void tst_Pages::requestBytes()
{
    QFETCH(QString, page);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, sent);

    DoubleWindow window;
    iopanel &p = window.open(page);
    for (const QString &t : typed) {
        const auto [name, text] = assignment(t);
        window.type(p, name, text);
        QCOMPARE(field(p, true, name)->GetValue(), text);
    }
    window.send(p);

    const zem::Command &c = command(page);
    QCOMPARE(callLines(), QStringList { QLatin1String(c.operation) + "(1)" });
    QCOMPARE(lastRequest(c.operation).toHex(' '),
        record(c.request ? c.request->size : 0, sent).toHex(' '));
}

void tst_Pages::responseTexts_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("response"); // patches of the zero record
    QTest::addColumn<QStringList>("texts"); // "Field=text"
    QTest::addColumn<QStringList>("ticked"); // every ticked name, in page order

    const auto zeros = [](int n) { return QStringList(n, QStringLiteral("0")).join(' '); };
    QTest::newRow("status")
        << "get_status" << QStringList { "0:00000080", "4:f6ff", "6:ff01", "8:0300", "10:0f00" }
        << QStringList { "Status=2147483648", "Temperature=-10", "Reserved0=255 1", "IOState=3",
               "IOEvents=15", "Reserved1=" + zeros(42) }
        << QStringList { "STATUS_OK", "IOSTATE_GEN_PROBE_BUTTON_PRESSED",
               "IOSTATE_RECV_PROBE_BUTTON_PRESSED", "IOEVENTS_GEN_PROBE_BUTTON_PRESSED",
               "IOEVENTS_GEN_PROBE_BUTTON_RELEASED", "IOEVENTS_RECV_PROBE_BUTTON_PRESSED",
               "IOEVENTS_RECV_PROBE_BUTTON_RELEASED" };
    QTest::newRow("identity") << "get_identity_information"
                              << QStringList { "0:5a454d", "48:ff", "50:2c01", "60:efcdab89" }
                              << QStringList { "Manufacturer=90 69 77 " + zeros(13),
                                     "HardwareMajor=255", "HardwareBugfix=300",
                                     "SerialNumber=2309737967" }
                              << QStringList();
    QStringList volts;
    for (int i = -12; i <= 12; ++i)
        volts << QString::number(i);
    QTest::newRow("25 floats") << "get_measurement"
                               << QStringList { "0:float:" + volts.join(','),
                                      "100:float:1234567,0.1,0.33333334,1e-7" }
                               << QStringList { "Voltage=" + volts.join(' '),
                                      "Current=1.23457e+06 0.1 0.333333 1e-07 " + zeros(21) }
                               << QStringList();
    QTest::newRow("16-bit arrays")
        << "get_measurement_raw" << QStringList { "0:ffff", "98:0001" }
        << QStringList { "ADCHighCode=65535 " + zeros(24), "ADCLowCode=" + zeros(24) + " 256" }
        << QStringList();
}

void tst_Pages::responseTexts()
{
    QFETCH(QString, page);
    QFETCH(QStringList, response);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, ticked);

    DoubleWindow window;
    iopanel &p = window.open(page);
    respond(command(page), response);
    window.send(p);

    for (const QString &t : texts) {
        const auto [name, text] = assignment(t);
        QCOMPARE(field(p, false, name)->GetValue(), text);
    }
    QStringList shownTicks;
    for (int i = 0; i < p.GetResponseCount(); ++i)
        for (const auto *list : p.GetResponse(i)->findChildren<MultiListWidget *>())
            shownTicks << list->CheckedItems();
    QCOMPARE(shownTicks, ticked);
}

void tst_Pages::result_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ok") << 0 << true << false << "result_ok 0";
    QTest::newRow("value error") << -3 << true << false << "result_value_error (-3)";
    QTest::newRow("undefined") << -1 << false << true << "device_undefined (-1)";
    QTest::newRow("not implemented") << -2 << false << false << "result_not_implemented (-2)";
    QTest::newRow("no device") << -4 << false << false << "result_nodevice (-4)";
    QTest::newRow("timeout") << -5 << false << false << "result_timeout (-5)";
    QTest::newRow("positive 1") << 1 << false << false << "device_undefined (-1)";
    QTest::newRow("-6") << -6 << false << false << "-6";
}

void tst_Pages::result()
{
    QFETCH(int, result);
    QFETCH(bool, shows);
    QFETCH(bool, closes);
    QFETCH(QString, text);

    DoubleWindow window;
    iopanel &p = window.open(QStringLiteral("get_status"));
    const zem::Command &c = command(QStringLiteral("get_status"));
    respond(c, { "4:0500" });
    window.send(p);
    // The double fills the record whatever it returns: the page must ignore it.
    respond(c, { "4:f6ff" });
    zemdouble::setResult("zem_get_status", result);
    window.send(p);

    QCOMPARE(field(p, false, QStringLiteral("Temperature"))->GetValue(),
        shows ? QStringLiteral("-10") : QStringLiteral("5"));
    QStringList calls { "zem_get_status(1)", "zem_get_status(1)" };
    if (closes)
        calls << "zem_close_device(1)";
    QCOMPARE(callLines(), calls);
    QCOMPARE(window.w.deviceHandle(), closes ? -1 : 1);
    QCOMPARE(logMessages(window.w).mid(1),
        (QStringList { "zem_get_status returned result_ok 0", "zem_get_status returned " + text }));
}

void tst_Pages::callGetter_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<QStringList>("before"); // the getter page's shown response
    QTest::addColumn<QStringList>("fetched"); // what the library returns on CallGetter
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("logged"); // the result text of the getter's line
    QTest::addColumn<QStringList>("sent"); // the setter's request on Send afterwards

    const QString ms = QStringLiteral("set_measurement_settings");
    const QString cs = QStringLiteral("set_calibration_settings");
    const QStringList msBefore { "8:64000000" };
    const QStringList msFetched { "0:float:1.2345678", "8:e8030000", "28:02", "47:ff" };
    QTest::newRow("measurement, ok")
        << ms << msBefore << msFetched << 0 << "result_ok 0"
        << QStringList { "0:float:1.23457", "8:e8030000", "28:02", "47:ff" };
    QTest::newRow("measurement, failed get copies the older texts")
        << ms << msBefore << msFetched << -4 << "result_nodevice (-4)" << msBefore;
    const QStringList csFetched { "0:0102030405060708", "8:float:1.2345678", "36:float:-1e+10",
        "111:ff" };
    QTest::newRow("calibration, ok")
        << cs << QStringList { "8:float:1" } << csFetched << 0 << "result_ok 0"
        << QStringList { "0:0102030405060708", "8:float:1.23457", "36:float:-1e+10", "111:ff" };
    QTest::newRow("calibration, device undefined")
        << cs << QStringList { "8:float:1" } << csFetched << -1 << "device_undefined (-1)"
        << QStringList { "8:float:1" };
}

void tst_Pages::callGetter()
{
    QFETCH(QString, setter);
    QFETCH(QStringList, before);
    QFETCH(QStringList, fetched);
    QFETCH(int, result);
    QFETCH(QString, logged);
    QFETCH(QStringList, sent);

    DoubleWindow window;
    const zem::Command &set = command(setter);
    const zem::Command &get = command(QLatin1String(set.getter));
    iopanel &getterPage = window.open(QLatin1String(set.getter));
    respond(get, before);
    window.send(getterPage);

    iopanel &setterPage = window.open(setter);
    zemdouble::reset();
    respond(get, fetched);
    zemdouble::setResult(get.operation, result);
    const int logLines = logMessages(window.w).size();
    QTest::mouseClick(setterPage.getterButton, Qt::LeftButton);

    // Only the getter ran, and only its line was logged.
    QStringList calls { QLatin1String(get.operation) + "(1)" };
    if (result == -1)
        calls << "zem_close_device(1)";
    QCOMPARE(callLines(), calls);
    QCOMPARE(logMessages(window.w).mid(logLines),
        QStringList { QLatin1String(get.operation) + " returned " + logged });
    QCOMPARE(setterPage.GetRequestCount(), getterPage.GetResponseCount());
    for (int i = 0; i < setterPage.GetRequestCount(); ++i)
        QCOMPARE(setterPage.GetRequest(i)->GetValue(), getterPage.GetResponse(i)->GetValue());

    window.send(setterPage);
    QCOMPARE(lastRequest(set.operation).toHex(' '), record(set.request->size, sent).toHex(' '));
}

void tst_Pages::periodicLog_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("response");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("status") << "get_status" << QStringList { "4:f6ff", "10:0f00" }
                            << QByteArray(
                                   "Status(uint32_t) Temperature(int16_t) Reserved0(uint8_t[2]) "
                                   "IOState(uint16_t) IOEvents(uint16_t) Reserved1(uint8_t[42]) ")
                            << "0 -10 0 0 0 15 " + QByteArray("0 ").repeated(41) + "0 ";
    QTest::newRow("50 floats") << "get_measurement" << QStringList { "0:float:0.5", "196:float:-2" }
                               << QByteArray("Voltage(float[25]) Current(float[25]) ")
                               << "0.5 " + QByteArray("0 ").repeated(23) + "0 "
            + QByteArray("0 ").repeated(24) + "-2 ";
    QTest::newRow("no responses") << "start_measurement" << QStringList() << QByteArray()
                                  << QByteArray();
}

void tst_Pages::periodicLog()
{
    QFETCH(QString, page);
    QFETCH(QStringList, response);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, line);

    DoubleWindow window;
    iopanel &p = window.open(page);
    const zem::Command &c = command(page);
    if (c.response)
        respond(c, response);
    const QString file = page + ".log";
    auto *periodic = p.findChild<QPushButton *>(QStringLiteral("PeriodicButton"));

    p.PeriodicButtonClicked();
    QVERIFY(p.isPeriodic());
    QCOMPARE(periodic->text(), QStringLiteral("Stop"));
    QCOMPARE(readFile(file), header + '\n');
    p.PeriodicUpdate();
    p.PeriodicUpdate();
    // Read while still running: every line is on disk at once.
    QCOMPARE(readFile(file), header + '\n' + line + '\n' + line + '\n');
    QCOMPARE(zemdouble::count(c.operation), 2u);
    QCOMPARE(logMessages(window.w).size(), 3); // the connection and two result lines

    p.PeriodicButtonClicked();
    QVERIFY(!p.isPeriodic());
    QCOMPARE(periodic->text(), QStringLiteral("Periodic"));
    p.PeriodicButtonClicked(); // a new run starts a new file
    QCOMPARE(readFile(file), header + '\n');
    p.PeriodicButtonClicked();
}

void tst_Pages::periodicLogCannotOpen()
{
    QVERIFY(QDir().mkdir(QStringLiteral("get_status.log")));
    DoubleWindow window;
    iopanel &p = window.open(QStringLiteral("get_status"));
    p.findChild<QSpinBox *>(QStringLiteral("FreqBox"))->setValue(100);

    p.PeriodicButtonClicked();
    QVERIFY(p.isPeriodic());
    const QStringList log = logMessages(window.w).mid(1);
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().contains(QLatin1String("get_status.log"))
            && log.first().size() > QStringLiteral("Cannot open get_status.log: ").size(),
        qPrintable(log.first()));
    // The command still repeats, with its result lines only.
    QTRY_VERIFY(zemdouble::count("zem_get_status") >= 2);
    // Also while a search without a match disables the page, Send included.
    QTest::keyClicks(
        window.w.findChild<QLineEdit *>(QStringLiteral("SearchEdit")), QStringLiteral("XYZ"));
    QVERIFY(!p.sendButton->isEnabled());
    const std::size_t calls = zemdouble::count("zem_get_status");
    p.PeriodicUpdate();
    QCOMPARE(zemdouble::count("zem_get_status"), calls + 1);
    p.PeriodicButtonClicked();
    const QStringList later = logMessages(window.w).mid(2);
    QCOMPARE(
        later, QStringList(later.size(), QStringLiteral("zem_get_status returned result_ok 0")));
}

void tst_Pages::profiles_data()
{
    // "<get|set> <file>"; the file chosen: cancel (none), absent, old (holding "old"),
    // nodir (in a missing directory), unreadable, huge, or bytes (holding the bytes).
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("bytes"); // the library's text (get) or the file's (set)
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("log"); // lines joined by "|"; "*" stands for a reason
    QTest::addColumn<QString>("calls"); // joined by "|"
    QTest::addColumn<QByteArray>("after"); // the file's content afterwards (get only)

    const QByteArray text("{\"n\":\"\xc3\xa9\"}\r\n\t");
    const QByteArray absent("<absent>"), old("old"), none;
    const QString get("zem_get_profile(1)"), set("zem_set_profile(1)");
    const QString close("|zem_close_device(1)"), openError("Error opening file|Abort");
    const QString readError("File error:|*|Abort");
    QTest::newRow("get cancelled") << "get cancel" << text << 0 << ""
                                   << "" << absent;
    QTest::newRow("get cannot open") << "get nodir" << text << 0 << openError << "" << absent;
    QTest::newRow("get -2 keeps the old file")
        << "get old" << text << -2 << "get_profile returned -2|Abort" << get << old;
    QTest::newRow("get -2 creates no file")
        << "get absent" << text << -2 << "get_profile returned -2|Abort" << get << absent;
    QTest::newRow("get -1 closes")
        << "get old" << text << -1 << "get_profile returned -1|Abort" << get + close << old;
    QTest::newRow("get -3 saves") << "get old" << text << -3 << "get_profile returned -3|Done"
                                  << get << text;
    QTest::newRow("get without text")
        << "get old" << QByteArray() << 0 << "get_profile returned 0|Done" << get << QByteArray();
    QTest::newRow("set cancelled") << "set cancel" << text << 0 << ""
                                   << "" << none;
    QTest::newRow("set read error") << "set unreadable" << text << 0 << readError << "" << none;
    QTest::newRow("set refuses a huge file") << "set huge" << text << 0 << readError << "" << none;
    QTest::newRow("set hands raw bytes")
        << "set bytes" << text << 0 << "set_profile returned 0|Done" << set << none;
    QTest::newRow("set empty file")
        << "set bytes" << QByteArray("") << 0 << "set_profile returned 0|Done" << set << none;
    QTest::newRow("set -4 aborts")
        << "set bytes" << text << -4 << "set_profile returned -4|Abort" << set << none;
}

void tst_Pages::profiles()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    QFETCH(QString, log);
    QFETCH(QString, calls);
    QFETCH(QByteArray, after);

    const bool get = setup.startsWith(QLatin1String("get"));
    const QString kind = setup.section(QLatin1Char(' '), 1);
    QString name = QDir::current().absoluteFilePath(QStringLiteral("zem.json"));
    if (kind == QLatin1String("cancel")) {
        name.clear();
    } else if (kind == QLatin1String("nodir")) {
        name = QDir::current().absoluteFilePath(QStringLiteral("missing/zem.json"));
    } else if (kind == QLatin1String("unreadable")) {
        // Opens, but reading fails: address 0 of this process is not mapped.
        name = QStringLiteral("/proc/self/mem");
    } else if (kind != QLatin1String("absent")) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kind == QLatin1String("old") ? QByteArray("old") : bytes);
        if (kind == QLatin1String("huge"))
            QVERIFY(file.resize(kMaxProfileFileSize + 1)); // sparse
    }

    DoubleWindow window;
    window.w.setFileChooser(std::make_unique<FakeChooser>(name));
    if (get && !bytes.isNull())
        zemdouble::setResponse(
            "zem_get_profile", std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    zemdouble::setResult(get ? "zem_get_profile" : "zem_set_profile", result);
    const char *button = get ? "GetProfileBtn" : "SetProfileBtn";
    QTest::mouseClick(window.w.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);

    QStringList shown = logMessages(window.w).mid(1);
    const QStringList expected = log.isEmpty() ? QStringList() : log.split(QLatin1Char('|'));
    for (int i = 0; i < qMin(expected.size(), shown.size()); ++i)
        if (expected.at(i) == QLatin1String("*") && !shown.at(i).isEmpty())
            shown[i] = expected.at(i);
    QCOMPARE(shown, expected);
    QCOMPARE(callLines().join(QLatin1Char('|')), calls);
    QCOMPARE(window.w.deviceHandle(), calls.contains(QLatin1String("close")) ? -1 : 1);
    if (get)
        QCOMPARE(readFile(QStringLiteral("zem.json")), after);
    else if (!calls.isEmpty()) // handed over byte for byte
        QCOMPARE(lastRequest("zem_set_profile"), bytes);
}

void tst_Pages::captions_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < zem::kCommandCount; ++i)
        QTest::newRow(zem::kCommands[i].name) << int(i);
}

void tst_Pages::captions()
{
    QFETCH(int, index);
    const zem::Command &c = zem::kCommands[index];
    const QString name = QLatin1String(c.name);

    MainWindow window;
    auto *list = window.container()->findChild<QListWidget *>(QStringLiteral("listWidget"));
    QCOMPARE(list->count(), int(zem::kCommandCount));
    QCOMPARE(list->item(index)->text(), name);
    iopanel *page = window.page(name);
    QVERIFY(page);
    QCOMPARE(page->GetName(), name);

    static const char *const classes[] = { "IntInput", "IntOutput", "FloatInput", "FloatOutput",
        "IntArrInput", "IntArrOutput", "FloatArrOutput" };
    for (bool request : { true, false }) {
        const zem::Record *r = request ? c.request : c.response;
        const int count = request ? page->GetRequestCount() : page->GetResponseCount();
        QCOMPARE(count, r ? int(r->fields.size()) : 0);
        for (int i = 0; i < count; ++i) {
            const zem::Field &f = r->fields[i];
            base_io_widget *w = request ? page->GetRequest(i) : page->GetResponse(i);
            QCOMPARE(w->GetLabel()->text(),
                QStringLiteral("%1 type: %2")
                    .arg(QLatin1String(f.name), QLatin1String(f.typeText)));
            QCOMPARE(w->metaObject()->className(), classes[int(zem::widgetKind(f, request))]);
            QStringList names, expected;
            for (const MultiListWidget *l : w->findChildren<MultiListWidget *>())
                for (int row = 0; row < l->count(); ++row)
                    names << l->item(row)->text();
            for (const zem::NamedValue &v : f.values)
                expected << QLatin1String(v.name);
            QCOMPARE(names, expected);
        }
        const char *area = request ? "scrollArea" : "scrollArea_2";
        QCOMPARE(page->findChild<QScrollArea *>(QLatin1String(area))->isHidden(), count == 0);
    }
    QCOMPARE(page->getterButton->isHidden(), c.getter == nullptr);

    QTest::keyClicks(
        window.findChild<QLineEdit *>(QStringLiteral("SearchEdit")), QStringLiteral("get"));
    QCOMPARE(list->item(index)->isHidden(), !name.contains(QLatin1String("get")));
    QCOMPARE(list->currentItem()->text(), QStringLiteral("get_measurement_raw"));
    QCOMPARE(window.container()->findChild<QStackedWidget *>()->currentWidget(),
        window.page(QStringLiteral("get_measurement_raw")));
}

QTEST_MAIN(tst_Pages)
#include "tst_pages.moc"
