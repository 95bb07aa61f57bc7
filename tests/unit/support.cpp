#include "support.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace {

constexpr int tracked_fds = 1024;
struct termios requested[tracked_fds];
bool requested_valid[tracked_fds];

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + strerror(errno));
}

int restore_rights(const char *path)
{
    return nftw(path, [](const char *p, const struct stat *sb, int type, struct FTW *) {
        if (type == FTW_D || type == FTW_DP || type == FTW_DNR)
            chmod(p, sb->st_mode | S_IRWXU);
        return 0;
    }, 16, FTW_PHYS);
}

}  // namespace

// Records the first settings asked of each line, then applies them.
extern "C" int tcsetattr(int fd, int actions, const struct termios *tio)
{
    using real_fn = int (*)(int, int, const struct termios *);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (fd >= 0 && fd < tracked_fds && tio != nullptr && !requested_valid[fd]) {
        requested[fd] = *tio;
        requested_valid[fd] = true;
    }
    return real(fd, actions, tio);
}

namespace unit {

std::string read_file(const std::string &path)
{
    FILE *fp = fopen(path.c_str(), "rb");
    if (fp == nullptr)
        fail("read " + path);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        text.append(buf, n);
    fclose(fp);
    return text;
}

void write_file(const std::string &path, const std::string &text)
{
    FILE *fp = fopen(path.c_str(), "wb");
    if (fp == nullptr)
        fail("write " + path);
    fwrite(text.data(), 1, text.size(), fp);
    fclose(fp);
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *d = opendir(path.c_str());
    if (d == nullptr)
        fail("opendir " + path);
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

ino_t inode_of(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        fail("stat " + path);
    return st.st_ino;
}

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

long long cpu_ms()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    auto ms = [](const struct timeval &tv) {
        return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
    };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

TempDir::TempDir(bool enter)
{
    char pattern[] = "/tmp/vendlink-unit.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fail("mkdtemp");
    path_ = pattern;
    if (enter) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr)
            fail("getcwd");
        old_cwd_ = cwd;
        if (chdir(path_.c_str()) != 0)
            fail("chdir " + path_);
    }
}

TempDir::~TempDir()
{
    if (!old_cwd_.empty() && chdir(old_cwd_.c_str()) != 0)
        perror("chdir back");
    // Tests take write and search rights away; give them back first.
    restore_rights(path_.c_str());
    nftw(path_.c_str(), [](const char *p, const struct stat *, int, struct FTW *) {
        return remove(p);
    }, 16, FTW_DEPTH | FTW_PHYS);
}

Pty::Pty(bool raw)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        fail("posix_openpt");
    const char *name = ptsname(master_);
    if (name == nullptr)
        fail("ptsname");
    name_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        fail("open " + name_);
    if (raw) {
        struct termios tio;
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
}

Pty::~Pty()
{
    close_master();
    if (slave_ >= 0)
        close(slave_);
}

struct termios Pty::settings() const
{
    struct termios tio;
    if (tcgetattr(slave_, &tio) != 0)
        fail("tcgetattr");
    return tio;
}

void Pty::send(const std::string &bytes)
{
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        fail("write to master");
}

std::string Pty::drain(int timeout_ms)
{
    std::string got;
    char buf[4096];
    struct pollfd p = {master_, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN)) {
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string Pty::read_until(const std::string &needle, int timeout_ms)
{
    std::string got;
    long long end = now_ms() + timeout_ms;
    char buf[4096];
    while (got.find(needle) == std::string::npos) {
        long long left = end - now_ms();
        if (left <= 0)
            break;
        struct pollfd p = {master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN))
            break;
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void Pty::close_master()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

CaptureFd::CaptureFd(int fd) : fd_(fd)
{
    fflush(nullptr);
    char pattern[] = "/tmp/vendlink-capture.XXXXXX";
    file_ = mkstemp(pattern);
    if (file_ < 0)
        fail("mkstemp");
    unlink(pattern);
    saved_ = dup(fd);
    dup2(file_, fd);
}

CaptureFd::~CaptureFd()
{
    finish();
}

std::string CaptureFd::finish()
{
    if (saved_ < 0)
        return {};
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    std::string text;
    char buf[4096];
    ssize_t n;
    lseek(file_, 0, SEEK_SET);
    while ((n = read(file_, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(file_);
    file_ = -1;
    return text;
}

int run_in_child(const std::function<int()> &body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        int status = body();
        fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return 1000 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

void forget_requested_settings()
{
    for (bool &v : requested_valid)
        v = false;
}

bool first_requested_settings(int fd, struct termios *out)
{
    if (fd < 0 || fd >= tracked_fds || !requested_valid[fd])
        return false;
    *out = requested[fd];
    return true;
}

}  // namespace unit
