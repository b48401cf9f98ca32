// zemctl as shell loops and pollers use it: one command as a whole process
// against a process that does nothing, and a 1 ms watch for 10 s.
#include "figure.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs argv with its output thrown away; milliseconds from spawn to exit, -1
// when it fails.
double runOnce(std::vector<const char *> argv)
{
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = 0;
    const bool ran = posix_spawn(&pid, argv[0], &files, nullptr,
                         const_cast<char *const *>(argv.data()), environ)
            == 0
        && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    posix_spawn_file_actions_destroy(&files);
    return ran ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
}

void startup()
{
    std::vector<double> zemctl, nothing;
    for (int i = 0; i < 41; ++i) {
        zemctl.push_back(runOnce({ ZEMCTL, "-u", "virtual://resistor", "get_status" }));
        nothing.push_back(runOnce({ "/bin/true" }));
    }
    if (std::count(zemctl.begin(), zemctl.end(), -1)
        || std::count(nothing.begin(), nothing.end(), -1)) {
        figure("zemctl get_status, whole process", "< 10 ms", "a run failed");
        return;
    }
    const double z = median(zemctl), t = median(nothing);
    figure("zemctl -u virtual://resistor get_status, whole process / /bin/true, medians of 41",
        "< 10 ms", "%.1f / %.1f ms", z, t);
}

// Lets watch run for a little more than 10 s, then counts the lines of the
// first 10 s of its schedule and the lag of the last of them.
void watch()
{
    int out[2];
    if (pipe(out) != 0)
        return;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_addclose(&files, out[0]);
    const char *argv[] = { ZEMCTL, "-u", "virtual://resistor", "watch", "get_status", "--period",
        "1", "--field", "Temperature", nullptr };
    pid_t pid = 0;
    const bool spawned
        = posix_spawn(&pid, ZEMCTL, &files, nullptr, const_cast<char *const *>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&files);
    close(out[1]);
    if (!spawned) {
        figure("zemctl watch at 1 ms", ">= 9950 lines", "cannot start zemctl");
        return;
    }
    std::string text;
    char buffer[1 << 16];
    const auto stopAt = Clock::now() + std::chrono::milliseconds(10300);
    bool stopped = false;
    for (;;) {
        pollfd p { out[0], POLLIN, 0 };
        if (!stopped && Clock::now() >= stopAt) {
            kill(pid, SIGINT);
            stopped = true;
        }
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    long long lines = 0;
    double lastLag = -1;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;
        const auto line = nlohmann::json::parse(
            text.begin() + long(start), text.begin() + long(end), nullptr, false);
        start = end + 1;
        if (line.is_discarded() || !line.contains("elapsed_ms") || line["elapsed_ms"] >= 10000.0)
            continue;
        ++lines;
        lastLag = line["lag_ms"];
    }
    figure("zemctl watch get_status --period 1: lines in 10 s", ">= 9950", "%lld", lines);
    figure("zemctl watch --period 1: lag of the last line after its tick", "< 2 ms", "%.3f ms",
        lastLag);
}

// A board of 50 points learned once, then tested with two captures a point
// on the instant virtual instrument, as a whole process.
void test50()
{
    char dir[] = "/tmp/bench_zemctl.XXXXXX";
    if (!mkdtemp(dir))
        return;
    const std::string file = std::string(dir) + "/board.json";
    const std::string history = std::string("sqlite:") + dir + "/h.sqlite";
    std::string points;
    for (int k = 1; k <= 50; ++k)
        points += (k > 1 ? "," : "") + std::string("P") + std::to_string(k);
    const double learned = runOnce(
        { ZEMCTL, "-u", "virtual://resistor", "learn", file.c_str(), "--points", points.c_str() });
    std::vector<double> runs;
    for (int i = 0; i < 5 && learned >= 0; ++i)
        runs.push_back(runOnce({ ZEMCTL, "-u", "virtual://resistor", "test", file.c_str(),
            "--repeat", "2", "--db", history.c_str() }));
    std::system((std::string("rm -rf ") + dir).c_str());
    if (runs.empty() || std::count(runs.begin(), runs.end(), -1))
        return figure("zemctl test, 50 points, --repeat 2", "< 2 s", "a run failed");
    figure("zemctl test of a 50-point board, --repeat 2, recorded in the history, median of 5",
        "< 2 s", "%.2f s", median(runs) / 1000);
}

} // namespace

int main()
{
    startup();
    watch();
    test50();
    return 0;
}
