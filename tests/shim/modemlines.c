/* Test-only, preloaded into the programs under test.  Pseudo-terminals have
 * no modem-control lines: TIOCMGET and TIOCMSET are answered here from a
 * variable, and each setting of DTR is appended to $VENDTEST_DTR_LOG as "1"
 * (raised) or "0" (lowered). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int lines;

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    int *arg = va_arg(ap, int *);
    va_end(ap);
    if ((request != TIOCMGET && request != TIOCMSET) || !isatty(fd)) {
        int (*real)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
        return real(fd, request, arg);
    }
    if (request == TIOCMGET) {
        *arg = lines;
        return 0;
    }
    lines = *arg;
    const char *log = getenv("VENDTEST_DTR_LOG");
    int out = log != NULL ? open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666) : -1;
    if (out >= 0) {
        ssize_t ignored = write(out, (lines & TIOCM_DTR) ? "1" : "0", 1);
        (void)ignored;
        close(out);
    }
    return 0;
}
