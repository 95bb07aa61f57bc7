// Linux: flock(2) on the line, who holds one (from /proc/locks, so that the
// line is never opened to find out), and a process's name (/proc/PID/comm).
#include <cstdio>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/platform.h"

void platform_flock_line(int fd)
{
    // Held by another program, the line is still used: lock_device and the
    // driver have refused it already, unless the user forced the run.
    flock(fd, LOCK_EX | LOCK_NB);
}

int platform_flock_holder(const char *path)
{
    struct stat st;
    FILE *fp = stat(path, &st) == 0 ? fopen("/proc/locks", "re") : nullptr;
    if (fp == nullptr)
        return 0;
    int holder = 0;
    char line[256];
    while (holder == 0 && fgets(line, sizeof line, fp) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF", the device numbers in
        // hexadecimal; a waiter's line has "->" where the type stands.
        char type[16];
        int pid = 0;
        unsigned int maj = 0;
        unsigned int min = 0;
        unsigned long ino = 0;
        if (sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", type, &pid, &maj, &min, &ino) == 5
            && strcmp(type, "FLOCK") == 0 && maj == major(st.st_dev) && min == minor(st.st_dev)
            && ino == st.st_ino && pid != getpid())
            holder = pid;
    }
    fclose(fp);
    return holder;
}

bool platform_program_name(int pid, char *name, size_t size)
{
    char path[32];
    snprintf(path, sizeof path, "/proc/%d/comm", pid);
    FILE *fp = fopen(path, "re");
    if (fp == nullptr)
        return false;
    bool found = fgets(name, static_cast<int>(size), fp) != nullptr;
    fclose(fp);
    if (found)
        name[strcspn(name, "\n")] = '\0';
    return found && name[0] != '\0';
}
