// The receive ring fed and emptied as the input plans it: a byte below 0x80 writes that many of the
// bytes after it, any other takes packets out. Every packet given back was written, whole, with at
// most 249 data bytes in a buffer of exactly 249.
#include <algorithm>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string quiet = fuzz::quiet_file("-");  // "Buffer full" goes nowhere
    static std::string stored;  // the ring lives as long as the process, with 8191 bytes at most
    for (size_t at = 0, n; at < size; at += n + 1) {
        n = data[at] < 0x80 ? std::min<size_t>(data[at], size - at - 1) : 0;
        const int took = write_buffer(data + at + 1, static_cast<int>(n));
        assert(took >= 0 && size_t(took) <= n);
        stored.append(reinterpret_cast<const char *>(data) + at + 1, static_cast<size_t>(took));
        unsigned char out[249];
        for (int type, length; data[at] >= 0x80 && is_msg_in_buffer(out, &type, &length) == 1;)
            assert(length >= 0 && length <= 249
                   && fuzz::stands_in(stored, type,
                                      std::string(reinterpret_cast<char *>(out), length), true));
    }
    stored.erase(0, stored.size() > 32768 ? stored.size() - 16384 : 0);
    return 0;
}
