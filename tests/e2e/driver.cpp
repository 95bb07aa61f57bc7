// How a row of the end-to-end table runs (driver.h).
#include "driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "transcript.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
std::string read_file(const std::string &path)
{
    return (std::ostringstream() << std::ifstream(path).rdbuf()).str();
}

void write_file(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

pid_t spawn(std::vector<std::string> argv, const std::function<void()> &in_child)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    in_child();
    std::vector<char *> v;
    for (std::string &a : argv)
        v.push_back(a.data());
    v.push_back(nullptr);
    alarm(200);  // whatever goes wrong, no program outlives its test
    execv(v[0], v.data());
    _exit(127);
}

// The host's bytes in the transcript, in bursts that pauses of more than 0.3 s separate, timed
// from the program's first output at `start`.  vendsim's times count from its terminal's readiness,
// which the driver saw at `ready`; at `pace` of its seconds to one of the driver's.
std::vector<Burst> bursts(const std::string &log, double ready, double start, int pace)
{
    std::vector<Exchange> script;
    std::string unread;
    double last = -1;
    double t_ready = 0;
    read_exchanges(log, script, unread, &t_ready);
    std::vector<Burst> found;
    for (const Exchange &e : script) {
        if (!e.from_host)
            continue;
        if (found.empty() || e.t - last > 0.3)
            found.push_back({(ready - start) * pace + e.t - t_ready, ""});
        last = e.t;
        found.back().bytes.append(e.bytes.begin(), e.bytes.end());
    }
    return found;
}

std::string describe(const termios &t)
{
    char s[160];  // speed, the c_cflag bits that matter, the modes, the control characters
    snprintf(s, sizeof s,
             "speed %o/%o, cflag %o, iflag %o oflag %o lflag %o, cc %d %d %d %d %d %d %d, min %d "
             "time %d",
             cfgetispeed(&t), cfgetospeed(&t),
             t.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | HUPCL | CRTSCTS | CLOCAL | CREAD),
             t.c_iflag, t.c_oflag, t.c_lflag, t.c_cc[VINTR], t.c_cc[VQUIT], t.c_cc[VERASE],
             t.c_cc[VKILL], t.c_cc[VEOF], t.c_cc[VEOL], t.c_cc[VSWTC], t.c_cc[VMIN], t.c_cc[VTIME]);
    return s;
}

void expect_text(const std::string &expected, const std::string &got, const char *what)
{
    size_t at = expected.find("[...]");
    std::string tail = at == std::string::npos ? "" : expected.substr(at + 5);
    if (at == std::string::npos || got.size() < at + tail.size()
        || got.compare(0, at, expected, 0, at) != 0
        || got.compare(got.size() - tail.size(), tail.size(), tail) != 0) {
        EXPECT_EQ(got, expected) << what;
    }
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    double start = 0;
    double wall = 0;
    double cpu = 0;
};

double cpu_of(pid_t pid)
{
    clockid_t clock;
    timespec ts = {};
    return clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &ts) == 0
        ? ts.tv_sec + ts.tv_nsec / 1e9
        : 0;
}

// The programs at the row's pace: libfaketime after what is preloaded already.
void set_pace(int pace, const std::string &preload)
{
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    setenv("LD_PRELOAD", pace == 1 ? preload.c_str() : (preload + " " LIBFAKETIME).c_str(), 1);
    if (pace != 1)
        setenv("FAKETIME", ("+0 x" + std::to_string(pace)).c_str(), 1);
}

