// Figures of the library and the console example; prints, asserts nothing.
#include "figure.h"

#include "zem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using Clock = std::chrono::steady_clock;

static double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int main()
{
    int32_t h = zem_open_device("virtual://resistor");
    if (h == -1) {
        std::fprintf(stderr, "cannot open the virtual instrument\n");
        return 1;
    }
    get_status_response st {};
    const int calls = 2'000'000;
    const auto t0 = Clock::now();
    for (int k = 0; k < calls; ++k)
        zem_get_status(h, &st);
    const double s = seconds(Clock::now() - t0);
    figure("zem_get_status calls per second, no injected delay", ">= 500,000", "%.0f", calls / s);
    zem_close_device(&h);

#ifdef ZEM_EXAMPLE
    // The ideal run: the measurement itself (100 points at 10 kHz) plus the
    // one 100 ms poll that must come before the first status call.
    const double ideal = 0.010 + 0.100;
    const std::string cmd = "echo virtual://diode | " + std::string(ZEM_EXAMPLE) + " >/dev/null";
    double best = 1e9;
    const int runs = 5;
    for (int k = 0; k < runs; ++k) {
        const auto r0 = Clock::now();
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "zem_example failed\n");
        best = std::min(best, seconds(Clock::now() - r0));
    }
    figure("zem_example full run on virtual://diode, best (over its ideal of 110 ms)",
        "<= 150 ms over", "%.1f ms (+%.1f ms)", best * 1e3, (best - ideal) * 1e3);
#endif
    return 0;
}
