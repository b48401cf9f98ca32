// Figures of the library and the console example; prints, asserts nothing.
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
    get_status_response st{};
    const int calls = 2'000'000;
    const auto t0 = Clock::now();
    for (int k = 0; k < calls; ++k)
        zem_get_status(h, &st);
    const double s = seconds(Clock::now() - t0);
    std::printf("%-48s %12.0f calls/s  (target >= 500000)\n", "zem_get_status, no injected delay",
                calls / s);
    zem_close_device(&h);

#ifdef ZEM_EXAMPLE
    // The ideal run: the measurement itself (100 points at 10 kHz) plus the
    // one 100 ms poll that must come before the first status call.
    const double ideal = 0.010 + 0.100;
    const std::string cmd = "echo virtual://diode | " + std::string(ZEM_EXAMPLE) + " >/dev/null";
    double best = 1e9, total = 0;
    const int runs = 5;
    for (int k = 0; k < runs; ++k) {
        const auto r0 = Clock::now();
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "zem_example failed\n");
        const double t = seconds(Clock::now() - r0);
        best = std::min(best, t);
        total += t;
    }
    std::printf("%-48s %9.1f ms best, %.1f ms mean; ideal %.0f ms, over by %.1f ms (target <= 150)\n",
                "zem_example full run (virtual://diode)", best * 1e3, total / runs * 1e3,
                ideal * 1e3, (best - ideal) * 1e3);
#endif
    return 0;
}
