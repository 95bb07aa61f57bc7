#include "shim.h"

#include <math.h>
#include <time.h>

/* The calendar clock, which the whole-second deadlines read, with its seconds
 * beginning $VENDTEST_SECONDS_FROM seconds after the program first reads it:
 * a deadline's second then falls the same way among the program's own pauses
 * in every run, wherever the real clock's seconds happen to fall. */
time_t time(time_t *t)
{
    static double shift = -1;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    double now = (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
    if (shift < 0)
        shift = getenv("VENDTEST_SECONDS_FROM") != NULL
            ? fmod(now + atof(getenv("VENDTEST_SECONDS_FROM")), 1.0)
            : 0;
    time_t seconds = (time_t)floor(now - shift);
    return t != NULL ? (*t = seconds) : seconds;
}
