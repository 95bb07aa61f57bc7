// Serial-port side of the io module: the device-name file, line set-up,
// reads and writes with their timeouts, DTR, and the end-of-run clean-up.
#include "vendlink/io.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "io_internal.h"
#include "platform/platform.h"
#include "textfile.h"

namespace {

const char FNAME[] = "serial_port";
const char default_device[] = "/dev/ttya";

// The sizes read as one table.
// clang-format off
const int device_path_size = 132;
const int device_copy_max = 80;    // characters of a caller's path that are used
const int device_line_size = 80;   // bytes read from the device-name file
const int flush_buffer_size = 300;
const int clear_block_size = 260;
const int vtime_max = 255;         // VTIME is one byte
// clang-format on

// How long a write may wait for the line to take bytes.  With RTS/CTS on,
// Linux stops our output while CTS is low, so a modem that is off would
// otherwise hold a write for ever.  Ten seconds lets a 300-baud line send
// the 256 characters after which the driver reports room again.
const int write_wait_ms = 10000;
// The least a failed read waits when no read timeout has been set.
const int failed_read_pause_ms = 100;
// The least any read that finds no data takes.  A read timeout of 0 would
// otherwise make every reading loop of the library a busy loop.
const int least_empty_read_ms = 10;

volatile sig_atomic_t port_fd = -1;
int use_rts_cts = 1;
volatile sig_atomic_t drop_dtr_on_exit = 0;
double timeout_scale = 1.0;
// The read timeout last asked for, in milliseconds (-1: never set).  The
// driver's VTIME holds at most 25.5 s, and a device that is not a terminal
// has none, so read_port keeps to this value itself.
int read_timeout_ms = -1;
// The line init_port opened, by name, for the line that says it went away.
int opened_fd = -1;
char opened_path[device_path_size];
bool gone_told = false;

int store_device_name(const char *name)
{
    return replace_file_text(FNAME, name, strlen(name), O_RDWR);
}

int read_device_name(char *name)
{
    FILE *fp = fopen(FNAME, "r");
    if (fp == nullptr)
        return RC_FAIL;
    char *line = fgets(name, device_line_size, fp);
    fclose(fp);
    if (line == nullptr)
        return RC_FAIL;
    name[strcspn(name, "\r\n")] = '\0';
    return RC_OK;
}

// The tenths as the driver's one-byte VTIME; longer timeouts are kept to by
// read_port.
cc_t vtime_of(int tenths)
{
    if (tenths < 0)
        return 0;
    return static_cast<cc_t>(tenths > vtime_max ? vtime_max : tenths);
}

int scaled_tenths(int tenths)
{
    return static_cast<int>(tenths * timeout_scale);
}

void note_read_timeout(int tenths)
{
    read_timeout_ms = tenths < 0 ? 0 : tenths * 100;
}

void pace_until(long long end_ms)
{
    long long left = end_ms - io_now_ms();
    if (left > 0)
        io_sleep_ms(static_cast<long>(left));
}

// Whether what poll found on the line (its revents), or the error of a call on it, says that the
// line is gone: the kernel hung its terminal up when the device was unplugged, or removed it.  An
// ordinary time-out or a read that finds nothing says no such thing.
bool gone(int fd, int revents, int error)
{
    bool hung_up = (revents > 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) || error == EIO
        || error == ENXIO || error == ENODEV;
    if (hung_up && !gone_told) {
        gone_told = true;
        fprintf(get_stderr(), "%s went away (unplugged, or hung up by the system).\n",
                fd == opened_fd ? opened_path : "The serial line");
    }
    return hung_up;
}

// What poll finds on fd now, without waiting: a hang-up stays to be seen.
int revents_now(int fd)
{
    struct pollfd p = {fd, 0, 0};
    return poll(&p, 1, 0) > 0 ? p.revents : 0;
}

const char *parity_name(tcflag_t cflag)
{
    if (!(cflag & PARENB))
        return "None";
    return (cflag & PARODD) ? "Odd" : "Even";
}

tcflag_t line_cflag(int parity)
{
    tcflag_t cflag = CS8 | CREAD | PARENB | PARODD | CLOCAL;
    if (parity == 1)
        cflag &= ~static_cast<tcflag_t>(PARODD);
    else if (parity == 2)
        cflag &= ~static_cast<tcflag_t>(PARENB);
    return cflag;
}

void set_line_modes(struct termios *tio, tcflag_t cflag)
{
    tio->c_iflag = IGNBRK;
    tio->c_oflag = 0;
    tio->c_cflag = cflag | (tio->c_cflag & platform_flowctl_cflag_bits());
    tio->c_lflag = 0;
    tio->c_cc[VINTR] = 0;
    tio->c_cc[VQUIT] = 0;
    tio->c_cc[VERASE] = 0;
    tio->c_cc[VKILL] = 0;
    tio->c_cc[VEOF] = 0;
    tio->c_cc[VEOL] = 0;
    platform_disable_swtch(tio);
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
}

long set_speed(struct termios *tio, long baud)
{
    if (platform_set_speed(tio, baud))
        return baud;
    fprintf(get_stderr(), "Warning: %ld baud not supported on this platform.\n", baud);
    fprintf(get_stderr(), "         Will default to 9600 baud.\n");
    platform_set_speed(tio, 9600);
    return 9600;
}

void set_flow_control(int fd)
{
    struct line_flowctl x;
    if (platform_get_flowctl(fd, &x) != 0) {
        perror("Could not read H/W Flow Control Settings");
        return;
    }
    fprintf(stderr, "RTSXOFF is %s\n", (x.x_hflag & RTSXOFF) ? "Enabled" : "Disabled");
    fprintf(stderr, "CTSXON is %s\n", (x.x_hflag & CTSXON) ? "Enabled" : "Disabled");
    x.x_hflag = use_rts_cts ? RTSXOFF : 0;
    if (platform_set_flowctl(fd, &x) != 0) {
        fprintf(stderr, "Could not set H/W Flow Control.\n");
        return;
    }
    fputs("RTSXOFF is now ", stderr);
    fputs(use_rts_cts ? "ENABLED.\n" : "DISABLED.\n", stderr);
}

}  // namespace

