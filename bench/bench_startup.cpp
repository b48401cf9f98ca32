// Whole-process start-up: from exec to the window shown, the full window
// against an empty main window, alternating runs, medians.
#include "figure.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

double runOnce(const char *program)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    char *argv[] = { const_cast<char *>(program), nullptr };
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main()
{
    setenv("ZEM_EXIT_AFTER_SHOW", "1", 1);
    if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<double> debugger, bench, bare;
    for (int i = 0; i < 15; ++i) {
        debugger.push_back(runOnce(ZEM_DEBUGGER));
        bench.push_back(runOnce(ZEM_BENCH));
        bare.push_back(runOnce(BARE_WINDOW));
    }
    const auto failed = [](const std::vector<double> &v) { return std::count(v.begin(), v.end(), -1); };
    if (failed(debugger) || failed(bench) || failed(bare)) {
        figure("start-up to the window shown", "< 2x bare window", "a run failed");
        return 1;
    }
    const double b = median(bare);
    figure("zem_debugger start-up to the window shown (12 pages) / bare Qt main window, medians "
           "of 15",
        "< 2x", "%.0f / %.0f ms (x%.2f)", median(debugger), b, median(debugger) / b);
    figure("zem_bench start-up to the window shown / bare Qt main window, medians of 15", "< 2x",
        "%.0f / %.0f ms (x%.2f)", median(bench), b, median(bench) / b);
    return 0;
}
