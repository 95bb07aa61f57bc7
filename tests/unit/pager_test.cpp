// The pager of fprint_usage on a terminal: a child prints, with the pty as
// both its output stream and its standard input; the test reads the master
// and presses the keys.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support.h"
#include "vendlink/io.h"

namespace {

const std::string prompt = "<Press any key to continue>";
const std::string blank = "\r" + std::string(27, ' ') + "\r";

std::string lines(int from, int to)
{
    std::string s;
    char buf[32];
    for (int i = from; i <= to; ++i) {
        snprintf(buf, sizeof buf, "line %02d\n", i);
        s += buf;
    }
    return s;
}

// A child that is killed if the test gives up on it.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    int wait()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

private:
    pid_t pid_;
};

pid_t start_printer(int out_fd, int in_fd, int count)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    dup2(in_fd, STDIN_FILENO);
    FILE *out = fdopen(dup(out_fd), "w");
    for (int i = 1; i <= count; ++i)
        fprint_usage(out, "line %02d\n", i);
    fclose(out);
    _exit(0);
}

// Output bytes as written, and no echo, so the master shows exactly what the
// pager printed; canonical input stays on, as on a user's terminal.
struct termios prepare(unit::Pty &pty)
{
    struct termios tio = pty.settings();
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(pty.slave(), TCSANOW, &tio);
    return pty.settings();
}

TEST(Pager, PausesBeforeEveryTwentyFourthLineUntilAKey)
{
    unit::Pty pty(false);
    struct termios before = prepare(pty);
    Child child(start_printer(pty.slave(), pty.slave(), 47));

    EXPECT_EQ(pty.read_until(prompt, 10000), lines(1, 23) + prompt);
    EXPECT_EQ(pty.drain(300), "") << "the pager went on without a key";
    pty.send("k");
    EXPECT_EQ(pty.read_until(prompt, 10000), blank + lines(24, 46) + prompt);
    EXPECT_EQ(pty.drain(300), "") << "the pager went on without a key";
    pty.send(" ");
    EXPECT_EQ(pty.read_until("line 47\n", 10000), blank + lines(47, 47));
    EXPECT_EQ(child.wait(), 0);

    // The key was read in one-character mode, and the terminal put back.
    struct termios after = pty.settings();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST(Pager, StdinAtEndOfFileEndsThePauseAtOnce)
{
    unit::Pty pty(false);
    prepare(pty);
    int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    long long start = unit::now_ms();
    Child child(start_printer(pty.slave(), null_fd, 30));
    close(null_fd);

    EXPECT_EQ(pty.read_until("line 30\n", 10000), lines(1, 23) + prompt + blank + lines(24, 30));
    EXPECT_EQ(child.wait(), 0);
    EXPECT_LT(unit::now_ms() - start, 3000);
}

}  // namespace
