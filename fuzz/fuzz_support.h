// What the fuzz targets share: a check that stops the run with a message
// (libFuzzer and the replay driver then keep the input that broke it), and
// a reader that turns the input into decisions.
#ifndef VENDLINK_FUZZ_SUPPORT_H
#define VENDLINK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(cond, ...)                                                     \
    do {                                                                          \
        if (!(cond)) {                                                            \
            fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #cond); \
            fprintf(stderr, __VA_ARGS__);                                         \
            fputc('\n', stderr);                                                  \
            abort();                                                              \
        }                                                                         \
    } while (0)

namespace fuzz {

// Reads the input front to back; past its end every byte reads as 0, so a
// short input is still a complete, if dull, plan.
class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), left_(size) {}

    size_t left() const { return left_; }

    uint8_t byte()
    {
        if (left_ == 0)
            return 0;
        --left_;
        return *p_++;
    }

    unsigned u16()
    {
        unsigned hi = byte();
        return hi << 8 | byte();
    }

    // Up to n bytes; *out points at them.  Returns how many there were.
    size_t take(size_t n, const uint8_t **out)
    {
        if (n > left_)
            n = left_;
        *out = p_;
        p_ += n;
        left_ -= n;
        return n;
    }

private:
    const uint8_t *p_;
    size_t left_;
};

// Receiver packet framing: 0x02, status, type, length N, N data bytes,
// checksum (status + type + length + data), 0x03.
const uint8_t STX = 0x02;
const uint8_t ETX = 0x03;

// memcmp, but also for no bytes at all (an empty vector's data() is null,
// which memcmp may not be given).
inline bool same_bytes(const uint8_t *a, const uint8_t *b, size_t n)
{
    return n == 0 || memcmp(a, b, n) == 0;
}

inline uint8_t checksum(const uint8_t *bytes, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

}  // namespace fuzz

#endif
