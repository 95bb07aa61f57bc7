// What the serial-port code needs from the operating system beyond POSIX
// termios.  One implementation file per platform (linux.cpp here).
#ifndef VENDLINK_PLATFORM_H
#define VENDLINK_PLATFORM_H

#include <cstddef>
#include <termios.h>

// The extended hardware flow-control record, as the port code sees it.
struct line_flowctl {
    unsigned int x_hflag;
};
enum {
    RTSXOFF = 1u << 0,  // host holds the remote sender off with RTS
    CTSXON = 1u << 1    // host stops its output while CTS is low
};

// Opens a serial device for reading and writing, never as the controlling
// terminal; returns the descriptor or -1 with errno set.
int platform_open_line(const char *path);

// Sets the speed code for baud into *tio; false when the platform has none.
bool platform_set_speed(struct termios *tio, long baud);

// The c_cflag bits that carry the flow-control record on this platform; the
// line set-up keeps them as they were, as it would keep a separate record.
tcflag_t platform_flowctl_cflag_bits();

// Disables the switch character, where the platform has one.
void platform_disable_swtch(struct termios *tio);

// Bytes written to the line that the driver still holds, and has held for a
// short while: not those merely in flight (0 when it cannot tell).
int platform_output_queued(int fd);

// Reads and writes the flow-control record: 0, or -1 with errno set.
int platform_get_flowctl(int fd, struct line_flowctl *x);
int platform_set_flowctl(int fd, const struct line_flowctl *x);

// Takes flock(2) on the open line without waiting, as other serial programs
// look for it, when no one else holds it; the process's exit lets it go.
void platform_flock_line(int fd);

// The process that holds an flock on the file at path, found without
// opening it; 0 when none other than this one does.
int platform_flock_holder(const char *path);

// The program name of process pid, into name; false when the system does
// not tell.
bool platform_program_name(int pid, char *name, size_t size);

#endif
