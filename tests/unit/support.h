// What the unit tests share: a folder to work in, the far end of a line,
// captured output, a guarded caller's buffer; packets framed as fuzz.h frames them.
#ifndef VENDTEST_SUPPORT_H
#define VENDTEST_SUPPORT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "fuzz.h"  // packets
#include "vendlink/io.h"

namespace unit {

inline std::string read_file(const std::string &path)
{
    return (std::ostringstream() << std::ifstream(path).rdbuf()).str();
}
inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

// A fresh folder, the working directory until it is removed.
struct Folder {
    char path[32] = "/tmp/vendunit-XXXXXX";
    Folder() { EXPECT_EQ(chdir(mkdtemp(path)), 0); }
    ~Folder() { EXPECT_EQ(system((std::string("cd / && rm -rf ") + path).c_str()), 0); }
};

// A line with a read timeout of a second: the library works on `port`, the
// test plays the far end.
struct Line {
    int fds[2] = {-1, -1};
    int &port = fds[0];
    int &far = fds[1];
    Line()
    {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(far, F_SETFL, O_NONBLOCK);
        set_timeout(port, 10);
    }
    ~Line()
    {
        close(port);
        close(far);
    }
    void send(const std::string &bytes)
    {
        EXPECT_EQ(write(far, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string received()
    {
        char buf[4096];
        return std::string(buf,
                           static_cast<size_t>(std::max(read(far, buf, sizeof buf), ssize_t(0))));
    }
};

// What `body` writes to descriptor fd (1 or 2).
inline std::string output_of(int fd, const std::function<void()> &body)
{
    fflush(nullptr);
    FILE *file = tmpfile();
    int saved = dup(fd);
    dup2(fileno(file), fd);
    body();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string text = read_file("/proc/self/fd/" + std::to_string(fileno(file)));
    fclose(file);
    return text;
}

// A caller's buffer of `size` bytes, with guard bytes behind it that
// nothing may touch.
struct Guarded {
    std::string bytes;
    size_t size;
    explicit Guarded(size_t n)
        : bytes(n + 16, '\xa5')
        , size(n)
    {
    }
    char *data() { return bytes.data(); }
    unsigned char *udata() { return reinterpret_cast<unsigned char *>(bytes.data()); }
    bool intact() const { return bytes.substr(size) == std::string(16, '\xa5'); }
};

}  // namespace unit

#endif
