// Test bench of the unit tests: temporary directories, pseudo-terminals
// standing in for serial ports, capture of the standard streams, children.
#ifndef VENDTEST_UNIT_SUPPORT_H
#define VENDTEST_UNIT_SUPPORT_H

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

namespace unit {

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);
std::vector<std::string> list_dir(const std::string &path);
ino_t inode_of(const std::string &path);

// Milliseconds on the monotonic clock.
long long now_ms();
// CPU time (user + system) this process has used, in milliseconds.
long long cpu_ms();

// A fresh directory under /tmp, removed with everything in it at the end.
// With enter set, it is also the working directory meanwhile.
class TempDir {
public:
    explicit TempDir(bool enter = true);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string old_cwd_;
};

// A pseudo-terminal: the slave plays the serial port, the master the modem.
// Raw mode keeps the bytes as they are in both directions.
class Pty {
public:
    explicit Pty(bool raw = true);
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string &slave_name() const { return name_; }
    struct termios settings() const;  // as the line has them now

    void send(const std::string &bytes);  // as the modem: to the port's input
    // Everything the port wrote that arrives within timeout_ms of the last byte.
    std::string drain(int timeout_ms = 200);
    // Reads until the text seen contains needle or timeout_ms pass; returns
    // all that was read.
    std::string read_until(const std::string &needle, int timeout_ms);
    void close_master();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

// Sends a descriptor (1 or 2) to a temporary file until finish().
class CaptureFd {
public:
    explicit CaptureFd(int fd);
    ~CaptureFd();
    CaptureFd(const CaptureFd &) = delete;
    CaptureFd &operator=(const CaptureFd &) = delete;
    std::string finish();

private:
    int fd_;
    int saved_ = -1;
    int file_ = -1;
};

// Runs body in a child process and returns its exit status, or 1000 + the
// signal number when it was killed.  The child never returns to the tests.
int run_in_child(const std::function<int()> &body);

// The settings first passed to tcsetattr for fd since the last forget, as
// asked for: a pseudo-terminal drops some of them (parity) when it stores
// them, and later read-modify-write calls then carry its version.
void forget_requested_settings();
bool first_requested_settings(int fd, struct termios *out);

// Identity of an unprivileged user, for tests of files we may not write.
constexpr uid_t nobody_id = 65534;

}  // namespace unit

#endif
