// The process's memory as the kernel counts it, for benches that print it.
#pragma once

#include <fstream>
#include <string>

// The process's memory now (VmRSS:), or its peak since resetPeak() (VmHWM:), in MB.
inline double memoryMegabytes(const char *field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

inline void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
