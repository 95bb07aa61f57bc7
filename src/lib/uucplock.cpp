// The device's lock file, as the other serial programs of Linux take and
// honour it: LCK..NAME in the system's lock folder, NAME the last component
// of the device's real path (so that every link to a device names one
// lock), holding the holder's process id in ten characters and a newline.
// Everyone may write in that folder, so nothing there is followed, and only
// a regular file that begins with a process id is believed.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "devlock.h"
#include "platform/platform.h"
#include "vendlink/status.h"

namespace {

const int lock_path_size = 320;  // the folder, "/LCK..", a file name of up to 255 bytes
const int lock_text_size = 64;   // read of a lock file: the id and what some programs add
const int held_max = 4;          // lock files that the exit and Ctrl-C remove

// The lock files this process took, and the device path each was taken for;
// `used` is set last and cleared first, so the Ctrl-C handler never reads a
// half-written name.
struct HeldFile {
    char path[lock_path_size];
    char device[lock_path_size];
    volatile sig_atomic_t used;
};
HeldFile held[held_max];
bool exit_release_set = false;

const char *lock_folder()
{
    struct stat st;
    return stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) ? "/run/lock" : "/var/lock";
}

// The lock file for the file whose path is `path`, named by its last component.
bool lock_file_named(const char *path, char *name)
{
    const char *slash = strrchr(path, '/');
    const char *base = slash != nullptr ? slash + 1 : path;
    int n = snprintf(name, lock_path_size, "%s/LCK..%s", lock_folder(), base);
    return *base != '\0' && n > 0 && n < lock_path_size;
}

bool lock_file_name(const char *device, char *name)
{
    char real[PATH_MAX];
    return realpath(device, real) != nullptr && lock_file_named(real, name);
}

// The lock file under the name the user gave, where it is another than the device's real one (a
// link such as /dev/modem0): a program that does not follow links takes that one.
bool alias_lock_file_name(const char *device, const char *real, char *alias)
{
    return lock_file_named(device, alias) && strcmp(alias, real) != 0;
}

// The id at the start of a lock file's text: blanks, then digits ending the
// text or followed by a blank or a newline (some programs add their name).
// 0 for any other text.  Plain code: the Ctrl-C path reads it too.
int parse_pid(const char *text, ssize_t n)
{
    ssize_t i = 0;
    while (i < n && text[i] == ' ')
        ++i;
    long pid = 0;
    ssize_t first = i;
    while (i < n && i - first < 10 && text[i] >= '0' && text[i] <= '9') {
        pid = pid * 10 + (text[i] - '0');
        ++i;
    }
    bool ends = i == n || text[i] == ' ' || text[i] == '\n';
    return i > first && ends && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

// The id in a lock file: -1 when there is none, 0 when it is not a regular
// file holding one (a link is never followed).  System calls only.
int read_lock_file(const char *name, struct stat *st)
{
    int fd = open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? -1 : 0;
    char text[lock_text_size];
    ssize_t n = fstat(fd, st) == 0 && S_ISREG(st->st_mode) ? read(fd, text, sizeof text) : -1;
    close(fd);
    return n > 0 ? parse_pid(text, n) : 0;
}

void remove_if_ours(const char *name)
{
    struct stat st;
    if (read_lock_file(name, &st) == getpid())
        unlink(name);
}

void remember(const char *name, const char *device)
{
    if (!exit_release_set)
        exit_release_set = atexit(lock_files_release_all) == 0;
    for (HeldFile &h : held) {
        if (!h.used) {
            snprintf(h.path, sizeof h.path, "%s", name);
            snprintf(h.device, sizeof h.device, "%s", device);
            h.used = 1;
            return;
        }
    }
}

int without_lock_file(const char *device, int error)
{
    fprintf(stderr, "%s: no lock file made in %s (%s); other programs will not see the lock.\n",
            device, lock_folder(), strerror(error));
    return RC_OK;
}

enum class Verdict { free, held, refused, given_up };

// A live holder holds the lock, and is named in *h; a dead one's file is
// removed, unless it changed since it was read, and the name is free again.
// Anything else under the name refuses the lock, with one line.
Verdict judge_existing(const char *device, const char *name, LockHolder *h)
{
    struct stat st;
    int pid = read_lock_file(name, &st);
    if (pid < 0)
        return Verdict::free;
    if (pid == 0) {
        fprintf(stderr,
                "%s is locked by %s, not a lock file; remove it if no program uses the line.\n",
                device, name);
        return Verdict::refused;
    }
    if (process_alive(pid)) {
        name_holder(h, pid, "a lock file");
        return Verdict::held;
    }
    struct stat now;
    if (lstat(name, &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev)
        return Verdict::free;
    if (unlink(name) != 0) {
        without_lock_file(device, errno);
        return Verdict::given_up;
    }
    fprintf(stderr, "%s: removed the stale lock file of process %d.\n", device, pid);
    return Verdict::free;
}

// Links the finished temporary file to the lock's name: the link fails when
// the name exists, so of two programs only one can take it.
int link_lock(const char *device, const char *temp, const char *name, LockHolder *h)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (link(temp, name) == 0) {
            remember(name, device);
            return RC_OK;
        }
        if (errno != EEXIST)
            return without_lock_file(device, errno);
        struct stat st;
        if (read_lock_file(name, &st) == getpid()) {
            remember(name, device);  // taken before, and the semaphore let go since
            return RC_OK;
        }
        Verdict v = judge_existing(device, name, h);
        if (v != Verdict::free)
            return v == Verdict::given_up ? RC_OK : RC_FAIL;
    }
    return without_lock_file(device, EEXIST);
}

}  // namespace

