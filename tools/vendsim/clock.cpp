#include "clock.h"

static double seconds(const timespec &ts)
{
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

Clock::Clock()
{
    clock_gettime(CLOCK_MONOTONIC, &start_);
    clock_gettime(CLOCK_REALTIME, &wall_start_);
}

double Clock::now() const
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return seconds(ts) - seconds(start_);
}
