#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

// What every benchmark measures with: this process's CPU time, and the median
// of interleaved rounds, which a busy machine disturbs less than a mean.
namespace bench {

inline double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// A ratio means little without how busy the machine was while it was taken.
inline void printLoadAverage()
{
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("  load average: %.2f %.2f %.2f (1, 5, 15 min)\n", load[0], load[1], load[2]);
}

} // namespace bench
