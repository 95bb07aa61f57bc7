// The identification record, through get_receiver_type: a socket pair plays
// the receiver, which answers the 0x06 query with the input as its 0x07
// record (up to 255 bytes, the most a packet carries).  The record's fields
// must come out as the layout "%8c%8c%5ld%5ld%5ld%*10c%2ld%2ld" reads them,
// field by field with the C library's own conversions, stopping at the first
// field the record does not hold and never reading past its end.
//
// The answer is waiting, whole and valid, before the query is sent, so the
// first attempt succeeds and an exec takes microseconds; set_timeout(fd, 0)
// keeps any read that finds nothing from waiting.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "vendlink/io.h"

namespace {

using fuzz::STX;
using fuzz::ETX;

struct Fields {
    char text1[9] = {0};
    char text2[9] = {0};
    long n[5] = {0, 0, 0, 0, 0};
};

// Reads the record the reference way: the C library's %Nc and %Nld, one
// field at a time.  A %Nc needs all N characters (a shorter rest is a field
// the record does not hold).
class Reference {
public:
    explicit Reference(const char *text) : p_(text) {}

    bool chars(int n, char *dest)
    {
        if (!ok_ || strnlen(p_, static_cast<size_t>(n)) < static_cast<size_t>(n))
            return ok_ = false;
        if (dest != nullptr)
            memcpy(dest, p_, static_cast<size_t>(n));
        p_ += n;
        return true;
    }

    bool number(int width, long *dest)
    {
        char format[16];
        snprintf(format, sizeof format, "%%%dld%%n", width);
        long v = 0;
        int used = 0;
        if (!ok_ || sscanf(p_, format, &v, &used) != 1)
            return ok_ = false;
        *dest = v;
        p_ += used;
        return true;
    }

private:
    const char *p_;
    bool ok_ = true;
};

Fields reference_fields(const char *text)
{
    Fields f;
    Reference r(text);
    r.chars(8, f.text1);
    r.chars(8, f.text2);
    r.number(5, &f.n[0]);
    r.number(5, &f.n[1]);
    r.number(5, &f.n[2]);
    r.chars(10, nullptr);
    r.number(2, &f.n[3]);
    r.number(2, &f.n[4]);
    return f;
}

std::vector<uint8_t> frame(uint8_t type, const uint8_t *data, size_t n)
{
    std::vector<uint8_t> f = {STX, 0x00, type, static_cast<uint8_t>(n)};
    f.insert(f.end(), data, data + n);
    f.push_back(fuzz::checksum(&f[1], n + 3));
    f.push_back(ETX);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > 255)
        size = 255;
    int sv[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair");
    std::vector<uint8_t> reply = frame(0x07, input, size);
    FUZZ_CHECK(write(sv[1], reply.data(), reply.size()) == static_cast<ssize_t>(reply.size()),
               "write");
    shutdown(sv[1], SHUT_WR);
    set_timeout(sv[0], 0);

    // Exactly the 9 bytes the interface asks for.
    char *text1 = static_cast<char *>(malloc(9));
    char *text2 = static_cast<char *>(malloc(9));
    double n1 = -1, n2 = -1, n3 = -1;
    long c1 = -1, c2 = -1;
    int rc = get_receiver_type(sv[0], text1, text2, &n1, &n2, &n3, &c1, &c2);
    FUZZ_CHECK(rc == RC_OK, "a valid record was refused: %d", rc);

    // The query went out once, as a framed 0x06 packet without data.
    uint8_t query[64];
    ssize_t q = read(sv[1], query, sizeof query);
    const uint8_t want_query[] = {STX, 0x00, 0x06, 0x00, 0x06, ETX};
    FUZZ_CHECK(q == sizeof want_query && memcmp(query, want_query, sizeof want_query) == 0,
               "query of %zd bytes", q);

    // The record as text: up to its first NUL byte.
    char text[256] = {0};
    if (size > 0)
        memcpy(text, input, size);
    Fields f = reference_fields(text);
    FUZZ_CHECK(memcmp(text1, f.text1, 9) == 0 && memcmp(text2, f.text2, 9) == 0,
               "texts \"%s\" \"%s\", expected \"%s\" \"%s\"", text1, text2, f.text1, f.text2);
    FUZZ_CHECK(n1 == f.n[0] * 0.01 && n2 == f.n[1] * 0.01 && n3 == f.n[2] * 0.01,
               "versions %g %g %g from %ld %ld %ld", n1, n2, n3, f.n[0], f.n[1], f.n[2]);
    long count2 = f.n[3] - f.n[4];
    if (count2 == 0 && f.n[3] > 12)
        count2 = f.n[3];
    FUZZ_CHECK(c1 == f.n[4] && c2 == count2, "counts %ld %ld from %ld %ld", c1, c2, f.n[3],
               f.n[4]);

    free(text1);
    free(text2);
    close(sv[0]);
    close(sv[1]);
    return 0;
}
