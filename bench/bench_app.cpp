// Figures of the window program's shell: how the log grows, and how long the
// window takes to come up in-process. Prints figures; asserts nothing.
#include "mainwindow.h"

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

std::unique_ptr<MainWindow> shownWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::fprintf(stderr, "window not exposed\n");
    return window;
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
    std::printf("window constructed and shown:     %8.1f ms\n", 1000 * secondsSince(start));

    const Growth small = appendLines(100000);
    const Growth large = appendLines(200000);
    std::printf("AddLog x 100000:                  %8.3f s (+ %.3f s layout and paint)\n",
        small.append, small.settle);
    std::printf("AddLog x 200000:                  %8.3f s (+ %.3f s layout and paint)\n",
        large.append, large.settle);
    std::printf("ratio 200000 / 100000 (AddLog):   %8.2f\n", large.append / small.append);
    std::printf("ratio 200000 / 100000 (with paint): %6.2f\n",
        (large.append + large.settle) / (small.append + small.settle));

    std::printf("one line, event loop run, after 1000 lines:   %8.3f ms\n",
        1000 * secondsPerLineAfter(1000, 200));
    std::printf("one line, event loop run, after 200000 lines: %8.3f ms\n",
        1000 * secondsPerLineAfter(200000, 200));
    return 0;
}
