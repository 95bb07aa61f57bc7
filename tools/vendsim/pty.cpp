#include "pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

static bool fail(std::string &error, const char *what)
{
    error = std::string(what) + ": " + strerror(errno);
    return false;
}

bool open_pty(Pty &pty, std::string &error)
{
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, "posix_openpt");
    char name[128];
    termios tio;
    bool ok = grantpt(fd) == 0 && unlockpt(fd) == 0 && ptsname_r(fd, name, sizeof name) == 0 &&
              tcgetattr(fd, &tio) == 0;
    if (ok) {
        // A serial line neither echoes nor rewrites bytes; without this the
        // pty would echo our own replies back until the host sets it raw.
        cfmakeraw(&tio);
        ok = tcsetattr(fd, TCSANOW, &tio) == 0 &&
             fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
    }
    if (!ok) {
        fail(error, "pseudo-terminal set-up");
        close(fd);
        return false;
    }
    pty.master = fd;
    pty.slave = name;
    return true;
}

LinkResult point_link(const std::string &link, const std::string &target, std::string &error)
{
    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symlink";
        return LinkResult::NotSymlink;
    }
    // Made aside and renamed over, so the name never points nowhere.
    std::string temp = link + ".vendsim." + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) {
        fail(error, ("symlink " + link).c_str());
        return LinkResult::Failed;
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        fail(error, ("rename to " + link).c_str());
        unlink(temp.c_str());
        return LinkResult::Failed;
    }
    return LinkResult::Made;
}

void remove_link(const std::string &link, const std::string &target)
{
    char buf[4096];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return;
    buf[n] = '\0';
    if (target == buf)
        unlink(link.c_str());
}
