// One row of the figures table that the bench target prints.
#pragma once

#include <cstdarg>
#include <cstdio>

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