// The program's side: input (and on a terminal, errors too) from `terminal`, output to a file,
// errors otherwise to `err_fd`; the shim and its settings.
void prepare_program(const Row &row, const Run &run, const std::string &top,
                     const std::string &terminal, int err_fd)
{
    int in = open(terminal.c_str(), O_RDWR | O_NOCTTY);
    int out = open((top + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
    termios t;
    if (tcgetattr(in, &t) == 0) {
        t.c_oflag &= ~tcflag_t(OPOST);  // the text as written
        tcsetattr(in, TCSANOW, &t);
    }
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(row.tty ? in : err_fd, 2) < 0
        || chdir(run.dir.c_str()) != 0)
        _exit(126);
    set_pace(row.pace, row.nobody ? top + "/shim.so" : SHIM);
    setenv("VENDTEST_DTR_LOG", (top + "/dtr").c_str(), 1);
    setenv("VENDTEST_SECONDS_FROM", "0.9", 1);  // its first wait starts 0.1 s into a second
    if ((row.env != nullptr && putenv(strdup(run.expand(row.env).c_str())) != 0)
        || (row.nobody && (setgid(65534) != 0 || setuid(65534) != 0)))
        _exit(125);
}

// At the pager's prompt a key, or Ctrl-C: not before the program waits for the key in
// one-character mode, however busy the machine.
bool answer_prompt(int master, pid_t pid, bool ctrl_c)
{
    termios t;
    for (int i = 0; i < 500 && tcgetattr(master, &t) == 0 && (t.c_lflag & ICANON); ++i)
        usleep(10000);
    return ctrl_c ? kill(pid, SIGINT) == 0 : write(master, "x", 1) == 1;
}

// The row's wall time: its own, or the Ctrl-C's, or the last burst's.
double wall_of(const Row &row)
{
    return row.wall >= 0     ? row.wall
        : row.sigint_ms >= 0 ? row.sigint_ms / 1e3
        : row.sent.empty()   ? 0
                             : row.sent.back().t;
}

// The program with its error stream on a pipe or on the row's terminal, read until it lets go; a
// program still running five seconds after the row's time is ended, so that a fault that hangs
// costs no more.
Outcome execute(const Row &row, const Run &run, const std::string &top, const std::string &program)
{
    int fds[2] = {-1, -1};  // the error stream: the driver's end, the program's
    std::string terminal = "/dev/null";
    if (row.tty) {
        fds[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (grantpt(fds[0]) != 0 || unlockpt(fds[0]) != 0)
            return {};
        terminal = ptsname(fds[0]);
    } else if (pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    std::vector<std::string> argv = {program};
    for (const std::string &a : row.args)
        argv.push_back(run.expand(a));
    pid_t pid = spawn(argv, [&] { prepare_program(row, run, top, terminal, fds[1]); });
    close(fds[1]);
    Outcome o;
    double first = -1;
    double last = now();
    double cpu_first = 0;
    double cpu_last = 0;
    bool answered = false;
    bool interrupted = row.tty || row.sigint_ms < 0;
    bool killed = false;
    for (;;) {
        pollfd p = {fds[0], POLLIN, 0};
        double due = interrupted ? wall_of(row) + 5 : row.sigint_ms / 1e3;
        int wait_ms
            = first < 0 || killed ? -1 : std::max(0, int((first + due / row.pace - now()) * 1e3));
        if (poll(&p, 1, wait_ms) == 0) {
            killed = interrupted;
            EXPECT_FALSE(killed) << "the program still ran five seconds after the row's time";
            kill(pid, killed ? SIGKILL : SIGINT);
            interrupted = true;
            continue;
        }
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;  // EOF, or EIO from a terminal: the program has ended
        last = now();
        cpu_last = cpu_of(pid);
        if (first < 0) {
            first = last;
            cpu_first = cpu_last;
        }
        o.err.append(buf, static_cast<size_t>(n));
        if (row.tty && !answered
            && o.err.find("<Press any key to continue>") != std::string::npos) {
            answered = true;
            if (!answer_prompt(fds[0], pid, row.sigint_ms >= 0))
                break;
        }
    }
    EXPECT_LT(now() - last, 2.0) << "the program lingers after its last output";
    o.start = first < 0 ? last : first;
    o.wall = (last - o.start) * row.pace;
    o.cpu = cpu_last - cpu_first;
    int st = 0;
    waitpid(pid, &st, 0);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    o.out = read_file(top + "/out");
    termios t;
    EXPECT_TRUE(!row.tty
                || (tcgetattr(fds[0], &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO)))
        << "the terminal was left in one-character mode";
    close(fds[0]);
    return o;
}

// vendsim linked at `link` with the row's `options`, at its pace; it prints the path of its
// terminal on its first line once it is ready, which was at *ready.  "" if it did not.
std::string start_sim(const Run &run, const std::string &log, const std::string &link,
                      const std::vector<std::string> &options, int pace, pid_t *pid, double *ready)
{
    std::vector<std::string> argv = {VENDSIM, "--transcript", log, "--link", run.expand(link)};
    for (const std::string &o : options)
        argv.push_back(run.expand(o));
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        return "";
    *pid = spawn(argv, [&] {
        dup2(p[1], 1);
        set_pace(pace, SHIM);
    });
    close(p[1]);
    char path[256] = "";
    ssize_t n = read(p[0], path, sizeof path - 1);  // one line, written at once
    *ready = now();
    close(p[0]);
    path[n > 0 ? strcspn(path, "\n") : 0] = '\0';
    chmod(path, 0666);  // for the runs as another user
    return path;
}

// The status of a process that ends by itself within five seconds; -1 if it does not.
int ended(pid_t pid)
{
    int st = 0;
    for (int i = 0; i < 250 && waitpid(pid, &st, WNOHANG) == 0; ++i)
        usleep(20000);
    if (kill(pid, SIGTERM) != 0)
        return WEXITSTATUS(st);
    waitpid(pid, &st, 0);
    return -1;
}

// The modem got the row's bytes in all, and each timed burst within 0.3 s of its time.
void expect_sent(const std::vector<Burst> &sent, const std::vector<Burst> &got)
{
    std::string all;
    std::string expected;
    for (const Burst &b : got)
        all += b.bytes;
    for (const Burst &b : sent)
        expected += b.bytes;
    expect_text(expected, all, "what the modem got");
    for (const Burst &b : sent) {
        bool found = b.t < 0;
        for (const Burst &g : got)
            found = found || (g.bytes == b.bytes && std::abs(g.t - b.t) < 0.3);
        EXPECT_TRUE(found) << "no burst of " << b.bytes.size() << " bytes at " << b.t << " s";
    }
}

// The usage text as the program prints it on a bad option, its version lines aside; paged on the
// row's terminal: 23 lines with the version's, the prompt, then the rest or the Ctrl-C's message.
std::string usage_of(const std::string &program, const Row &row)
{
    static std::string usage;
    if (usage.empty()) {
        FILE *p = popen((program + " -x 2>&1 >/dev/null").c_str(), "r");
        for (int c = 0, lines = 0; p != nullptr && (c = fgetc(p)) != EOF; lines += c == '\n') {
            if (lines >= 3)
                usage += static_cast<char>(c);
        }
        EXPECT_EQ(p != nullptr ? pclose(p) : -1, 242 << 8) << "no usage text from " << program;
    }
    if (!row.tty)
        return usage;
    size_t at = 0;
    for (int line = 3; line < 23; ++line)
        at = usage.find('\n', at) + 1;
    return usage.substr(0, at) + "<Press any key to continue>"
        + (row.sigint_ms < 0 ? "\r" + std::string(27, ' ') + "\r" + usage.substr(at) : interrupted);
}

// The status a run's closing line gives.
int status_of(const std::string &err)
{
    size_t done = err.rfind("Done (-");
    if (err.ends_with(interrupted))
        return 232;
    return done == std::string::npos ? 0 : 256 - atoi(err.c_str() + done + 7);
}

}  // namespace

std::string line_of(int baud, unsigned cflag)
{
    termios t = {};
    t.c_iflag = IGNBRK;
    t.c_cflag = cflag;
    t.c_cc[VTIME] = 10;
    cfsetspeed(&t, static_cast<speed_t>(baud));
    return describe(t);
}

std::string Run::expand(const std::string &text) const
{
    std::string s = text;
    const std::string name = std::filesystem::path(dir).parent_path().filename();
    for (auto [from, to] : {std::pair {"$M", dir + "/modem"}, {"$D", dir}, {"$N", name}})
        for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
            s.replace(at, 2, to);
    return s;
}

void run_row(const char *program, bool version_lines, const Row &row)
{
    char name[] = "/tmp/vendtest-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string top = name;
    Run run;
    run.dir = top + "/w";
    ASSERT_EQ(mkdir(run.dir.c_str(), 0777) + chmod(run.dir.c_str(), 0777) + chmod(name, 0777),
              0);  // another user too
    pid_t sim = -1;
    pid_t device = -1;
    double ready = 0;
    if (!row.device.empty()) {
        ASSERT_NE(start_sim(run, top + "/device.log", "$D/device", row.device, 1, &device, &ready),
                  "")
            << "the device's vendsim did not start";
    }
    run.slave = start_sim(run, top + "/modem.log", "$M", row.sim, row.pace, &sim, &ready);
    ASSERT_FALSE(run.slave.empty()) << "vendsim did not start";
    run.line_fd = open(run.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    run.key = ftok(run.slave.c_str(), 100);
    const std::string lock_file = lock_file_of(run.slave);
    for (const File &f : row.given)
        write_file(run.dir + "/" + f.name, run.expand(f.text));
    if (row.setup != nullptr)
        row.setup(run);
    std::string ran = program;
    if (row.nobody) {  // the build tree may be out of that user's reach
        ran = top + "/program";
        write_file(ran, read_file(program), 0755);
        write_file(top + "/shim.so", read_file(SHIM), 0755);
    }

    // The System V sets the run makes, for the line and a device, taken while they are there.
    std::vector<key_t> keys = {run.key, ftok((run.dir + "/device").c_str(), 100)};
    for (const std::string &a : row.args)
        keys.push_back(a.size() > 2 && tolower(a[1]) == 'd' ? ftok(run.expand(a).c_str() + 2, 100)
                                                            : -1);
    Outcome o = execute(row, run, top, ran);
    const std::string err = run.expand(row.err) + (row.usage ? usage_of(ran, row) : "");
    EXPECT_EQ(o.status, row.status >= 0 ? row.status : status_of(err));
    expect_text(run.expand(row.out), o.out, "standard output");
    // The banner's two lines are the library's, checked there; vendhook's revision here.
    size_t banner = version_lines ? o.err.find('\n', o.err.find('\n') + 1) + 1 : 0;
    expect_text((version_lines ? ran + ", 2.9\n" : "") + err, o.err.substr(banner),
                "standard error");
    EXPECT_NEAR(o.wall, wall_of(row), row.slack);
    EXPECT_LT(o.cpu, 0.25) << "a wait that spins";  // 0.5 s or more; a busy host may charge 0.1 s
    termios t = {};
    tcgetattr(run.line_fd, &t);
    EXPECT_TRUE(row.line.empty() || describe(t) == row.line)
        << describe(t) << "\nexpected " << row.line;
    EXPECT_TRUE(row.dtr == "-" || read_file(top + "/dtr") == row.dtr)
        << "DTR " << read_file(top + "/dtr");
    for (const File &f : row.left)
        EXPECT_EQ(read_file(run.dir + "/" + f.name), run.expand(f.text)) << f.name;
    if (row.check != nullptr)
        row.check(run);
    // No lock file of the run may be left; its semaphore sets outlive their holders (by design).
    // Nor may a run that failed leave one for the next to find stale.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(lock_file))) << lock_file;
    std::filesystem::remove(lock_file);
    for (key_t key : keys)
        semctl(key == -1 ? -1 : semget(key, 1, 0), 0, IPC_RMID);
    close(run.line_fd);  // the simulator sees the line closed and ends
    EXPECT_EQ(sim > 0 ? ended(sim) : row.sim_status, row.sim_status) << "vendsim (-1: lingered)";
    if (device > 0)
        ended(device);
    expect_sent(row.sent, bursts(top + "/modem.log", ready, o.start, row.pace));
    EXPECT_EQ(system(("rm -rf " + top).c_str()), 0);
}
