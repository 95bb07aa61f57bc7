// What the files of the io module share with each other and with the modem
// module; not part of the library's public interface.
#ifndef VENDLINK_IO_INTERNAL_H
#define VENDLINK_IO_INTERNAL_H

#include <poll.h>

// Console: puts back the terminal settings saved by one-character mode.
// Only system calls, so the Ctrl-C handler may call it at any moment.
void console_restore_terminal();
// Descriptor behind the diagnostics stream, for writes from the Ctrl-C handler.
int console_diag_fd();

// Port: the device that init_port would open for this -D name (or none),
// into path (io_device_name_size bytes), without writing anything: the name
// cut as init_port cuts it, else the device-name file's, else the default.
// False when the device-name file cannot be read.  The size is init_port's
// own path buffer's.
const int io_device_name_size = 132;
bool io_device_to_open(const char *device, char *path);

// Port: whether the line on fd has gone away: its device unplugged, or its
// terminal hung up by the system, which poll reports on it.  The first time,
// one line names the device.  The library's operations end at once on such a
// line, and send nothing more into it.
bool io_line_gone(int fd);
// Port: sleeps ms milliseconds, ending early when the line on fd goes away.
void io_pause_on(int fd, long ms);

// Port: the multiplier of the link timeouts, and the read timeout in force
// (milliseconds; 0 when none was set).
double io_timeout_scale();
int io_read_timeout_ms();
// Throws away what the driver still holds of what was written to the line
// (flow control holding it); false when it held nothing.
bool io_discard_held_output(int fd);

// Waits until fd has one of `events` (or a hang-up or error, which poll
// always reports), or ms milliseconds have passed; fd < 0 waits for the time
// alone.  Returns what fd has (poll's revents), 0 when the time passed, -1
// on error.  A Ctrl-C that arrives during the wait ends the run here, in
// normal context.
int io_wait(int fd, short events, int ms);
// Sleeps ms milliseconds in full (other signals do not cut it short).
void io_sleep_ms(long ms);
// Milliseconds on the monotonic clock.
long long io_now_ms();

#endif
