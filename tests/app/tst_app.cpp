#include "container.h"
#include "curve.h"
#include "curvedock.h"
#include "devicesession.h"
#include "filechooser.h"
#include "iopanel.h"
#include "mainwindow.h"
#include "recording.h"
#include "signature.h"
#include "signaturesdock.h"
#include "zemdouble.h"

#include <QAction>
#include <QDockWidget>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTime>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// The recorded calls, with the URL of each open, e.g. zem_open_device("x")=5.
QStringList recordedCalls()
{
    QStringList out;
    for (const zemdouble::Call &c : zemdouble::calls()) {
        QString line = QString::fromStdString(c.function);
        if (c.function == "zem_open_device") {
            const QByteArray url(
                reinterpret_cast<const char *>(c.request.data()), int(c.request.size()));
            line += QStringLiteral("(\"%1\")=%2").arg(QString::fromLatin1(url)).arg(c.handle);
        } else {
            line += QStringLiteral("(%1)").arg(c.handle);
        }
        out << line;
    }
    return out;
}

const QRegularExpression logLinePattern(
    QStringLiteral("^([01]\\d|2[0-3]):([0-5]\\d):([0-5]\\d): (.*)$"),
    QRegularExpression::DotMatchesEverythingOption);

// The log's messages without their time stamps.
QStringList logMessages(const MainWindow &window)
{
    const auto *log = window.findChild<QListWidget *>(QStringLiteral("LogWidget"));
    QStringList out;
    for (int row = 0; row < log->count(); ++row) {
        const QRegularExpressionMatch m = logLinePattern.match(log->item(row)->text());
        out << (m.hasMatch() ? m.captured(4)
                             : QStringLiteral("<no time stamp> ") + log->item(row)->text());
    }
    return out;
}

template <class T> T *child(const QObject &parent, const char *name)
{
    T *w = parent.findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

} // namespace

class tst_App : public QObject
{
    Q_OBJECT

private slots:
    void init() { zemdouble::reset(); }

    void resultText_data();
    void resultText();
    void connectionRule_data();
    void connectionRule();
    void tracing();

    void logLine_data();
    void logLine();
    void logInteraction();
    void initialWindow();
    void connection_data();
    void connection();

    void search_data();
    void search();

    void unsavedSignature();

    void smallScreen_data();
    void smallScreen();
    void curveFiguresInView();
};

void tst_App::smallScreen_data()
{
    QTest::addColumn<QStringList>("steps"); // docks shown in turn; "default": View, Default layout

    const QStringList all { "curveDock", "callsDock", "trendDock", "signaturesDock",
        "historyDock" };
    for (const QString &dock : all)
        QTest::newRow(qPrintable(dock)) << QStringList { dock };
    QTest::newRow("every dock") << all;
    QTest::newRow("every dock, then the default layout") << all + QStringList { "default" };
}

// A small laptop's screen: whatever the docks shown, the window's frame stays
// on it, and the URL field, the command list and the response pane keep room
// to be used.
void tst_App::smallScreen()
{
    QFETCH(QStringList, steps);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = window.screen()->availableGeometry();
    if (screen.size() != QSize(1280, 800))
        QSKIP("needs a 1280 x 800 screen (the offscreen platform gets one in main)");
    auto *defaultLayout = child<QAction>(window, "defaultLayoutAction");
    defaultLayout->trigger(); // as on first start
    auto *url = child<QLineEdit>(window, "comEdit");
    auto *list = child<QListWidget>(window, "listWidget");
    auto *response
        = child<QWidget>(*window.page(QStringLiteral("get_measurement")), "scrollArea_2");
    const int character = window.fontMetrics().averageCharWidth();

    for (const QString &step : steps) {
        if (step == QLatin1String("default")) {
            defaultLayout->trigger();
        } else {
            child<QDockWidget>(window, qPrintable(step))->show();
            child<QDockWidget>(window, qPrintable(step))->raise();
        }
        QApplication::processEvents();
        QVERIFY2(screen.contains(window.frameGeometry()), qPrintable(step));
        QVERIFY(url->width() >= url->fontMetrics().horizontalAdvance(url->placeholderText()));
        QVERIFY(list->width() >= 12 * character);
        QVERIFY(response->isVisible() && response->width() >= 20 * character);
    }
}

