/* The modem-control lines that pseudo-terminals lack: TIOCMGET and TIOCMSET are answered
 * from a variable, and each setting of DTR is appended to $VENDTEST_DTR_LOG as "1" (raised)
 * or "0" (lowered).  With $VENDTEST_HELD set, a terminal's driver says it holds written bytes
 * (as when flow control stops them); with $VENDTEST_NO_RTSCTS, it refuses to change RTS/CTS. */
#include "shim.h"

#include <sys/ioctl.h>
#include <termios.h>

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
    if (log != NULL) {
        int out = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        (void)!write(out, (lines & TIOCM_DTR) ? "1" : "0", 1);
        close(out);
    }
    return 0;
}

int tcsetattr(int fd, int when, const struct termios *tio)
{
    struct termios now;
    if (getenv("VENDTEST_NO_RTSCTS") != NULL && tcgetattr(fd, &now) == 0
        && ((now.c_cflag ^ tio->c_cflag) & CRTSCTS))
        return refused(EINVAL);
    return REAL("tcsetattr", int (*)(int, int, const struct termios *))(fd, when, tio);
}
