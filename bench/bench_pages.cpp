// Figures of the command pages against the recording double, which answers at
// once: what one Send costs the window, and how closely periodic repetition
// keeps its period. Prints figures; asserts nothing.
#include "figure.h"

#include "iopanel.h"
#include "mainwindow.h"
#include "offscreen.h"
#include "shownwindow.h"
#include "zemdouble.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// A frame as the instrument sends it: 25 voltages and 25 currents whose texts
// need all six digits.
std::vector<std::uint8_t> measurementFrame()
{
    float values[50];
    for (int i = 0; i < 50; ++i)
        values[i] = float(6.0 * std::sin(0.2513 * i) + 1e-3 * i);
    std::vector<std::uint8_t> bytes(sizeof values);
    std::memcpy(bytes.data(), values, sizeof values);
    return bytes;
}

// Average microseconds per Send of get_measurement; with the event loop run
// after each, the log's scrolling and the page's repaint are included.
double sendCost(int clicks, bool runEventLoop)
{
    zemdouble::reset();
    zemdouble::setResponse("zem_get_measurement", measurementFrame());
    auto window = shownWindow();
    iopanel *page = window->page(QStringLiteral("get_measurement"));
    for (int i = 0; i < 100; ++i) // warm-up
        page->sendButton->click();
    QCoreApplication::processEvents();

    const Clock::time_point start = Clock::now();
    for (int i = 0; i < clicks; ++i) {
        page->sendButton->click();
        if (runEventLoop)
            QCoreApplication::processEvents();
    }
    return microsecondsSince(start) / clicks;
}

// What a Send costs in a 1280 x 800 window whose log already holds logLines
// lines: with the log only (every dock hidden), with every dock shown as the
// default layout tabs them (the Curve dock on top), and with every dock shown
// one above the other, so that each is drawn. The three in turn, five rounds
// in the same window, so that the machine's load falls on all of them alike;
// medians of the rounds, microseconds.
struct SendCosts
{
    double logOnly = 0;
    double tabified = 0;
    double stacked = 0;
};

SendCosts sendCosts(int logLines)
{
    zemdouble::reset();
    zemdouble::setResponse("zem_get_measurement", measurementFrame());
    MainWindow window;
    window.resize(1280, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");
    const QList<QDockWidget *> docks = window.findChildren<QDockWidget *>();
    for (QDockWidget *dock : docks)
        dock->show();
    QTest::qWait(50);
    const QByteArray tabified = window.saveState();
    for (int i = 0; i < logLines; ++i)
        window.AddLog(QStringLiteral("zem_get_status returned result_ok 0"));
    iopanel *page = window.page(QStringLiteral("get_measurement"));
    const auto timed = [page] {
        QTest::qWait(50);
        for (int i = 0; i < 100; ++i) { // warm-up
            page->sendButton->click();
            QCoreApplication::processEvents();
        }
        const int clicks = 500;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < clicks; ++i) {
            page->sendButton->click();
            QCoreApplication::processEvents();
        }
        return microsecondsSince(start) / clicks;
    };
    std::vector<double> logOnly, tabs, stacked;
    for (int round = 0; round < 5; ++round) {
        for (QDockWidget *dock : docks)
            dock->hide();
        logOnly.push_back(timed());
        window.restoreState(tabified);
        tabs.push_back(timed());
        for (QDockWidget *dock : docks)
            window.addDockWidget(Qt::RightDockWidgetArea, dock, Qt::Vertical);
        stacked.push_back(timed());
    }
    return { median(logOnly), median(tabs), median(stacked) };
}

struct Drift
{
    std::vector<double> lagsMs; // step k's time minus k periods
    int fileLines = 0;
};

Drift repeat(int periodMs, int durationMs)
{
    zemdouble::reset();
    auto window = shownWindow();
    iopanel *page = window->page(QStringLiteral("get_status"));
    page->findChild<QSpinBox *>(QStringLiteral("FreqBox"))->setValue(periodMs);

    Drift d;
    Clock::time_point start;
    QObject::connect(page->sendButton, &QPushButton::clicked, page, [&] {
        const double ms = microsecondsSince(start) / 1000.0;
        d.lagsMs.push_back(ms - periodMs * double(d.lagsMs.size() + 1));
    });
    start = Clock::now();
    page->PeriodicButtonClicked();
    QEventLoop loop;
    // A coarse timer may end the run up to 5 % early or late.
    QTimer::singleShot(durationMs + periodMs / 2, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    page->PeriodicButtonClicked();

    QFile log(QStringLiteral("get_status.log"));
    if (log.open(QIODevice::ReadOnly))
        d.fileLines = int(log.readAll().count('\n'));
    return d;
}

} // namespace

int main(int argc, char *argv[])
{
    offscreenWithoutDisplay();
    QApplication app(argc, argv);
    // The periodic log file goes to a directory of its own.
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    const int clicks = 2000;
    figure("get_measurement Send on an instant double (pack, call, 50 floats, log line)",
        "< 100 µs", "%.1f µs", sendCost(clicks, false));
    figure("the same with the event loop run (repaint)", "-", "%.1f µs", sendCost(clicks, true));

    const SendCosts few = sendCosts(1000), many = sendCosts(1000000);
    const QString platform = QGuiApplication::platformName();
    figure(qPrintable(QStringLiteral("get_measurement Send with its log line, 1280 x 800 window "
                                     "(%1), log only, at 1,000 / 1,000,000 log lines")
                          .arg(platform)),
        "-", "%.2f / %.2f ms", few.logOnly / 1000, many.logOnly / 1000);
    figure("the same with every dock shown (tabified): at 1,000 / 1,000,000 log lines (x log only)",
        "<= 1.3x", "%.2f / %.2f ms (x%.2f / x%.2f)", few.tabified / 1000, many.tabified / 1000,
        few.tabified / few.logOnly, many.tabified / many.logOnly);
    figure("the same with every dock shown, one above the other (x log only)", "<= 1.3x",
        "%.2f / %.2f ms (x%.2f / x%.2f)", few.stacked / 1000, many.stacked / 1000,
        few.stacked / few.logOnly, many.stacked / many.logOnly);

    const int period = 100, duration = 10000;
    const Drift d = repeat(period, duration);
    if (d.lagsMs.empty()) {
        figure("periodic get_status, 100 ms for 10 s", ">= 99 steps", "no step taken");
        return 0;
    }
    const double maxLag = *std::max_element(d.lagsMs.begin(), d.lagsMs.end());
    figure("periodic get_status, 100 ms for 10 s: steps (log file lines)", ">= 99", "%zu (%d)",
        d.lagsMs.size(), d.fileLines);
    figure("periodic lag behind k x 100 ms: first / last / max", "no growing lag",
        "%.2f / %.2f / %.2f ms", d.lagsMs.front(), d.lagsMs.back(), maxLag);
    return 0;
}
