// Packet reception (get_message) from a pipe: the input, as the bytes on the
// line, is written to the pipe and the write end closed; then get_message
// reads packet after packet, as long as the bytes hold a whole answer, and
// each answer must be the one the framing rules give for those bytes.
//
// Keeping an exec to microseconds: get_message keeps reading until it has a
// packet or its 5-second deadline passes, and a pipe whose writer is gone
// answers every read at once with end-of-file.  With set_timeout(fd, 0) a
// read that finds no data returns at once (read_port paces a failed read
// only to the read timeout in force, here 0), so nothing ever sleeps; and
// the bytes are completed so that the deadline is never what ends a call:
// a frame the input leaves unfinished is filled up with zeros, and a valid
// packet follows.  A call that still lasts longer than a second has lost
// bytes, and fails the check.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "fuzz_support.h"
#include "vendlink/io.h"

namespace {

using fuzz::STX;

const uint8_t skipped_type = 0x93;
const size_t largest_data = 255;
const uint8_t trailer[] = {STX, 0x00, 0x01, 0x00, 0x01, 0x03};

// One get_message call as the framing rules read it from `at` on: skip to a
// start byte, take the four header bytes and then the rest of the frame;
// a wrong checksum answers 0, a 0x93 packet is passed over.
struct Answer {
    bool whole = false;    // the bytes hold the whole answer
    size_t missing = 0;    // otherwise: bytes still needed by a started frame
    bool checksum_ok = false;
    int type = 0;
    std::vector<uint8_t> data;
    size_t next = 0;       // where the following call starts
};

Answer expected_answer(const std::vector<uint8_t> &s, size_t at)
{
    Answer a;  // 0x93 packets passed over leave it as it is
    for (;;) {
        while (at < s.size() && s[at] != STX)
            ++at;
        if (at == s.size())
            return a;
        if (s.size() - at < 4) {
            a.missing = 4 - (s.size() - at);
            return a;
        }
        size_t frame = s[at + 3] + 6u;
        if (s.size() - at < frame) {
            a.missing = frame - (s.size() - at);
            return a;
        }
        const uint8_t *f = &s[at];
        at += frame;
        if (fuzz::checksum(f + 1, frame - 3) != f[frame - 2] || f[2] != skipped_type) {
            a.whole = true;
            a.next = at;
            a.checksum_ok = fuzz::checksum(f + 1, frame - 3) == f[frame - 2];
            a.type = a.checksum_ok ? f[2] : 0;
            a.data.assign(f + 4, f + frame - 2);
            return a;
        }
    }
}

double now_s()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > 16384)
        return 0;  // the pipe must take the whole stream without a reader
    std::vector<uint8_t> s(input, input + size);
    Answer first = expected_answer(s, 0);
    if (!first.whole) {
        // A frame the input leaves unfinished is filled up with zeros (with
        // a length byte of 0 when the header itself is cut short).
        s.insert(s.end(), first.missing, 0);
        if (expected_answer(s, 0).missing > 0)
            s.insert(s.end(), expected_answer(s, 0).missing, 0);
        s.insert(s.end(), trailer, trailer + sizeof trailer);
    }

    int p[2];
    FUZZ_CHECK(pipe2(p, O_CLOEXEC) == 0, "pipe");
    FUZZ_CHECK(write(p[1], s.data(), s.size()) == static_cast<ssize_t>(s.size()), "write");
    close(p[1]);
    set_timeout(p[0], 0);

    uint8_t *data = static_cast<uint8_t *>(malloc(largest_data));  // exactly the largest
    size_t at = 0;
    for (;;) {
        Answer want = expected_answer(s, at);
        if (!want.whole)
            break;  // the next call would wait out its deadline
        uint16_t length = 0xffff;
        double start = now_s();
        int type = get_message(p[0], data, &length);
        double took = now_s() - start;
        FUZZ_CHECK(took < 1.0, "get_message took %.1f s with a whole packet waiting", took);
        if (want.checksum_ok) {
            FUZZ_CHECK(type == want.type, "type 0x%02x, expected 0x%02x", type, want.type);
            FUZZ_CHECK(length == want.data.size() &&
                           fuzz::same_bytes(data, want.data.data(), want.data.size()),
                       "data of length %u, expected %zu", length, want.data.size());
        } else {
            FUZZ_CHECK(type == 0, "wrong checksum answered 0x%02x", type);
        }
        at = want.next;
    }
    // Every byte up to the last answer has been read, and none beyond it.
    size_t unread = 0;
    uint8_t rest[4096];
    for (ssize_t n; (n = read(p[0], rest, sizeof rest)) > 0;)
        unread += static_cast<size_t>(n);
    FUZZ_CHECK(unread == s.size() - at, "%zu bytes left unread, expected %zu", unread,
               s.size() - at);
    free(data);
    close(p[0]);
    return 0;
}
