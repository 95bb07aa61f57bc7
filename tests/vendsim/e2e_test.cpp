// The built simulator, run as its users run it: a child process whose pty
// slave the test opens as its serial port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string link_target(const std::string &path)
{
    char buf[256] = {};
    return readlink(path.c_str(), buf, sizeof buf - 1) > 0 ? buf : "";
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Reads fd until want has arrived or the time is up; returns all it read.
std::string read_until(int fd, const std::string &want, double timeout = 3)
{
    std::string got;
    Clock::time_point t0 = Clock::now();
    char buf[256];
    pollfd p = {fd, POLLIN, 0};
    while (got.find(want) == std::string::npos) {
        int left_ms = static_cast<int>((timeout - since(t0)) * 1000);
        ssize_t n = left_ms > 0 && poll(&p, 1, left_ms) > 0 ? read(fd, buf, sizeof buf) : 0;
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void send(int fd, const std::string &s)
{
    ASSERT_EQ(write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
}

// The host's side, set up as the real program sets up its port.
int open_port(const std::string &path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios tio;
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        return -1;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 10;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// One vendsim run with a link and a transcript in a scratch directory.
class Sim {
public:
    explicit Sim(std::vector<std::string> args)
    {
        char tmpl[] = "/tmp/vendsim-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::vector<std::string> argv = {VENDSIM_PATH, "--transcript", dir_ + "/log", "--link", link()};
        argv.insert(argv.end(), args.begin(), args.end());
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            abort();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            std::vector<char *> v;
            for (std::string &a : argv)
                v.push_back(&a[0]);
            v.push_back(nullptr);
            execv(VENDSIM_PATH, v.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Sim()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
        std::string rm = "rm -rf " + dir_;
        EXPECT_EQ(system(rm.c_str()), 0);
    }

    // The next line printed on stdout, "" if none comes in time.
    std::string next_line(double timeout = 10)
    {
        std::string line = read_until(out_, "\n", timeout);
        return line.empty() ? line : line.substr(0, line.size() - 1);
    }
    // Exit status, or -1 if still running after timeout.
    int wait_exit(double timeout = 5)
    {
        int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        pollfd p = {pidfd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(timeout * 1000));
        close(pidfd);
        int status;
        if (ready <= 0 || wait4(pid_, &status, 0, &usage_) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    double cpu_seconds() const
    {
        const timeval &u = usage_.ru_utime, &s = usage_.ru_stime;
        return u.tv_sec + s.tv_sec + (u.tv_usec + s.tv_usec) / 1e6;
    }
    void signal(int sig) { kill(pid_, sig); }
    std::string errors() { return read_until(err_, "\n", 1); }
    std::string link() const { return dir_ + "/modem"; }
    std::string transcript() const
    {
        std::stringstream s;
        s << std::ifstream(dir_ + "/log").rdbuf();
        return s.str();
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    rusage usage_ = {};
    std::string dir_;
};

void expect_entries(const std::string &transcript, const std::vector<std::string> &entries)
{
    size_t at = 0;
    for (const std::string &e : entries) {
        size_t found = transcript.find(e, at);
        EXPECT_NE(found, std::string::npos) << "'" << e << "' in order in\n" << transcript;
        at = found == std::string::npos ? at : found;
    }
}

TEST(VendsimRun, DialTalkEscapeAndHangUp)
{
    const double guard = 0.3;
    Sim sim({"--guard", "0.3", "--dial-delay", "0.1", "--ident", "HELLO"});
    std::string slave = sim.next_line();
    ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    EXPECT_EQ(link_target(sim.link()), slave);
    int fd = open_port(sim.link());
    ASSERT_GE(fd, 0);

    send(fd, "ATDT42\r");
    EXPECT_EQ(read_until(fd, "9600\r\n"), "ATDT42\r\r\nCONNECT 9600\r\n");
    send(fd, "\x05");
    EXPECT_EQ(read_until(fd, "\x06"), "\x06");
    send(fd, std::string("\x02\x00\x06\x00\x06\x03", 6));
    EXPECT_EQ(read_until(fd, "\x03"), std::string("\x02\x00\x07\x05HELLO\x80\x03", 11));

    std::this_thread::sleep_for(std::chrono::duration<double>(guard + 0.1));
    Clock::time_point sent = Clock::now();
    send(fd, "+++");
    EXPECT_EQ(read_until(fd, "OK\r\n"), "\r\nOK\r\n");
    EXPECT_GE(since(sent), guard) << "the OK must wait out the guard time";
    send(fd, "ATH\r");
    EXPECT_EQ(read_until(fd, "OK\r\n"), "ATH\r\r\nOK\r\n");
    close(fd);

    EXPECT_EQ(sim.wait_exit(), 0);
    EXPECT_FALSE(exists(sim.link()));
    std::string t = sim.transcript();
    EXPECT_EQ(t.rfind("# vendsim transcript\n# start ", 0), 0u);
    expect_entries(t, {"  pty     /dev/pts/", "  event   dial 42\n", "  event   connect\n",
                       "  packet  recv type=0x07 len=5 data=48 45 4c 4c 4f sum=0x80 end=0x03 ok\n",
                       "  host->  2b 2b 2b  |+++|\n", "  event   escape recognised\n",
                       "  host->  41 54 48 0d  |ATH\\r|\n", "  event   hang-up\n",
                       "  <-modem 0d 0a 4f 4b 0d 0a  |\\r\\nOK\\r\\n|\n", "  event   host closed the line\n"});
}

TEST(VendsimRun, VanishingModemHangsUpTheHost)
{
    Sim sim({"--vanish-after-bytes", "3"});
    int fd = open_port(sim.next_line());
    ASSERT_GE(fd, 0);
    send(fd, "ATZ\r");
    EXPECT_EQ(sim.wait_exit(), 0);
    // Reads end at once instead of waiting out VTIME; writes fail.
    Clock::time_point t0 = Clock::now();
    char c;
    EXPECT_LE(read(fd, &c, 1), 0);
    EXPECT_LT(since(t0), 0.5);
    EXPECT_EQ(write(fd, "x", 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);
    EXPECT_FALSE(exists(sim.link()));
    expect_entries(sim.transcript(), {"  host->  41 54 5a  |ATZ|\n", "  event   vanish (line closed)\n"});
}

TEST(VendsimRun, KeepServesAFreshLineAfterEachSessionUntilStopped)
{
    Sim sim({"--keep"});
    for (int session = 0; session < 2; ++session) {
        std::string slave = sim.next_line();
        EXPECT_EQ(link_target(sim.link()), slave) << session;
        int fd = open_port(sim.link());
        ASSERT_GE(fd, 0);
        send(fd, "AT\r");
        EXPECT_EQ(read_until(fd, "OK\r\n"), "AT\r\r\nOK\r\n") << session;
        close(fd);
    }
    EXPECT_FALSE(sim.next_line().empty());
    sim.signal(SIGINT);
    EXPECT_EQ(sim.wait_exit(), 0);
    EXPECT_FALSE(exists(sim.link()));
}

TEST(VendsimRun, IdleCostsNoCpuAndMaxTimeEndsTheRun)
{
    Sim sim({"--max-time", "1.5", "--connected"});
    int fd = open_port(sim.next_line());
    ASSERT_GE(fd, 0);
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(sim.wait_exit(10), 3);
    EXPECT_GE(since(t0), 1.2);
    EXPECT_LT(sim.cpu_seconds(), 0.3);
    close(fd);
}

TEST(VendsimRun, StatusForEachWayOfStopping)
{
    char file[] = "/tmp/vendsim-file-XXXXXX";
    close(mkstemp(file));
    const struct {
        std::vector<std::string> args;
        std::string first_line;  // what stdout starts with
        int signal;
        int status;
    } cases[] = {
        {{"--guard", "fast"}, "", 0, 2},
        {{"--help"}, "usage: vendsim", 0, 0},
        {{}, "/dev/pts/", SIGTERM, 0},
        {{"--connected"}, "/dev/pts/", SIGINT, 0},
        {{"--link", file}, "", 0, 2},  // not a symlink: left alone
    };
    for (const auto &c : cases) {
        Sim sim(c.args);
        EXPECT_EQ(sim.next_line(2).rfind(c.first_line, 0), 0u) << c.first_line;
        if (c.signal)
            sim.signal(c.signal);
        EXPECT_EQ(sim.wait_exit(), c.status) << c.first_line;
        EXPECT_EQ(sim.errors().empty(), c.status == 0) << c.first_line;
    }
    struct stat st;
    EXPECT_TRUE(lstat(file, &st) == 0 && S_ISREG(st.st_mode));
    unlink(file);
}

}  // namespace
