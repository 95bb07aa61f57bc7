// Linux: the flow-control record lives in c_cflag's CRTSCTS, which stands for
// both directions at once; there is no separate record to read or write.
#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

int platform_open_line(const char *path)
{
    // A serial port without CLOCAL makes a blocking open() wait for carrier,
    // for ever if the call has already dropped.  Open without waiting, then
    // put the descriptor back into blocking mode: the read timeout needs it,
    // and the line set-up turns CLOCAL on right after.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int fl = fcntl(fd, F_GETFL);
    if (fl != -1)
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

bool platform_set_speed(struct termios *tio, long baud)
{
    speed_t code;
    switch (baud) {
    case 300:
        code = B300;
        break;
    case 600:
        code = B600;
        break;
    case 1200:
        code = B1200;
        break;
    case 2400:
        code = B2400;
        break;
    case 4800:
        code = B4800;
        break;
    case 9600:
        code = B9600;
        break;
    case 19200:
        code = B19200;
        break;
    case 38400:
        code = B38400;
        break;
    default:
        return false;
    }
    cfsetispeed(tio, code);
    cfsetospeed(tio, code);
    return true;
}

tcflag_t platform_flowctl_cflag_bits()
{
    return CRTSCTS;
}

void platform_disable_swtch(struct termios *tio)
{
#if defined(VSWTCH)
    tio->c_cc[VSWTCH] = 0;
#elif defined(VSWTC)
    tio->c_cc[VSWTC] = 0;
#else
    (void)tio;
#endif
}

// A USB driver counts a transfer in flight as queued until the device has
// acknowledged it, cdc-acm a whole buffer for it (10240 bytes at high
// speed), and that may come after the modem's answer; so a count is taken
// for held bytes only when it has not gone within a short while.
const int settle_ms = 100;
const int settle_step_ms = 10;

int platform_output_queued(int fd)
{
    int n = 0;
    for (int waited = 0;; waited += settle_step_ms) {
        if (ioctl(fd, TIOCOUTQ, &n) != 0)
            return 0;
        if (n <= 0 || waited >= settle_ms)
            return n;
        poll(nullptr, 0, settle_step_ms);
    }
}

int platform_get_flowctl(int fd, struct line_flowctl *x)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    // One setting serves both directions, so both bits read the same.
    x->x_hflag = (tio.c_cflag & CRTSCTS) ? (RTSXOFF | CTSXON) : 0;
    return 0;
}

int platform_set_flowctl(int fd, const struct line_flowctl *x)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    // RTSXOFF alone cannot be had: CRTSCTS also stops our output while CTS is
    // low.  The port's writes bound that wait themselves (write_port).
    if (x->x_hflag & (RTSXOFF | CTSXON))
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    return tcsetattr(fd, TCSANOW, &tio);
}
