// The pager on a real terminal: vendhook's standard input and standard error
// on a pseudo-terminal, a key typed at the prompt, and Ctrl-C at the prompt.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "harness.h"

using namespace e2e;

namespace {

const char prompt[] = "<Press any key to continue>";
const std::string blank_out = "\r" + std::string(27, ' ') + "\r";

// vendhook with its terminal on a pty; standard output on /dev/null.
class TerminalRun {
public:
    TerminalRun(const TempDir &dir, const std::vector<std::string> &args)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        slave_path_ = ptsname(master_);
        std::vector<std::string> argv = {vendhook_path};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int s = open(slave_path_.c_str(), O_RDWR);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(s, 0);
            dup2(devnull, 1);
            dup2(s, 2);
            if (chdir(dir.path().c_str()) != 0)
                _exit(126);
            std::vector<char *> v;
            for (auto &a : argv)
                v.push_back(&a[0]);
            v.push_back(nullptr);
            execv(vendhook_path, v.data());
            _exit(127);
        }
        // Keep a slave open so the terminal's settings can be read at the end.
        slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    }
    ~TerminalRun()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(slave_);
        close(master_);
    }

    // Reads what the terminal shows until `what` appears or ms pass.
    bool read_until(const std::string &what, int ms)
    {
        double end = now_realtime() + ms / 1000.0;
        while (text().find(what) == std::string::npos) {
            int left = static_cast<int>((end - now_realtime()) * 1000);
            struct pollfd p = {master_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return false;
            char buf[4096];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                return false;
            screen_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    void type(char c) { ASSERT_EQ(write(master_, &c, 1), 1); }
    void interrupt() { kill(pid_, SIGINT); }
    int wait_status()
    {
        int st = 0;
        struct rusage ru {};
        wait4(pid_, &st, 0, &ru);
        pid_ = -1;
        cpu_ = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
               ru.ru_stime.tv_usec / 1e6;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    // User and system seconds of the run, once it has ended.
    double cpu() const { return cpu_; }
    struct termios settings() const
    {
        struct termios t;
        tcgetattr(slave_, &t);
        return t;
    }
    // The text shown, with the terminal's CR LF line ends back to LF.
    std::string text() const
    {
        std::string s;
        for (size_t i = 0; i < screen_.size(); ++i) {
            if (screen_[i] == '\r' && i + 1 < screen_.size() && screen_[i + 1] == '\n')
                continue;
            s.push_back(screen_[i]);
        }
        return s;
    }

private:
    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    double cpu_ = 0;
    std::string slave_path_, screen_;
};

std::string first_lines(const std::string &text, int n)
{
    size_t at = 0;
    for (int i = 0; i < n; ++i)
        at = text.find('\n', at) + 1;
    return text.substr(0, at);
}

}  // namespace

TEST(Pager, UsageOnATerminalPausesAfter23Lines)
{
    TempDir dir;
    TerminalRun run(dir, {"-x"});
    ASSERT_TRUE(run.read_until(prompt, 5000));
    std::string all = version_lines(vendhook_path) + usage_text();
    std::string head = first_lines(all, 23);
    // Nothing more comes until a key is pressed.
    EXPECT_FALSE(run.read_until(prompt + std::string("\r"), 700));
    EXPECT_EQ(run.text(), head + prompt);

    // Type only once the key read has switched off echo, as a user would.
    for (int i = 0; i < 50 && (run.settings().c_lflag & ICANON); ++i)
        usleep(20000);
    run.type('q');
    EXPECT_EQ(run.wait_status(), 242);
    run.read_until("wexal  -dmodem.dat.ttya\n", 2000);
    EXPECT_EQ(run.text(), head + prompt + blank_out + all.substr(head.size()));
    // The key was read in one-character mode, which is switched off again.
    struct termios t = run.settings();
    EXPECT_TRUE(t.c_lflag & ICANON);
    EXPECT_TRUE(t.c_lflag & ECHO);
}

TEST(Pager, CtrlCAtThePromptPutsTheTerminalBack)
{
    TempDir dir;
    TerminalRun run(dir, {"-x"});
    ASSERT_TRUE(run.read_until(prompt, 5000));
    // Wait until the key read has switched the terminal to one-character mode.
    for (int i = 0; i < 50 && (run.settings().c_lflag & ICANON); ++i)
        usleep(20000);
    ASSERT_FALSE(run.settings().c_lflag & ICANON);

    run.interrupt();
    EXPECT_EQ(run.wait_status(), 232);
    EXPECT_LT(run.cpu(), 0.1);  // the pause for a key is a wait, not a spin
    run.read_until("Terminated from Ctrl-C\n", 2000);
    std::string text = run.text();
    EXPECT_EQ(text.substr(text.size() - 23), "Terminated from Ctrl-C\n");
    EXPECT_EQ(text.find("Terminated"), text.rfind("Terminated"));
    struct termios t = run.settings();
    EXPECT_TRUE(t.c_lflag & ICANON);
    EXPECT_TRUE(t.c_lflag & ECHO);
}

TEST(Pager, SuccessfulRunOnATerminalNeverPauses)
{
    TempDir dir;
    TerminalRun run(dir, {"-D/dev/null"});
    ASSERT_TRUE(run.read_until("Done.\n", 15000));
    EXPECT_EQ(run.wait_status(), 0);
    EXPECT_EQ(run.text().find(prompt), std::string::npos);
}