// On the same screen at the default layout, the Curve dock shows its chart
// and, under it, the figures of the curve whole, without scrolling; also once
// the window has been laid out again many times, which made the chart grow
// by a little each time and push the figures out of view.
void tst_App::curveFiguresInView()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (window.screen()->availableGeometry().size() != QSize(1280, 800))
        QSKIP("needs a 1280 x 800 screen (the offscreen platform gets one in main)");
    child<QAction>(window, "defaultLayoutAction")->trigger();
    // What a desktop's title bar and borders leave of the screen, as the
    // window is fitted under a window manager (the offscreen frame is thinner).
    window.resize(1264, 752);
    QTRY_COMPARE(window.size(), QSize(1264, 752));
    QApplication::processEvents(); // the layout requests the resize posted
    Curve curve;
    for (int i = 0; i < 100; ++i) {
        curve.voltage.push_back(float(-5 + 0.1 * i));
        curve.current.push_back(float(std::exp(0.5 * i / 10.0) * 1e-2));
    }
    curve.duration = std::chrono::milliseconds(10);
    curve.complete = true;
    // A frame read on the page beside it: the dock's status takes two lines.
    get_measurement_response frame {};
    window.curveDock()->addPageFrame(0, frame);
    window.curveDock()->flush();
    window.curveDock()->showCurve(curve);
    QApplication::processEvents();
    // Each new text of the status bar lays the window out again, as the
    // calls of a run do.
    for (int i = 0; i < 50; ++i) {
        window.statusBar()->showMessage(QString(i % 7 + 1, QLatin1Char('x')));
        QApplication::processEvents();
    }

    auto *scroll = child<QScrollArea>(window, "curveDockScroll");
    auto *figures = child<QLabel>(window, "curveFigures");
    QVERIFY(figures->text().contains(QStringLiteral(" · run 10.0 ms")));
    const QRect shown(figures->mapTo(scroll->viewport(), QPoint()), figures->size());
    QVERIFY2(scroll->viewport()->rect().contains(shown),
        qPrintable(QStringLiteral("figures at %1, %2 of a %3 x %4 view")
                       .arg(shown.x())
                       .arg(shown.y())
                       .arg(scroll->viewport()->width())
                       .arg(scroll->viewport()->height())));
    QVERIFY(figures->height() >= figures->heightForWidth(figures->width()));
    // ... and the chart keeps the height the rest leaves.
    QVERIFY(child<QWidget>(window, "curveView")->height() >= scroll->viewport()->height() / 2);
}

