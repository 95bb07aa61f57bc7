// The pseudo-terminal the host takes for its serial port, and the symlink
// that gives it a stable name.
#ifndef VENDSIM_PTY_H
#define VENDSIM_PTY_H

#include <string>

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

#endif
