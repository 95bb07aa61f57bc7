/* Test-only stand-ins, preloaded together into the programs under test: lines.c, files.c and
 * clock.c.  Each reaches the function it stands in for through REAL. */
#pragma once
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

static inline int refused(int error)
{
    errno = error;
    return -1;
}