extern "C" {

int get_device_file(char *name)
{
    bool writable = true;
    FILE *fp = fopen(FNAME, "r");
    if (fp != nullptr) {
        fclose(fp);
    } else {
        fprintf(stderr, "Could not find \"%s\", creating...\n", FNAME);
        int rc = replace_file_text(FNAME, default_device, strlen(default_device), O_RDWR);
        if (rc == TEXTFILE_CANNOT_OPEN) {
            fprintf(stderr, "Can not create \"%s\"\n", FNAME);
            return RC_FAIL;
        }
        if (rc != 0) {
            report_not_written(stderr, FNAME);
            writable = false;
        }
    }

    if (name[0] != '\0') {
        fprintf(get_stderr(), "Storing new device file name (%s).\n", name);
        // The caller named the device: the run goes on with it even when the
        // file cannot record it, and the file is left as it was.
        int rc = writable ? store_device_name(name) : 0;
        if (rc == TEXTFILE_CANNOT_OPEN)
            fprintf(stderr,
                    "Can not store the device name in \"%s\" (%s); using %s for this run.\n", FNAME,
                    strerror(errno), name);
        else if (rc != 0)
            report_not_written(stderr, FNAME);
        return RC_OK;
    }

    if (read_device_name(name) != RC_OK) {
        fprintf(stderr, "Can not read file.\n");
        return RC_FAIL;
    }
    return RC_OK;
}

int init_port(long baud, int parity, const char *device)
{
    char path[device_path_size];
    memset(path, 0, sizeof path);
    if (device != nullptr)
        strncpy(path, device, device_copy_max);

    if (get_device_file(path) != RC_OK)
        return RC_FAIL;

    int fd = platform_open_line(path);
    if (fd < 0) {
        printf("Unable to open device file \"%s\"\n\n", path);
        return RC_FAIL;
    }
    memcpy(opened_path, path, sizeof opened_path);
    opened_fd = fd;
    platform_flock_line(fd);

    // Settings that could not be read are never applied: the port is then
    // left as it is, and only the reports below are made.
    struct termios tio;
    bool have_settings = tcgetattr(fd, &tio) == 0;
    if (!have_settings)
        memset(&tio, 0, sizeof tio);
    tcflag_t cflag = line_cflag(parity);
    set_line_modes(&tio, cflag);
    baud = set_speed(&tio, baud);
    if (have_settings)
        tcsetattr(fd, TCSANOW, &tio);

    flush_input(fd);

    int tenths = scaled_tenths(10);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = vtime_of(tenths);
    note_read_timeout(tenths);
    if (have_settings)
        tcsetattr(fd, TCSANOW, &tio);

    dtr_enable(fd, 1);
    set_flow_control(fd);

    fprintf(stderr, "Port initialized (%ld baud, 8 data bits, %s, 1 stop bit)\n", baud,
            parity_name(cflag));
    port_fd = fd;
    return fd;
}

int write_port(int fd, const void *buf, int count)
{
    int ready = io_wait(fd, POLLOUT, write_wait_ms);
    if (ready == 0) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (gone(fd, ready, 0)) {
        errno = EIO;
        return -1;
    }
    int n = static_cast<int>(write(fd, buf, static_cast<size_t>(count < 0 ? 0 : count)));
    if (n < 0)
        gone(fd, 0, errno);
    return n;
}

int read_port(int fd, void *buf, int count)
{
    long long start = io_now_ms();
    int wait_ms = read_timeout_ms >= 0 ? read_timeout_ms : failed_read_pause_ms;
    int ready = read_timeout_ms < 0 ? POLLIN : io_wait(fd, POLLIN, read_timeout_ms);
    int n = 0;
    int error = 0;
    if (ready > 0) {
        n = static_cast<int>(read(fd, buf, static_cast<size_t>(count < 0 ? 0 : count)));
        error = n < 0 ? errno : 0;
    }
    if (n > 0)
        return n;
    // A line that is gone answers at once, and so does the caller's loop; it may have gone
    // between the wait and the read, which then found nothing.
    if (gone(fd, revents_now(fd), error)) {
        errno = EIO;
        return -1;
    }
    // A read that got nothing takes its whole timeout, even when the device
    // answered at once (not a terminal), and never less than
    // least_empty_read_ms, even with a timeout of 0: the loops around it
    // then wait instead of spinning.
    pace_until(start + (wait_ms > least_empty_read_ms ? wait_ms : least_empty_read_ms));
    errno = error;
    return n;
}

void set_timeout(int fd, int tenths)
{
    int value = scaled_tenths(tenths);
    note_read_timeout(value);
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    tio.c_cc[VTIME] = vtime_of(value);
    tcsetattr(fd, TCSANOW, &tio);
}

void set_timeout_scale_factor(int factor)
{
    if (factor > 0)
        timeout_scale = factor;
}

void flush_input(int fd)
{
    unsigned char scratch[flush_buffer_size];
    set_timeout(fd, 5);
    read_port(fd, scratch, sizeof scratch);
    set_timeout(fd, 10);
}

void clear_comm(int fd)
{
    static const unsigned char zeros[clear_block_size] = {0};
    write_port(fd, zeros, sizeof zeros);
    flush_input(fd);
}

void dtr_enable(int fd, int on)
{
    int bits;
    if (ioctl(fd, TIOCMGET, &bits) != 0)
        return;
    if (on)
        bits |= TIOCM_DTR;
    else
        bits &= ~TIOCM_DTR;
    ioctl(fd, TIOCMSET, &bits);
}

void io_use_rts_cts(int on)
{
    use_rts_cts = on != 0 ? 1 : 0;
}

void io_drop_dtr(int on)
{
    drop_dtr_on_exit = on != 0 ? 1 : 0;
}

void close_comm(void)
{
    if (port_fd != -1 && drop_dtr_on_exit)
        dtr_enable(port_fd, 0);
}

}  // extern "C"

bool io_line_gone(int fd)
{
    return gone(fd, revents_now(fd), 0);
}

void io_pause_on(int fd, long ms)
{
    long long end = io_now_ms() + ms;
    for (long long left = ms; left > 0; left = end - io_now_ms()) {
        if (gone(fd, io_wait(fd, 0, static_cast<int>(left)), 0))
            return;
    }
}

bool io_device_to_open(const char *device, char *path)
{
    static_assert(io_device_name_size > device_copy_max && io_device_name_size >= device_line_size,
                  "room for the device's name");
    memset(path, 0, io_device_name_size);
    if (device != nullptr)
        strncpy(path, device, device_copy_max);
    if (path[0] != '\0')
        return true;
    if (access(FNAME, F_OK) != 0 && errno == ENOENT) {
        memcpy(path, default_device, sizeof default_device);
        return true;
    }
    return read_device_name(path) == RC_OK;
}

double io_timeout_scale()
{
    return timeout_scale;
}

bool io_discard_held_output(int fd)
{
    if (platform_output_queued(fd) <= 0)
        return false;
    tcflush(fd, TCOFLUSH);
    return true;
}

int io_read_timeout_ms()
{
    return read_timeout_ms < 0 ? 0 : read_timeout_ms;
}