// New and closing the window with signature points not saved: Cancel keeps
// them, Discard drops them, Save writes them first.
void tst_App::unsavedSignature()
{
    MainWindow w;
    auto files = std::make_shared<FixedFileChooser>(QString());
    w.setFileChooser(files);
    w.show();
    auto *dock = child<SignaturesDock>(w, "signaturesDock");
    QCOMPARE(dock->addPoints(QStringLiteral("R1, D1")), 2);
    auto *newButton = child<QPushButton>(*dock, "signatureNewButton");
    // Answers the question that the next action asks, once it is shown.
    QString asked;
    const auto answer = [&](QMessageBox::StandardButton button) {
        auto *poll = new QTimer(&w);
        connect(poll, &QTimer::timeout, &w, [&asked, poll, button] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                asked = box->objectName();
                poll->stop();
                poll->deleteLater();
                box->button(button)->click();
            }
        });
        poll->start(10);
    };

    answer(QMessageBox::Cancel);
    newButton->click();
    QCOMPARE(asked, QStringLiteral("unsavedQuestion"));
    QCOMPARE(dock->signature().points.size(), 2u);
    answer(QMessageBox::Discard);
    newButton->click();
    QCOMPARE(dock->signature().points.size(), 0u);
    asked.clear();
    newButton->click(); // nothing to lose: no question
    QVERIFY(asked.isEmpty());

    QCOMPARE(dock->addPoints(QStringLiteral("C1")), 1);
    answer(QMessageBox::Cancel);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QTemporaryDir dir;
    files->name = dir.filePath(QStringLiteral("board.json"));
    answer(QMessageBox::Save);
    QVERIFY(w.close());
    const auto saved = sig::load(files->name, nullptr);
    QVERIFY(saved && saved->points.size() == 1 && saved->points[0].name == QStringLiteral("C1"));

    // A save dialog's name without an extension takes the type's.
    QCOMPARE(withTypeExtension(QStringLiteral("board"), QStringLiteral("Signature files (*.json)")),
        QStringLiteral("board.json"));
    QCOMPARE(withTypeExtension(QStringLiteral("board"), QStringLiteral("All files (*)")),
        QStringLiteral("board"));
}

void tst_App::resultText_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text"); // the window's log line
    QTest::addColumn<QString>("exact"); // everywhere else

    QTest::newRow("0") << 0 << "result_ok 0"
                       << "result_ok 0";
    QTest::newRow("-1") << -1 << "device_undefined (-1)"
                        << "device_undefined (-1)";
    QTest::newRow("-2") << -2 << "result_not_implemented (-2)"
                        << "result_not_implemented (-2)";
    QTest::newRow("-3") << -3 << "result_value_error (-3)"
                        << "result_value_error (-3)";
    QTest::newRow("-4") << -4 << "result_nodevice (-4)"
                        << "result_nodevice (-4)";
    QTest::newRow("-5") << -5 << "result_timeout (-5)"
                        << "result_timeout (-5)";
    QTest::newRow("-6") << -6 << "-6"
                        << "unknown (-6)";
    // In the log a positive code is named by its magnitude.
    QTest::newRow("1") << 1 << "device_undefined (-1)"
                       << "unknown (1)";
    QTest::newRow("2") << 2 << "result_not_implemented (-2)"
                       << "unknown (2)";
    QTest::newRow("3") << 3 << "result_value_error (-3)"
                       << "unknown (3)";
    QTest::newRow("4") << 4 << "result_nodevice (-4)"
                       << "unknown (4)";
    QTest::newRow("5") << 5 << "result_timeout (-5)"
                       << "unknown (5)";
    QTest::newRow("6") << 6 << "6"
                       << "unknown (6)";
    QTest::newRow("17") << 17 << "17"
                        << "unknown (17)";
    QTest::newRow("min") << std::numeric_limits<int32_t>::min() << "-2147483648"
                         << "unknown (-2147483648)";
    QTest::newRow("max") << std::numeric_limits<int32_t>::max() << "2147483647"
                         << "unknown (2147483647)";
}

void tst_App::resultText()
{
    QFETCH(int, result);
    QFETCH(QString, text);
    QFETCH(QString, exact);
    QCOMPARE(QString::fromStdString(zem::calls::logResultName(result)), text);
    QCOMPARE(QString::fromStdString(zem::calls::resultName(result)), exact);
}

void tst_App::connectionRule_data()
{
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("open");

    QTest::newRow("ok") << QList<int> { 0 } << QStringList {} << true;
    QTest::newRow("device undefined closes")
        << QList<int> { -1 } << QStringList { "closed", "lost" } << false;
    QTest::newRow("not implemented") << QList<int> { -2 } << QStringList {} << true;
    QTest::newRow("value error") << QList<int> { -3 } << QStringList {} << true;
    QTest::newRow("no device is lost, stays open")
        << QList<int> { -4 } << QStringList { "lost" } << true;
    QTest::newRow("lost, then answers again")
        << QList<int> { -4, 0 } << QStringList { "lost", "opened" } << true;
    QTest::newRow("timeout") << QList<int> { -5 } << QStringList {} << true;
    QTest::newRow("positive 1") << QList<int> { 1 } << QStringList {} << true;
    QTest::newRow("min") << QList<int> { std::numeric_limits<int32_t>::min() } << QStringList {}
                         << true;
}

