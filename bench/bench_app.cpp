// Figures of the window program's shell: how the log grows, and how long the
// window takes to come up in-process. Prints figures; asserts nothing.
#include "figure.h"

#include "mainwindow.h"
#include "shownwindow.h"

#include <QApplication>
#include <QListWidget>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <memory>

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

// The cost of one more line once the log is long, with the event loop run
// after each line as when lines arrive from a periodic page.
double secondsPerLineAfter(int existing, int more)
{
    auto window = shownWindow();
    for (int i = 0; i < existing; ++i)
        window->AddLog(QStringLiteral("line %1").arg(i));
    QCoreApplication::processEvents();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < more; ++i) {
        window->AddLog(QStringLiteral("more %1").arg(i));
        QCoreApplication::processEvents();
    }
    return secondsSince(start) / more;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    figure("one log line with the event loop run, at 1,000 / 200,000 lines", "-", "%.2f / %.2f ms",
        1000 * secondsPerLineAfter(1000, 200), 1000 * secondsPerLineAfter(200000, 200));
    return 0;
}
