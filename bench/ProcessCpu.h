#pragma once

#include <ctime>

// CPU time of the clock's owner in seconds: by default the whole process, every thread, so a
// benchmark that hands work to worker threads reports what it really costs.
inline double cpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
