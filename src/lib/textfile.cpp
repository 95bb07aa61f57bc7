// The new text goes to a temporary file beside the old one, which is given
// the old one's owner, group and mode and renamed over it: a failure at any
// point leaves the old file whole.  Where that cannot keep the owner or
// group (another user's file, when we are not root), cannot be done (a file
// with other hard links, something that is not a regular file, a folder
// where no file can be made, a sticky folder that refuses the rename), the
// file is rewritten in place, which keeps all three.  In place it is first
// grown to the new length, so that a full disk or a quota fails the rewrite
// before a byte of the old text has changed; then it is overwritten and cut.
#include "textfile.h"

#include <cerrno>
#include <climits>
#include <csignal>
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
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool write_at(int fd, off_t at, const char *text, size_t len)
{
    return lseek(fd, at, SEEK_SET) == at && write_all(fd, text, len);
}

// 1: replaced; 0: not done, to be rewritten in place; -1: failed (errno set).
int replace_by_rename(const char *target, const struct stat &st, const char *text, size_t len)
{
    char tmp[PATH_MAX + 16];
    if (snprintf(tmp, sizeof tmp, "%s.XXXXXX", target) >= static_cast<int>(sizeof tmp))
        return 0;
    // A Ctrl-C waits while the temporary file exists, so that none is left.
    sigset_t hold, before;
    sigemptyset(&hold);
    sigaddset(&hold, SIGINT);
    sigprocmask(SIG_BLOCK, &hold, &before);
    int result = 0;
    int fd = mkstemp(tmp);
    if (fd >= 0) {
        bool kept = fchown(fd, st.st_uid, st.st_gid) == 0 && fchmod(fd, st.st_mode & 07777) == 0;
        bool written = kept && write_all(fd, text, len);
        int saved = errno;
        if (close(fd) != 0 && written) {
            written = false;
            saved = errno;
        }
        if (written && rename(tmp, target) == 0)
            result = 1;
        else if (kept && !written)
            result = -1;  // else the owner cannot be kept, or the rename is refused: in place
        if (result != 1)
            unlink(tmp);
        errno = saved;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return result;
}

bool rewrite_in_place(int fd, const char *text, size_t len)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode))  // a device or a pipe takes the text as it comes
        return write_all(fd, text, len);
    size_t old = static_cast<size_t>(st.st_size);
    if (len > old && !write_at(fd, static_cast<off_t>(old), text + old, len - old)) {
        int saved = errno;
        int ignored
            = ftruncate(fd, st.st_size);  // back to the old length: the old text is untouched
        (void)ignored;
        errno = saved;
        return false;
    }
    return write_at(fd, 0, text, len < old ? len : old)
        && ftruncate(fd, static_cast<off_t>(len)) == 0;
}

}  // namespace

int replace_file_text(const char *path, const char *text, size_t len, int access)
{
    struct stat st;
    bool made = stat(path, &st) != 0;
    int fd = open(path, access | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return TEXTFILE_CANNOT_OPEN;

    char target[PATH_MAX];
    bool whole = realpath(path, target) != nullptr;
    int r = 0;
    if (!made && whole && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1)
        r = replace_by_rename(target, st, text, len);
    if (r == 0)
        r = rewrite_in_place(fd, text, len) ? 1 : -1;
    int saved = errno;
    if (close(fd) != 0 && r == 1) {
        r = -1;
        saved = errno;
    }
    if (r < 0 && made && whole)
        unlink(target);  // a file this call made is gone again
    errno = saved;
    return r == 1 ? 0 : TEXTFILE_NOT_WRITTEN;
}

void report_not_written(FILE *to, const char *path)
{
    fprintf(to, "Could not write %s (%s); it is left as it was.\n", path, strerror(errno));
}
