// Time since the simulator started, from the monotonic clock, with the
// wall-clock time of that start for the transcript's header.
#ifndef VENDSIM_CLOCK_H
#define VENDSIM_CLOCK_H

#include <ctime>

class Clock {
public:
    Clock();
    double now() const;
    const timespec &wall_start() const { return wall_start_; }

private:
    timespec start_;
    timespec wall_start_;
};

#endif
