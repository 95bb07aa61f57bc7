// get_message reading the input from the line, then zero bytes enough to finish any frame the input
// starts, then a last packet.  Every answer stands framed in those bytes, none is of the skipped
// type 0x93, and no call waits out its deadline: the line always holds what it needs.
#include <sys/socket.h>

#include <ctime>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string line = std::string(reinterpret_cast<const char *>(data), size)
        + std::string(261, '\0') + fuzz::framed(0x7f, "last");
    int sv[2];  // the library's end, and the far end that has sent the line and reads nothing
    assert(socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0
           && write(sv[1], line.data(), line.size()) == ssize_t(line.size()));
    set_timeout(sv[0], 0);  // no read waits: a call that still takes long has lost its way
    for (std::string got; got != "\x7flast";) {
        unsigned char out[255];
        uint16_t length = 0;
        const time_t start = time(nullptr);
        const int type = get_message(sv[0], out, &length);
        got = type != 0 ? char(type) + std::string(reinterpret_cast<char *>(out), length) : "";
        assert(
            time(nullptr) - start <= 1
            && (type == 0 || (type != 0x93 && fuzz::stands_in(line, type, got.substr(1), false))));
    }
    return close(sv[0]) + close(sv[1]);
}
