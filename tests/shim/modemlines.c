/* Test-only: pseudo-terminals have no modem-control lines, so TIOCMGET and
 * TIOCMSET fail on them with ENOTTY.  This shim answers them on terminals
 * from a variable of its own and logs every call, so that tests can see what
 * the product did to DTR.  Linked into unit tests, or preloaded into the real
 * binary with LD_PRELOAD.
 *
 * VENDTEST_MODEMLINES_LOG   file the calls are appended to, one a line:
 *                           "<unix time> TIOCMGET 0x<bits>" or "... TIOCMSET 0x<bits>"
 * VENDTEST_MODEMLINES_INIT  initial bits (default 0) */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "modemlines.h"

static int lines_initialised;
static int lines;

static int current_lines(void)
{
    if (!lines_initialised) {
        const char *init = getenv("VENDTEST_MODEMLINES_INIT");
        lines = init != NULL ? (int)strtol(init, NULL, 0) : 0;
        lines_initialised = 1;
    }
    return lines;
}

static void log_call(const char *what, int bits)
{
    const char *path = getenv("VENDTEST_MODEMLINES_LOG");
    if (path == NULL)
        return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    char line[96];
    int n = snprintf(line, sizeof line, "%lld.%06ld %s 0x%x\n", (long long)ts.tv_sec,
                     ts.tv_nsec / 1000, what, (unsigned)bits);
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, (size_t)n) < 0) {
        /* nothing more a test shim can do */
    }
    close(fd);
}

int shim_modem_lines(void)
{
    return current_lines();
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    if ((request == TIOCMGET || request == TIOCMSET) && isatty(fd)) {
        int *bits = (int *)arg;
        if (request == TIOCMGET) {
            *bits = current_lines();
            log_call("TIOCMGET", *bits);
        } else {
            current_lines();
            lines = *bits;
            log_call("TIOCMSET", *bits);
        }
        return 0;
    }
    static int (*real_ioctl)(int, unsigned long, ...);
    if (real_ioctl == NULL)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return real_ioctl(fd, request, arg);
}
