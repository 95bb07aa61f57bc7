#include "shim.h"

#include <math.h>
#include <poll.h>
#include <signal.h>
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

/* On libfaketime's faster clock ($FAKETIME "+0 xN"), a wait of under a second through ppoll is
 * not shortened by it (0.9.10), and the programs' read timeouts and pauses are such waits: they
 * are shortened here, and libc's ppoll does the wait. */
int ppoll(struct pollfd *fds, nfds_t n, const struct timespec *timeout, const sigset_t *mask)
{
    typedef int (*ppoll_fn)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
    static ppoll_fn libc_ppoll;
    if (libc_ppoll == NULL)
        libc_ppoll = (ppoll_fn)dlsym(dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD), "ppoll");
    const char *faketime = getenv("FAKETIME");
    const char *pace = faketime != NULL ? strchr(faketime, 'x') : NULL;
    if (timeout == NULL || pace == NULL)
        return libc_ppoll(fds, n, timeout, mask);
    double seconds = ((double)timeout->tv_sec + (double)timeout->tv_nsec / 1e9) / atof(pace + 1);
    struct timespec shorter = {(time_t)seconds, (long)(fmod(seconds, 1.0) * 1e9)};
    return libc_ppoll(fds, n, &shorter, mask);
}
