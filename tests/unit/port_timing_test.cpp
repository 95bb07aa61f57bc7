// How long port reads and writes wait, on lines that stay silent, are not
// terminals, have hung up, or never take bytes.  These run in real time.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support.h"
#include "vendlink/io.h"

namespace {

struct Timed {
    int result;
    long long elapsed_ms;
    long long cpu_ms;
};

Timed timed_read(int fd)
{
    char buf[64];
    long long cpu = unit::cpu_ms();
    long long start = unit::now_ms();
    Timed t;
    t.result = read_port(fd, buf, sizeof buf);
    t.elapsed_ms = unit::now_ms() - start;
    t.cpu_ms = unit::cpu_ms() - cpu;
    return t;
}

TEST(ReadPortTiming, SilentLineReturnsNothingAfterTheTimeout)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    Timed t = timed_read(pty.slave());
    EXPECT_EQ(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 950);
    EXPECT_LT(t.elapsed_ms, 2500);
}

TEST(ReadPortTiming, ScaledTimeoutIsWaitedInFull)
{
    unit::Pty pty;
    set_timeout_scale_factor(3);
    set_timeout(pty.slave(), 7);
    Timed t = timed_read(pty.slave());
    EXPECT_EQ(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 2050);
    EXPECT_LT(t.elapsed_ms, 3500);
}

// A read on a device without VTIME returns at once; the timeout must still
// pass, without the caller's loop spinning meanwhile.
TEST(ReadPortTiming, NonTerminalWaitsTheTimeoutWithoutSpinning)
{
    int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    set_timeout(fd, 10);
    Timed t = timed_read(fd);
    EXPECT_LE(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 950);
    EXPECT_LT(t.elapsed_ms, 2500);
    EXPECT_LT(t.cpu_ms, 200);
    close(fd);
}

TEST(ReadPortTiming, HungUpLineWaitsTheTimeoutWithoutSpinning)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.close_master();
    Timed t = timed_read(pty.slave());
    EXPECT_LE(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 950);
    EXPECT_LT(t.elapsed_ms, 2500);
    EXPECT_LT(t.cpu_ms, 200);
}

TEST(ReadPortTiming, FailedReadPausesEvenWithoutATimeout)
{
    int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    Timed t = timed_read(fd);
    EXPECT_LE(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 95);
    EXPECT_LT(t.elapsed_ms, 1000);
    close(fd);
}

// Slow: VTIME holds at most 25.5 s, so a longer timeout is kept by read_port.
TEST(ReadPortTiming, TimeoutBeyondVtimeIsWaitedInFull)
{
    unit::Pty pty;
    set_timeout_scale_factor(2);
    set_timeout(pty.slave(), 130);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 255);
    Timed t = timed_read(pty.slave());
    EXPECT_EQ(t.result, 0);
    EXPECT_GE(t.elapsed_ms, 25950);
    EXPECT_LT(t.elapsed_ms, 29000);
}

// Slow: a line that takes no more bytes (a modem holding CTS low) must not
// hold a write for ever.
TEST(WritePortTiming, LineThatTakesNoBytesFailsAfterTenSeconds)
{
    unit::Pty pty;
    long written = 0;
    long long last_ms = 0;
    int result = 0;
    while (written < (1L << 20)) {
        long long start = unit::now_ms();
        result = write_port(pty.slave(), "x", 1);
        last_ms = unit::now_ms() - start;
        if (result != 1)
            break;
        ++written;
    }
    int saved = errno;
    EXPECT_GT(written, 0);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(saved, ETIMEDOUT);
    EXPECT_GE(last_ms, 9950);
    EXPECT_LT(last_ms, 13000);
    EXPECT_EQ(static_cast<long>(pty.drain().size()), written);
}

}  // namespace
