#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {

const char *const vendhook_path = VENDHOOK_PATH;
const char *const vendsim_path = VENDSIM_PATH;
const char *const shim_path = SHIM_PATH;
const char *const vendconnect_path = VENDCONNECT_PATH;
const char *const refuse_flowctl_path = REFUSE_FLOWCTL_PATH;

double now_realtime()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int count_of(const std::string &s, const std::string &what)
{
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/vendhook-e2e-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    chmod(path_.c_str(), 0777);  // runs as another user can work here too
}

TempDir::~TempDir()
{
    std::string cmd = "rm -rf '" + path_ + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", path_.c_str());
}

namespace {

std::vector<char *> c_args(std::vector<std::string> &args)
{
    std::vector<char *> v;
    for (auto &a : args)
        v.push_back(&a[0]);
    v.push_back(nullptr);
    return v;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "2b 2b 2b  |+++|" -> "+++"
std::string parse_hex_bytes(const std::string &s)
{
    std::string bytes;
    size_t i = 0;
    while (i + 1 < s.size() && hex_value(s[i]) >= 0 && hex_value(s[i + 1]) >= 0) {
        bytes.push_back(static_cast<char>(hex_value(s[i]) * 16 + hex_value(s[i + 1])));
        i += 2;
        if (i < s.size() && s[i] == ' ' && i + 1 < s.size() && s[i + 1] != ' ')
            ++i;
        else
            break;
    }
    return bytes;
}

void drain(int fd, std::string *into, bool *open)
{
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into->append(buf, static_cast<size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        *open = false;
}

}  // namespace

Sim::Sim(const TempDir &dir, const std::vector<std::string> &args)
{
    link_ = dir / "modem";
    transcript_ = dir / "transcript.log";
    std::vector<std::string> argv = {vendsim_path, "--link", link_, "--transcript", transcript_,
                                     "--max-time", "180"};
    argv.insert(argv.end(), args.begin(), args.end());

    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        auto v = c_args(argv);
        execv(vendsim_path, v.data());
        _exit(127);
    }
    close(out[1]);
    // The simulator prints the slave's path once the line is ready.
    std::string line;
    char c;
    struct pollfd p = {out[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        line.push_back(c);
    close(out[0]);
    if (line.empty())
        throw std::runtime_error("vendsim did not start");
    slave_ = line;
}

Sim::~Sim()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

int Sim::wait_exit(int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        int st;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        usleep(20000);
    }
    return -1;
}

double Sim::start_time() const
{
    std::istringstream in(read_file(transcript_));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# start ", 0) == 0)
            return std::stod(line.substr(8));
    }
    return 0;
}

std::vector<Entry> Sim::transcript() const
{
    std::vector<Entry> entries;
    std::istringstream in(read_file(transcript_));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.size() < 19)
            continue;
        Entry e;
        e.t = std::stod(line.substr(0, 8));
        std::string tag = line.substr(10, 7);
        tag.erase(tag.find_last_not_of(' ') + 1);
        e.tag = tag;
        e.rest = line.substr(18);
        if (e.tag == "host->" || e.tag == "<-modem" || e.tag == "<-recv")
            e.bytes = parse_hex_bytes(e.rest);
        entries.push_back(e);
    }
    return entries;
}

std::string Sim::host_bytes() const
{
    std::string all;
    for (const Entry &e : transcript()) {
        if (e.tag == "host->")
            all += e.bytes;
    }
    return all;
}

std::vector<std::pair<double, std::string>> Sim::host_bursts(double gap) const
{
    std::vector<std::pair<double, std::string>> bursts;
    double t0 = start_time(), last = -1e9;
    for (const Entry &e : transcript()) {
        if (e.tag != "host->")
            continue;
        if (bursts.empty() || e.t - last > gap)
            bursts.emplace_back(t0 + e.t, "");
        bursts.back().second += e.bytes;
        last = e.t;
    }
    return bursts;
}

RunOptions in_dir(const TempDir &dir, const std::vector<std::string> &args)
{
    RunOptions o;
    o.args = args;
    o.cwd = dir.path();
    return o;
}

void as_unprivileged_user(RunOptions *o, const Sim *sim)
{
    const int nobody_uid = 65534;
    if (geteuid() != 0)
        return;
    o->uid = nobody_uid;
    if (sim != nullptr)
        chmod(sim->slave().c_str(), 0666);
}

