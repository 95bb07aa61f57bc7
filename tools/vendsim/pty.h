// The pseudo-terminal the host takes for its serial port, and the symlink
// that gives it a stable name; or a real serial device served instead.
#ifndef VENDSIM_PTY_H
#define VENDSIM_PTY_H

#include <termios.h>

#include <string>

#include "options.h"

struct Pty {
    int master = -1;
    std::string slave;
};

// A raw, non-blocking master; false with a message in error on failure.
bool open_pty(Pty &pty, std::string &error);

enum class LinkResult { Made, NotSymlink, Failed };
// Points link at target, replacing an old symlink in one step.
LinkResult point_link(const std::string &link, const std::string &target, std::string &error);
// Removes link if it still points at target (it may have been taken over).
void remove_link(const std::string &link, const std::string &target);

// The termios code of a baud rate and back; 0 for a rate we do not serve.
speed_t speed_code(unsigned long baud);
unsigned long baud_of(speed_t code);

// A serial device, raw and non-blocking at baud and parity (odd unless told),
// without flow control; -1 with a message in error on failure.
int open_port(const std::string &path, unsigned long baud, DeviceParity parity, std::string &error);

// A device's raw 8-bit settings with the speed, stop bits and RTS/CTS of
// like, and parity.  A pty keeps no parity bit (Linux clears PARENB on it),
// so FromHost takes odd or even from like's PARODD.
termios device_settings(const termios &like, DeviceParity parity);
// A device's settings as the transcript gives them: "9600 8O1, RTS/CTS on".
std::string line_text(const termios &device);

#endif
