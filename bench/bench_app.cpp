// Figures of the window program's shell: how the log grows, and how long the
// window takes to come up in-process. Prints figures; asserts nothing.
#include "devicesession.h"
#include "dockcontext.h"
#include "figure.h"
#include "offscreen.h"

#include "mainwindow.h"
#include "shownwindow.h"
#include "trenddock.h"

#include <QApplication>
#include <QChartView>
#include <QListWidget>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include <malloc.h>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Growth
{
    double append = 0; // the AddLog calls
    double settle = 0; // the event loop's layout and paint afterwards
};

Growth appendLines(int lines)
{
    auto window = shownWindow();
    Growth g;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < lines; ++i)
        window->AddLog(QStringLiteral("zem_get_status returned result_ok 0 (%1)").arg(i));
    g.append = secondsSince(start);
    const Clock::time_point settle = Clock::now();
    QCoreApplication::processEvents();
    g.settle = secondsSince(settle);
    return g;
}

// Heap bytes in use, freed memory of earlier figures not counted.
double heapBytes()
{
    return double(mallinfo2().uordblks);
}

// CPU time of the process: on a shared machine, wall time also counts the
// waits for a core.
double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

struct LongLog
{
    double secondsPerLine = 0;
    double cpuSecondsPerLine = 0;
    double bytesPerLine = 0;
};

// The cost of one more line once the log is long, with the event loop run
// after each line as when lines arrive from a periodic page; and the heap the
// lines take, with lines as a periodic page writes them.
LongLog perLineAfter(int existing, int more)
{
    auto window = shownWindow();
    QCoreApplication::processEvents();
    const double before = heapBytes();
    for (int i = 0; i < existing; ++i)
        window->AddLog(QStringLiteral("zem_get_status returned result_ok 0"));
    QCoreApplication::processEvents();
    LongLog figures;
    figures.bytesPerLine = (heapBytes() - before) / existing;
    const Clock::time_point start = Clock::now();
    const double cpuStart = cpuSeconds();
    for (int i = 0; i < more; ++i) {
        window->AddLog(QStringLiteral("zem_get_status returned result_ok 0"));
        QCoreApplication::processEvents();
    }
    figures.secondsPerLine = secondsSince(start) / more;
    figures.cpuSecondsPerLine = (cpuSeconds() - cpuStart) / more;
    return figures;
}

// One field of 100,000 samples, put on the chart and painted; best of five.
double trendRedrawSeconds()
{
    DeviceSession session;
    DockContext context(session);
    TrendDock dock(context);
    dock.resize(800, 500);
    dock.show();
    if (!QTest::qWaitForWindowExposed(&dock))
        std::fprintf(stderr, "trend not exposed\n");
    const int trace = dock.addTrace(QStringLiteral("get_status Temperature"));
    for (int i = 0; i < TrendDock::kMaxSamples; ++i)
        dock.addPoint(trace, i * 0.01, 30 + 5 * std::sin(i * 0.001) + (i % 7) * 0.1);
    auto *view = dock.findChild<QChartView *>(QStringLiteral("trendView"));
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        dock.addPoint(trace, (TrendDock::kMaxSamples + run) * 0.01, 30);
        const Clock::time_point start = Clock::now();
        dock.redraw();
        view->repaint();
        best = std::min(best, secondsSince(start));
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    offscreenWithoutDisplay();
    QApplication app(argc, argv);
    const Clock::time_point start = Clock::now();
    shownWindow();
    figure("window with all pages constructed and shown, in process", "-", "%.1f ms",
        1000 * secondsSince(start));

    const Growth small = appendLines(100000);
    const Growth large = appendLines(200000);
    figure("AddLog, 100,000 lines (+ layout and paint)", "< 1 s", "%.3f s (+ %.3f s)", small.append,
        small.settle);
    figure("AddLog, 200,000 lines / 100,000 lines", "about 2 (linear)", "%.2f",
        (large.append + large.settle) / (small.append + small.settle));
    const LongLog few = perLineAfter(1000, 500);
    const LongLog many = perLineAfter(1000000, 500);
    figure("one log line with the event loop run, at 1,000 / 1,000,000 lines (ratio)",
        "< 0.5 ms; ratio < 2", "%.3f / %.3f ms (%.2f)", 1000 * few.secondsPerLine,
        1000 * many.secondsPerLine, many.secondsPerLine / few.secondsPerLine);
    figure("the same, CPU time of the process", "-", "%.3f / %.3f ms (%.2f)",
        1000 * few.cpuSecondsPerLine, 1000 * many.cpuSecondsPerLine,
        many.cpuSecondsPerLine / few.cpuSecondsPerLine);
    figure("heap per log line at 1,000,000 lines", "< 400 bytes", "%.0f bytes", many.bytesPerLine);
    figure("a trend of 100,000 samples redrawn (decimate, replace, paint), best of 5", "< 30 ms",
        "%.2f ms", 1000 * trendRedrawSeconds());
    return 0;
}
