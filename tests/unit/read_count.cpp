#include "read_count.h"

#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> counted_fd{-1};
std::atomic<long> read_calls{0};

}  // namespace

extern "C" ssize_t __real_read(int fd, void *buf, size_t count);

extern "C" ssize_t __wrap_read(int fd, void *buf, size_t count)
{
    if (fd == counted_fd.load())
        ++read_calls;
    return __real_read(fd, buf, count);
}

namespace unit {

void count_reads_on(int fd)
{
    read_calls = 0;
    counted_fd = fd;
}

long reads_counted()
{
    return read_calls.load();
}

}  // namespace unit