// What a result means for the connection, for calls of every kind, and what
// the window hears of it: the record of every call with the result the
// library gave, never one overwritten by the close that follows.
void tst_App::connectionRule()
{
    QFETCH(QList<int>, results);
    QFETCH(QStringList, events);
    QFETCH(bool, open);

    for (const char *kind : { "command", "get_profile", "set_profile" }) {
        zemdouble::reset();
        zemdouble::setOpenHandle(4);
        DeviceSession session;
        QCOMPARE(session.connection().open("virtual://x"), 4);
        QStringList heard;
        QList<int> recorded;
        connect(&session, &DeviceSession::opened, &session, [&] { heard << "opened"; });
        connect(&session, &DeviceSession::closed, &session, [&] { heard << "closed"; });
        connect(&session, &DeviceSession::lost, &session, [&] { heard << "lost"; });
        connect(&session, &DeviceSession::callMade, &session,
            [&](const zem::calls::Call &c) { recorded << c.result; });
        const bool command = std::strcmp(kind, "command") == 0;
        const std::string function = command ? "zem_get_status" : std::string("zem_") + kind;
        zemdouble::queueResults(
            function, std::vector<std::int32_t>(results.begin(), results.end()));
        for (int expected : results) {
            get_status_response st {};
            std::string text;
            const std::int32_t got = command ? session.connection().call("get_status", nullptr, &st)
                : std::strcmp(kind, "get_profile") == 0 ? session.connection().getProfile(text)
                                                        : session.connection().setProfile("{}");
            QCOMPARE(got, expected);
        }
        QCOMPARE(heard, events);
        QCOMPARE(session.isOpen(), open);
        QCOMPARE(session.connection().handle(), open ? 4 : -1);
        QCOMPARE(recorded.mid(0, results.size()), results);
        QCOMPARE(zemdouble::count("zem_close_device"), open ? 0u : 1u);
    }
}

void tst_App::tracing()
{
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QVERIFY(!lcZemCalls().isDebugEnabled());

    QLoggingCategory::setFilterRules(QStringLiteral("zem.calls.debug=true"));
    zemdouble::setOpenHandle(3);
    zemdouble::setResult("zem_get_measurement", -3);
    QTest::ignoreMessage(QtDebugMsg, "zem_open_device(\"virtual://x\") -> 3");
    QTest::ignoreMessage(QtDebugMsg, "zem_get_measurement(3, [19 00]) -> -3");
    QTest::ignoreMessage(QtDebugMsg, "zem_close_device(&3) -> 0, handle -1");
    {
        DeviceSession session;
        session.connection().open("virtual://x");
        get_measurement_request rq { 0x19 };
        get_measurement_response rs {};
        session.connection().call("get_measurement", &rq, &rs);
        session.connection().close();
    }
    QLoggingCategory::setFilterRules(QString());
}

void tst_App::logLine_data()
{
    QTest::addColumn<QString>("message");

    QTest::newRow("plain") << "zem_get_status returned result_ok 0";
    QTest::newRow("empty") << "";
    QTest::newRow("leading blank") << " device undefined";
    QTest::newRow("placeholders kept") << "%1 100% %2";
    QTest::newRow("backslashes") << "com:\\\\.\\COM12 connect";
}

