// The new text is written to a temporary file beside the target and renamed
// over it, so a full disk or a failed write leaves the old file whole.
// Where that cannot be done (a read-only folder, a file with other hard
// links, something that is not a regular file) the file is rewritten in
// place with one write, which for these small files cannot stop half-way
// short of a full disk.
#include "textfile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

int rewrite_in_place(int fd, const char *text, size_t len)
{
    if (lseek(fd, 0, SEEK_SET) == static_cast<off_t>(-1) && errno != ESPIPE)
        return -1;
    if (!write_all(fd, text, len))
        return -1;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, static_cast<off_t>(len)) != 0)
        return -1;
    return 0;
}

// 1: replaced; 0: no temporary file could be made, try in place; -1: failed.
int replace_by_rename(const char *target, const struct stat &st, const char *text, size_t len)
{
    char tmp[PATH_MAX + 16];
    if (snprintf(tmp, sizeof tmp, "%s.XXXXXX", target) >= static_cast<int>(sizeof tmp))
        return 0;
    int fd = mkstemp(tmp);
    if (fd < 0)
        return 0;
    bool ok = write_all(fd, text, len) && fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && (st.st_uid != geteuid() || st.st_gid != getegid())) {
        int ignored = fchown(fd, st.st_uid, st.st_gid);  // keeps the owner where we may
        (void)ignored;
    }
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(tmp, target) == 0)
        return 1;
    saved = ok ? errno : saved;
    unlink(tmp);
    errno = saved;
    return -1;
}

}  // namespace

int replace_file_text(const char *path, const char *text, size_t len, int access)
{
    int fd = open(path, access | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;

    int result = 0;
    struct stat st;
    char target[PATH_MAX];
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
        realpath(path, target) != nullptr) {
        int r = replace_by_rename(target, st, text, len);
        if (r == 0)
            result = rewrite_in_place(fd, text, len);
        else
            result = r > 0 ? 0 : -1;
    } else {
        result = rewrite_in_place(fd, text, len);
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return result;
}