RunResult run_vendhook(const RunOptions &opts)
{
    std::string program = opts.program.empty() ? vendhook_path : opts.program;
    if (opts.uid >= 0) {
        // The build tree may sit where another user cannot reach (a private
        // temporary folder): run a copy from the working directory.
        std::string copy = opts.cwd + "/.program-for-user";
        std::string cmd = "cp '" + program + "' '" + copy + "' && chmod 0755 '" + copy + "'";
        if (system(cmd.c_str()) != 0)
            throw std::runtime_error("could not copy " + program);
        program = copy;
    }
    std::vector<std::string> argv = {opts.argv0.empty() ? program : opts.argv0};
    argv.insert(argv.end(), opts.args.begin(), opts.args.end());

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    RunResult r;
    r.started = now_realtime();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1], devnull})
            close(fd);
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0)
            _exit(126);
        std::string preload = opts.with_shim ? shim_path : "";
        if (!opts.preload.empty())
            preload += (preload.empty() ? "" : ":") + opts.preload;
        if (!preload.empty()) {
            setenv("LD_PRELOAD", preload.c_str(), 1);
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        }
        if (opts.with_shim && !opts.shim_log.empty())
            setenv("VENDTEST_MODEMLINES_LOG", opts.shim_log.c_str(), 1);
        if (opts.uid >= 0 && (setgid(opts.uid) != 0 || setuid(opts.uid) != 0))
            _exit(125);
        auto v = c_args(argv);
        execv(program.c_str(), v.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);

    bool out_open = true, err_open = true, signalled = false;
    while (out_open || err_open) {
        double elapsed_ms = (now_realtime() - r.started) * 1000;
        int wait_ms = 200;
        if (opts.sigint_after_ms >= 0 && !signalled) {
            if (elapsed_ms >= opts.sigint_after_ms) {
                kill(pid, SIGINT);
                signalled = true;
            } else {
                wait_ms = static_cast<int>(opts.sigint_after_ms - elapsed_ms) + 1;
            }
        }
        if (elapsed_ms > opts.timeout_ms) {
            kill(pid, SIGKILL);
            break;
        }
        struct pollfd p[2] = {{out_open ? out[0] : -1, POLLIN, 0},
                              {err_open ? err[0] : -1, POLLIN, 0}};
        if (poll(p, 2, wait_ms) <= 0)
            continue;
        if (p[0].revents)
            drain(out[0], &r.out, &out_open);
        if (p[1].revents)
            drain(err[0], &r.err, &err_open);
    }
    close(out[0]);
    close(err[0]);

    int st = 0;
    struct rusage ru;
    wait4(pid, &st, 0, &ru);
    r.wall = now_realtime() - r.started;
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
            ru.ru_stime.tv_usec / 1e6;
    if (WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        r.term_signal = WTERMSIG(st);
    return r;
}

std::string version_lines(const std::string &argv0)
{
    return "Orvanta-RC REMOTE CONTROL, v2.35 SPARC  (20 DEC 1999)\n"
           "Copyright (c) 1996-1999 Orvanta.  All rights reserved.\n" +
           argv0 + ", 2.9\n";
}

std::string usage_text()
{
    return "usage: vendhook [-Ddev] [-Bbaud] [-Pparity] [-Cconfig]\n"
           "\n"
           "Note: Usage implies modem connection.\n"
           "  -M[dialing_string]\tInitialize and use modem interface.  Dial with\n"
           "\t\t\tdialing_string from 'modem.dat'.\n"
           "\t\t\tOptionally, may provide new dialing_string after\n"
           "\t\t\t'-m' modifier.\n"
           "  -Bbaud\t\tHost<->DCE 'baud' value (default: 9600).\n"
           "  -Pparity\t\tHost<->DCE 'parity' value.\n"
           "\t\t\to->odd, e->even, n->none (default: odd)\n"
           "  -Ddev   \t\tSerial port device file.\n"
           "\t\t\tdefaults: HP-UX: '/dev/ser_port1'\n"
           "\t\t\tSOLARIS: '/dev/ttya'\n"
           "\t\t\tDOS: '1' (COM 1)\n"
           "  -Cconfigfile\t\tModem config file.  \n"
           "\t\t\tWhen specified with the \"-d\" switch, only\n"
           "\t\t\tthe path and base name should be provided.\n"
           "\t\t\tThe \"device\" name will be appended to the\n"
           "\t\t\tend of \"config\" name.\n"
           "  --rtscts             Disable RTS/CTS requirements at the host computer.\n"
           "  --dropdtr            Drop DTR upon program termination.\n"
           "\n"
           "  Example:    wexal  -dmodem.dat -c/dev/ttya\n"
           "   or         wexal  -dmodem.dat.ttya\n"
           "\n";
}

}  // namespace e2e