void tst_App::logLine()
{
    QFETCH(QString, message);

    MainWindow window;
    auto *log = child<QListWidget>(window, "LogWidget");
    window.AddLog(QStringLiteral("first"));
    const QTime before = QTime::currentTime();
    window.AddLog(message);
    const QTime after = QTime::currentTime();

    QCOMPARE(log->count(), 2);
    const QString line = log->item(1)->text();
    const QRegularExpressionMatch m = logLinePattern.match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    QCOMPARE(m.captured(4), message);
    // On the 24-hour clock the stamp lies between the times around the call.
    const QTime stamp(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (before <= after) // not across midnight
        QVERIFY2(stamp >= before.addMSecs(-before.msec()) && stamp <= after, qPrintable(line));
}

void tst_App::logInteraction()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *log = child<QListWidget>(window, "LogWidget");
    auto *clean = child<QPushButton>(window, "ClearBtn");

    for (int i = 0; i < 300; ++i)
        window.AddLog(QStringLiteral("line %1").arg(i));
    QCoreApplication::processEvents();
    QListWidgetItem *newest = log->item(log->count() - 1);
    QVERIFY(log->viewport()->rect().contains(log->visualItemRect(newest)));

    // Log lines cannot be selected.
    QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, log->visualItemRect(newest).center());
    QVERIFY(log->selectedItems().isEmpty());

    QTest::mouseClick(clean, Qt::LeftButton);
    QCOMPARE(log->count(), 0);
    QTest::mouseClick(clean, Qt::LeftButton);
    QCOMPARE(log->count(), 0);
    window.AddLog(QStringLiteral("after clean"));
    QCOMPARE(logMessages(window), QStringList { "after clean" });
}

void tst_App::initialWindow()
{
    MainWindow window;
    auto *url = child<QLineEdit>(window, "comEdit");

    QCOMPARE(child<QListWidget>(window, "LogWidget")->count(), 0);
    QVERIFY(child<QLineEdit>(window, "SearchEdit")->text().isEmpty());
    QVERIFY(url->text().isEmpty());
    QVERIFY(url->placeholderText().contains(QLatin1String("virtual://")));
    QCOMPARE(window.deviceHandle(), -1);
    QCOMPARE(window.windowTitle(), QStringLiteral("zem_debugger"));
    // The icon sits in a static library, whose resources are easily lost in linking.
    QVERIFY(!window.windowIcon().isNull());

    const QStringList tip = url->toolTip().split(QLatin1Char('\n'));
    QCOMPARE(tip.size(), 3);
    QCOMPARE(tip.at(0), QStringLiteral("Example:"));
    QCOMPARE(tip.at(1), QStringLiteral("com:\\\\.\\COM12"));
    QVERIFY2(QRegularExpression(QStringLiteral("^vu-net://(\\d{1,3}\\.){3}\\d{1,3}/00001234$"))
                 .match(tip.at(2))
                 .hasMatch(),
        qPrintable(tip.at(2)));

    // Time stamps line up only in a fixed-pitch font, whichever family is installed.
    if (QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).fixedPitch())
        QVERIFY(QFontInfo(child<QListWidget>(window, "LogWidget")->font()).fixedPitch());
}

