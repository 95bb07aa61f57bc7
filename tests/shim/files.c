/* The files' failures.  With $VENDTEST_FULL naming a folder, writes to its files fail as on a
 * full disk; with $VENDTEST_SLOW_RENAME naming a file, a rename to it takes a second; with
 * $VENDTEST_NO_LOCK_FOLDER set, the lock folder refuses new files. */
#include "shim.h"

#include <stdio.h>

ssize_t write(int fd, const void *buf, size_t n)
{
    const char *full = getenv("VENDTEST_FULL");
    char link[32];
    char path[4096] = "";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (full != NULL && readlink(link, path, sizeof path - 1) > 0
        && strncmp(path, full, strlen(full)) == 0 && path[strlen(full)] == '/')
        return refused(ENOSPC);
    return REAL("write", ssize_t(*)(int, const void *, size_t))(fd, buf, n);
}

int rename(const char *from, const char *to)
{
    if (getenv("VENDTEST_SLOW_RENAME") != NULL
        && strstr(to, getenv("VENDTEST_SLOW_RENAME")) != NULL)
        sleep(1);
    return REAL("rename", int (*)(const char *, const char *))(from, to);
}

/* As a folder writable by root alone refuses other users. */
int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int mode = (flags & O_CREAT) ? va_arg(ap, int) : 0;
    va_end(ap);
    if ((flags & O_CREAT) && getenv("VENDTEST_NO_LOCK_FOLDER") != NULL
        && (strncmp(path, "/run/lock/", 10) == 0 || strncmp(path, "/var/lock/", 10) == 0))
        return refused(EACCES);
    return REAL("open", int (*)(const char *, int, ...))(path, flags, mode);
}
