#include "pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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
    bool ok = grantpt(fd) == 0 && unlockpt(fd) == 0 && ptsname_r(fd, name, sizeof name) == 0
        && tcgetattr(fd, &tio) == 0;
    if (ok) {
        // A serial line neither echoes nor rewrites bytes; without this the
        // pty would echo our own replies back until the host sets it raw.
        cfmakeraw(&tio);
        ok = tcsetattr(fd, TCSANOW, &tio) == 0
            && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
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

namespace {
const std::pair<speed_t, unsigned long> kSpeeds[]
    = {{B300, 300},   {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},
       {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
}  // namespace

speed_t speed_code(unsigned long baud)
{
    for (auto [code, rate] : kSpeeds)
        if (rate == baud)
            return code;
    return 0;
}

unsigned long baud_of(speed_t code)
{
    for (auto [c, rate] : kSpeeds)
        if (c == code)
            return rate;
    return 0;
}

int open_port(const std::string &path, unsigned long baud, DeviceParity parity, std::string &error)
{
    // Not waiting for carrier: the host at the other end may not be there yet.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail(error, path.c_str());
        return -1;
    }
    // A modem answers whatever the host's flow control does, and a null-modem
    // cable may not carry RTS and CTS at all.
    termios tio;
    bool ok = tcgetattr(fd, &tio) == 0;
    if (ok) {
        tio.c_cflag &= ~(CSTOPB | CRTSCTS);
        tio = device_settings(tio, parity == DeviceParity::FromHost ? DeviceParity::Odd : parity);
        ok = cfsetspeed(&tio, speed_code(baud)) == 0 && tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    if (!ok) {
        fail(error, (path + ": serial line set-up").c_str());
        close(fd);
        return -1;
    }
    return fd;
}

termios device_settings(const termios &like, DeviceParity parity)
{
    termios t = like;
    cfmakeraw(&t);
    t.c_cflag = (like.c_cflag & (CBAUD | CSTOPB | CRTSCTS)) | CS8 | CREAD | CLOCAL;
    if (parity == DeviceParity::FromHost)
        parity = (like.c_cflag & PARODD) ? DeviceParity::Odd : DeviceParity::Even;
    if (parity != DeviceParity::None)
        t.c_cflag |= PARENB | (parity == DeviceParity::Odd ? PARODD : 0);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

std::string line_text(const termios &device)
{
    tcflag_t c = device.c_cflag;
    char parity = !(c & PARENB) ? 'N' : (c & PARODD) ? 'O' : 'E';
    char text[64];
    snprintf(text, sizeof text, "%lu 8%c%d, RTS/CTS %s", baud_of(cfgetospeed(&device)), parity,
             (c & CSTOPB) ? 2 : 1, (c & CRTSCTS) ? "on" : "off");
    return text;
}
