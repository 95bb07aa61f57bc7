// The library's reading loops never spin.  With a read timeout of 0
// (set_timeout(fd, 0), a plain termios setting: "do not wait"), every read
// that finds no data returns at once; a loop that reads until its own
// deadline must then still wait between reads, not call read in a tight
// loop for seconds.  read_port makes any read that finds nothing take at least a few
// milliseconds, which these tests hold it to.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <functional>

#include "vendlink/io.h"
#include "vendlink/modem.h"

namespace {

double seconds(clockid_t clock)
{
    struct timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A line that stays silent: a pipe whose writer is open and writes nothing.
class SilentLine {
public:
    SilentLine() { EXPECT_EQ(pipe(fds_), 0); }
    ~SilentLine()
    {
        close(fds_[0]);
        close(fds_[1]);
    }
    int fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

// Calls `call` on a silent line with a read timeout of 0: it must keep its
// own deadline (at least min_wall seconds) and cost almost no CPU.
void expect_waits_without_spinning(const char *name, const std::function<void(int)> &call,
                                   double min_wall)
{
    SilentLine line;
    set_timeout(line.fd(), 0);
    double wall = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    call(line.fd());
    wall = seconds(CLOCK_MONOTONIC) - wall;
    cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
    EXPECT_GE(wall, min_wall) << name;
    EXPECT_LT(cpu, 0.1) << name << ": " << cpu << " s of CPU in " << wall << " s";
}

}  // namespace

TEST(NoSpin, GetMessageWithAZeroReadTimeout)
{
    // No packet comes: 0 at the 5-second deadline.
    expect_waits_without_spinning("get_message",
                                  [](int fd) {
                                      unsigned char data[256];
                                      uint16_t length = 0;
                                      EXPECT_EQ(get_message(fd, data, &length), 0);
                                  },
                                  5.0);
}

TEST(NoSpin, WaitForResponseWithAZeroReadTimeout)
{
    // No reply line: a timeout once a line read ends, after 5 idle seconds.
    expect_waits_without_spinning("wait_for_response",
                                  [](int fd) {
                                      EXPECT_EQ(wait_for_response(fd, "OK", 1.0),
                                                RC_MODEM_TIMEOUT);
                                  },
                                  5.0);
}