bool process_alive(int pid)
{
    return kill(pid, 0) == 0 || errno == EPERM;
}

void name_holder(LockHolder *h, int pid, const char *lock)
{
    h->pid = pid;
    h->lock = lock;
    if (!platform_program_name(pid, h->program, sizeof h->program))
        snprintf(h->program, sizeof h->program, "unknown");
}

void report_holder(const char *path, const LockHolder &h)
{
    fprintf(stderr, "%s is locked by process %d (%s) with %s.\n", path, h.pid, h.program, h.lock);
}

bool device_flock_holder(const char *path, LockHolder *h)
{
    int pid = platform_flock_holder(path);
    if (pid <= 0 || !process_alive(pid))
        return false;
    name_holder(h, pid, "flock");
    return true;
}

int lock_file_take(const char *path, LockHolder *h)
{
    char name[lock_path_size];
    char alias[lock_path_size];
    char temp[lock_path_size];
    if (!lock_file_name(path, name))
        return RC_OK;  // a name too long for any lock folder
    if (alias_lock_file_name(path, name, alias)) {
        Verdict v = judge_existing(path, alias, h);
        if (v == Verdict::held || v == Verdict::refused)
            return RC_FAIL;
    }
    snprintf(temp, sizeof temp, "%s/LTMP.vendlink.%d", lock_folder(), static_cast<int>(getpid()));
    unlink(temp);  // left by an earlier process with this id
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return without_lock_file(path, errno);
    char text[16];
    int len = snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    bool written = write(fd, text, static_cast<size_t>(len)) == len;
    int error = errno;
    if (close(fd) != 0 || !written) {
        unlink(temp);
        return without_lock_file(path, written ? errno : error);
    }
    int rc = link_lock(path, temp, name, h);
    unlink(temp);
    return rc;
}

// By the device path it was taken for, too: that path may be gone (a device unplugged).
void lock_file_release(const char *path)
{
    char name[lock_path_size];
    bool named = lock_file_name(path, name);
    for (HeldFile &h : held) {
        if (h.used && (strcmp(h.device, path) == 0 || (named && strcmp(h.path, name) == 0))) {
            h.used = 0;
            remove_if_ours(h.path);
        }
    }
    if (named)
        remove_if_ours(name);
}

void lock_files_release_all()
{
    for (HeldFile &h : held) {
        if (h.used) {
            h.used = 0;
            remove_if_ours(h.path);
        }
    }
}
