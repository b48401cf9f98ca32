// One row of the figures table that the bench target prints.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

// figure("what", "target", "value format", ...): "| what | value | target |".
inline void figure(const char *what, const char *target, const char *format, ...)
{
    char value[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(value, sizeof value, format, args);
    va_end(args);
    std::printf("| %s | %s | %s |\n", what, value, target);
    std::fflush(stdout);
}

// The middle value of a set of runs (the upper one of two), 0 for none.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