void tst_App::connection_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("clicks"); // c: Connect, d: Disconnect
    QTest::addColumn<QList<int>>("opens"); // the handles open returns, in turn
    QTest::addColumn<int>("closeLeaves");
    QTest::addColumn<QStringList>("calls"); // including the close at destruction
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("handle"); // before destruction

    const QString url = QStringLiteral("virtual://resistor");
    QTest::newRow("never connected")
        << url << "" << QList<int>() << -1 << QStringList { "zem_close_device(-1)" }
        << QStringList() << -1;
    QTest::newRow("connect") << url << "c" << QList<int> { 5 } << -1
                             << QStringList { "zem_close_device(-1)",
                                    "zem_open_device(\"virtual://resistor\")=5",
                                    "zem_close_device(5)" }
                             << QStringList { "virtual://resistor connect" } << 5;
    QTest::newRow("connect twice")
        << url << "cc" << QList<int> { 5, 6 } << -1
        << QStringList { "zem_close_device(-1)", "zem_open_device(\"virtual://resistor\")=5",
               "zem_close_device(5)", "zem_open_device(\"virtual://resistor\")=6",
               "zem_close_device(6)" }
        << QStringList { "virtual://resistor connect", "virtual://resistor connect" } << 6;
    QTest::newRow("failed open") << url << "c" << QList<int> { -1 } << -1
                                 << QStringList { "zem_close_device(-1)",
                                        "zem_open_device(\"virtual://resistor\")=-1",
                                        "zem_close_device(-1)", "zem_close_device(-1)" }
                                 << QStringList { "virtual://resistor device undefined" } << -1;
    QTest::newRow("failed open while connected")
        << url << "cc" << QList<int> { 5, -1 } << -1
        << QStringList { "zem_close_device(-1)", "zem_open_device(\"virtual://resistor\")=5",
               "zem_close_device(5)", "zem_open_device(\"virtual://resistor\")=-1",
               "zem_close_device(-1)", "zem_close_device(-1)" }
        << QStringList { "virtual://resistor connect", "virtual://resistor device undefined" }
        << -1;
    QTest::newRow("empty URL") << ""
                               << "c" << QList<int> { -1 } << -1
                               << QStringList { "zem_close_device(-1)", "zem_open_device(\"\")=-1",
                                      "zem_close_device(-1)", "zem_close_device(-1)" }
                               << QStringList { " device undefined" } << -1;
    QTest::newRow("URL untrimmed, in Latin-1")
        << " com:\\\\.\\COM\u00e9 "
        << "c" << QList<int> { 2 } << -1
        << QStringList { "zem_close_device(-1)", "zem_open_device(\" com:\\\\.\\COM\u00e9 \")=2",
               "zem_close_device(2)" }
        << QStringList { " com:\\\\.\\COM\u00e9  connect" } << 2;
    QTest::newRow("disconnect without device")
        << url << "d" << QList<int>() << -1
        << QStringList { "zem_close_device(-1)", "zem_close_device(-1)" }
        << QStringList { "Disconnect virtual://resistor" } << -1;
    QTest::newRow("disconnect") << url << "cd" << QList<int> { 5 } << -1
                                << QStringList { "zem_close_device(-1)",
                                       "zem_open_device(\"virtual://resistor\")=5",
                                       "zem_close_device(5)", "zem_close_device(-1)" }
                                << QStringList { "virtual://resistor connect",
                                       "Disconnect virtual://resistor" }
                                << -1;
    // The window passes on whatever the library leaves in the handle.
    QTest::newRow("close leaves its own value")
        << url << "cdc" << QList<int> { 5, 6 } << -7
        << QStringList { "zem_close_device(-1)", "zem_open_device(\"virtual://resistor\")=5",
               "zem_close_device(5)", "zem_close_device(-7)",
               "zem_open_device(\"virtual://resistor\")=6", "zem_close_device(6)" }
        << QStringList { "virtual://resistor connect", "Disconnect virtual://resistor",
               "virtual://resistor connect" }
        << 6;
}

void tst_App::connection()
{
    QFETCH(QString, url);
    QFETCH(QString, clicks);
    QFETCH(QList<int>, opens);
    QFETCH(int, closeLeaves);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, log);
    QFETCH(int, handle);

    zemdouble::queueResults("zem_open_device", std::vector<int32_t>(opens.begin(), opens.end()));
    zemdouble::setCloseLeaves(closeLeaves);

    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Typed as an input method commits it, which carries characters beyond ASCII too.
    QInputMethodEvent typing;
    typing.setCommitString(url);
    QApplication::sendEvent(child<QLineEdit>(*window, "comEdit"), &typing);
    for (QChar click : clicks)
        QTest::mouseClick(
            child<QPushButton>(*window, click == 'c' ? "cntButton" : "dcntButton"), Qt::LeftButton);

    QCOMPARE(logMessages(*window), log);
    QCOMPARE(window->deviceHandle(), handle);
    window.reset();
    QCOMPARE(recordedCalls(), calls);
}

