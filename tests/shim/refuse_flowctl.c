/* Test-only: a line that takes every setting but a change of hardware flow
 * control, as some serial drivers do, so that tests can see how a
 * flow-control record that cannot be written is reported.  Preloaded into
 * the real binary with LD_PRELOAD. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <termios.h>
#include <unistd.h>

int tcsetattr(int fd, int actions, const struct termios *tio)
{
    static int (*real_tcsetattr)(int, int, const struct termios *);
    if (real_tcsetattr == NULL)
        real_tcsetattr = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    struct termios now;
    if (tio != NULL && isatty(fd) && tcgetattr(fd, &now) == 0 &&
        ((now.c_cflag ^ tio->c_cflag) & CRTSCTS) != 0) {
        errno = EINVAL;
        return -1;
    }
    return real_tcsetattr(fd, actions, tio);
}
