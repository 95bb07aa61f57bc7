/* Test-only, preloaded into the programs under test.  Pseudo-terminals have
 * no modem-control lines: TIOCMGET and TIOCMSET are answered here from a
 * variable, and each setting of DTR is appended to $VENDTEST_DTR_LOG as "1"
 * (raised) or "0" (lowered).  With $VENDTEST_HELD set, a terminal's driver
 * says it holds written bytes (as when flow control stops them); with
 * $VENDTEST_FULL naming a folder, writes to its files fail as on a full
 * disk; with $VENDTEST_SLOW_RENAME naming a file, a rename to it takes a
 * second.  The rest is below. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

ssize_t write(int fd, const void *buf, size_t n)
{
    const char *full = getenv("VENDTEST_FULL");
    char link[32], path[4096] = "";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (full != NULL && readlink(link, path, sizeof path - 1) > 0
        && strncmp(path, full, strlen(full)) == 0 && path[strlen(full)] == '/')
        return errno = ENOSPC, -1;
    return REAL("write", ssize_t(*)(int, const void *, size_t))(fd, buf, n);
}

int rename(const char *from, const char *to)
{
    if (getenv("VENDTEST_SLOW_RENAME") != NULL
        && strstr(to, getenv("VENDTEST_SLOW_RENAME")) != NULL)
        sleep(1);
    return REAL("rename", int (*)(const char *, const char *))(from, to);
}

int ioctl(int fd, unsigned long request, ...)
{
    static int lines;
    va_list ap;
    va_start(ap, request);
    int *arg = va_arg(ap, int *);
    va_end(ap);
    if (!isatty(fd)
        || (request != TIOCMGET && request != TIOCMSET
            && (request != TIOCOUTQ || !getenv("VENDTEST_HELD"))))
        return REAL("ioctl", int (*)(int, unsigned long, ...))(fd, request, arg);
    if (request != TIOCMSET) {
        *arg = request == TIOCOUTQ ? 7 : lines;
        return 0;
    }
    lines = *arg;
    const char *log = getenv("VENDTEST_DTR_LOG");
    int out = log != NULL ? open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666) : -1;
    if (out >= 0) {
        (void)!write(out, (lines & TIOCM_DTR) ? "1" : "0", 1);
        close(out);
    }
    return 0;
}

/* A terminal that refuses to change its RTS/CTS flow control. */
int tcsetattr(int fd, int when, const struct termios *tio)
{
    struct termios now;
    if (getenv("VENDTEST_NO_RTSCTS") != NULL && tcgetattr(fd, &now) == 0
        && ((now.c_cflag ^ tio->c_cflag) & CRTSCTS))
        return errno = EINVAL, -1;
    return REAL("tcsetattr", int (*)(int, int, const struct termios *))(fd, when, tio);
}

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

/* With $VENDTEST_NO_LOCK_FOLDER set, the system's lock folder refuses new
 * files, as a folder writable by root alone refuses other users. */
int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int mode = (flags & O_CREAT) ? va_arg(ap, int) : 0;
    va_end(ap);
    if ((flags & O_CREAT) && getenv("VENDTEST_NO_LOCK_FOLDER") != NULL
        && (strncmp(path, "/run/lock/", 10) == 0 || strncmp(path, "/var/lock/", 10) == 0)) {
        errno = EACCES;
        return -1;
    }
    return REAL("open", int (*)(const char *, int, ...))(path, flags, mode);
}