void tst_App::search_data()
{
    QTest::addColumn<QStringList>("names"); // the pages, in order
    // "find:<text>" sets the search text; "down", "up" press an arrow key in
    // the list; "click:<row>" clicks a row.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("visible");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("shown"); // <name>#<position of the page's AddPage>
    QTest::addColumn<bool>("enabled");

    const QStringList names { "get_measurement", "get_status", "start_measurement",
        "get_calibration_settings", "set_calibration_settings" };
    const QStringList getRows { "get_measurement", "get_status", "get_calibration_settings" };

    QTest::newRow("first page after start") << names << QStringList() << names << "get_measurement"
                                            << "get_measurement#0" << true;
    QTest::newRow("last match becomes current")
        << names << QStringList { "find:get" } << getRows << "get_calibration_settings"
        << "get_calibration_settings#3" << true;
    QTest::newRow("case-sensitive: no match keeps the page, disabled")
        << names << QStringList { "find:get", "find:GET" } << QStringList()
        << "get_calibration_settings"
        << "get_calibration_settings#3" << false;
    QTest::newRow("empty search shows all, last row current")
        << names << QStringList { "find:get", "find:" } << names << "set_calibration_settings"
        << "set_calibration_settings#4" << true;
    QTest::newRow("match after no match enables again")
        << names << QStringList { "find:xyz", "find:status" } << QStringList { "get_status" }
        << "get_status"
        << "get_status#1" << true;
    QTest::newRow("only the current row matches")
        << names << QStringList { "find:get_measurement" } << QStringList { "get_measurement" }
        << "get_measurement"
        << "get_measurement#0" << true;
    QTest::newRow("arrow key shows the page")
        << names << QStringList { "down" } << names << "get_status"
        << "get_status#1" << true;
    QTest::newRow("click shows the page")
        << names << QStringList { "click:3" } << names << "get_calibration_settings"
        << "get_calibration_settings#3" << true;
    QTest::newRow("duplicate name shows the newer page")
        << QStringList { "a", "b", "a" } << QStringList { "click:1", "click:0" }
        << QStringList { "a", "b", "a" } << "a"
        << "a#2" << true;
    QTest::newRow("empty browser")
        << QStringList() << QStringList { "find:x", "find:" } << QStringList() << ""
        << "" << false;
}

void tst_App::search()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, visible);
    QFETCH(QString, current);
    QFETCH(QString, shown);
    QFETCH(bool, enabled);

    Container browser;
    for (int i = 0; i < names.size(); ++i) {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("%1#%2").arg(names.at(i)).arg(i));
        browser.AddPage(page, names.at(i));
    }
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    auto *list = child<QListWidget>(browser, "listWidget");
    auto *stack = child<QStackedWidget>(browser, "stackedWidget");

    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("find:"))) {
            browser.Search(step.mid(5));
        } else if (step == QLatin1String("down") || step == QLatin1String("up")) {
            QTest::keyClick(list, step == QLatin1String("down") ? Qt::Key_Down : Qt::Key_Up);
        } else {
            QListWidgetItem *item = list->item(step.mid(6).toInt());
            QTest::mouseClick(
                list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
        }
    }

    QStringList visibleRows;
    for (int row = 0; row < list->count(); ++row)
        if (!list->item(row)->isHidden())
            visibleRows << list->item(row)->text();
    QCOMPARE(visibleRows, visible);
    QCOMPARE(list->currentItem() ? list->currentItem()->text() : QString(), current);
    QCOMPARE(stack->currentWidget() ? stack->currentWidget()->objectName() : QString(), shown);
    QCOMPARE(stack->isEnabled(), enabled);
}

int main(int argc, char *argv[])
{
    // The offscreen platform's screen is as small as a small laptop's.
    QTemporaryFile screen;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && screen.open()
        && screen.write(R"({"screens": [{"width": 1280, "height": 800}]})") > 0 && screen.flush())
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
    QApplication app(argc, argv);
    tst_App test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_app.moc"
