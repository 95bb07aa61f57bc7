// What the unit tests share; packets are framed as fuzz.h frames them.
#ifndef VENDTEST_SUPPORT_H
#define VENDTEST_SUPPORT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "fuzz.h"
#include "vendlink/io.h"

using fuzz::framed;

// A fresh folder, the working directory until it is removed.
struct Folder {
    char path[32] = "/tmp/vendunit-XXXXXX";
    Folder() { EXPECT_EQ(chdir(mkdtemp(path)), 0); }
    ~Folder() { EXPECT_EQ(system((std::string("cd / && rm -rf ") + path).c_str()), 0); }
};

// A line with a read timeout of a second that has had `bytes` sent on it: the library works on
// `port`, the test plays the far end.
struct Line {
    int fds[2] = {-1, -1};
    int &port = fds[0];
    int &far = fds[1];
    explicit Line(const std::string &bytes = "")
    {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        EXPECT_EQ(write(far, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        set_timeout(port, 10);
    }
    ~Line()
    {
        close(port);
        close(far);
    }
};

// What `body` writes to descriptor fd (1 or 2).
inline std::string output_of(int fd, const std::function<void()> &body)
{
    fd == 1 ? testing::internal::CaptureStdout() : testing::internal::CaptureStderr();
    body();
    return fd == 1 ? testing::internal::GetCapturedStdout()
                   : testing::internal::GetCapturedStderr();
}

// A caller's buffer of n bytes, with guard bytes behind it that nothing may touch.
struct Guarded : std::string {
    explicit Guarded(size_t n)
        : std::string(n + 16, '\xa5')
    {
    }
    unsigned char *udata() { return reinterpret_cast<unsigned char *>(data()); }
    bool intact() const { return substr(size() - 16) == std::string(16, '\xa5'); }
};

#endif
