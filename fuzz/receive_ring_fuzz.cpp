// The receive ring (write_buffer, is_msg_in_buffer) under any chunking: the
// input decides where in the ring the run starts, how the bytes arrive, and
// when packets are taken out.  Beside the ring runs a plain model of what it
// holds; every answer must match the model, and every packet returned must
// stand, whole and with a valid checksum, in the bytes that were written.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "vendlink/io.h"

namespace {

using fuzz::STX;
using fuzz::ETX;

const size_t ring_size = 8192;
const size_t ring_capacity = ring_size - 1;  // one slot always stays free
const int max_data = 249;                    // longest data a ring packet carries
const size_t longest_frame = 255;

// Bytes the ring has taken since the process started: its write position,
// modulo its size.  The ring keeps its state from one input to the next, so
// each input begins by bringing it back to a known one.
unsigned long long stored_total = 0;

struct Packet {
    int type = -1;
    std::vector<uint8_t> data;
};

// What the ring holds, by the framing rules: bytes before a start byte are
// dropped; a start byte whose frame is too long, or whose frame is whole but
// not valid, is dropped alone; an incomplete frame waits.
class Model {
public:
    size_t write(const uint8_t *p, int count)
    {
        if (count <= 0)
            return 0;
        size_t n = std::min(static_cast<size_t>(count), ring_capacity - held());
        bytes_.insert(bytes_.end(), p, p + n);
        return n;
    }

    bool take(Packet *out)
    {
        for (;;) {
            const void *start =
                held() == 0 ? nullptr : memchr(bytes_.data() + head_, STX, held());
            head_ = start == nullptr ? bytes_.size() : static_cast<size_t>(static_cast<const uint8_t *>(start) - bytes_.data());
            if (held() < 6)
                return false;
            const uint8_t *f = &bytes_[head_];
            size_t frame = f[3] + 6u;
            if (frame > longest_frame) {
                ++head_;
                continue;
            }
            if (held() < frame)
                return false;
            if (!valid(f)) {
                ++head_;
                continue;
            }
            out->type = f[2];
            out->data.assign(f + 4, f + frame - 2);
            head_ += frame;
            return true;
        }
    }

    // Keeps the buffer: the model and the stream live for the whole run, so
    // that an exec does not pay for big allocations.
    void clear()
    {
        bytes_.clear();
        head_ = 0;
    }

private:
    size_t held() const { return bytes_.size() - head_; }

    static bool valid(const uint8_t *f)
    {
        size_t n = f[3];
        return n <= static_cast<size_t>(max_data) && f[n + 5] == ETX &&
               fuzz::checksum(f + 1, n + 3) == f[n + 4];
    }

    std::vector<uint8_t> bytes_;  // from head_ on: what the ring holds
    size_t head_ = 0;
};

// Every byte written since the start of this input, in order, and how far
// the packets taken out have reached into it.
struct Stream {
    std::vector<uint8_t> bytes;
    size_t consumed = 0;
};

// The packet must appear, framed and valid, in the bytes not yet consumed;
// those up to its end are consumed by it.
void check_not_invented(Stream *s, const Packet &p)
{
    const size_t n = p.data.size();
    for (size_t at = s->consumed; at + n + 6 <= s->bytes.size(); ++at) {
        const uint8_t *f = &s->bytes[at];
        if (f[0] == STX && f[2] == p.type && f[3] == n && fuzz::same_bytes(f + 4, p.data.data(), n) &&
            f[n + 5] == ETX && fuzz::checksum(f + 1, n + 3) == f[n + 4]) {
            s->consumed = at + n + 6;
            return;
        }
    }
    FUZZ_CHECK(false, "packet type 0x%02x length %zu is not in the bytes written", p.type, n);
}

void store(Model *model, Stream *s, const uint8_t *p, int count)
{
    int got = write_buffer(p, count);
    size_t want = model->write(p, count);
    FUZZ_CHECK(got == static_cast<int>(want), "write_buffer(%d) stored %d, room for %zu", count,
               got, want);
    stored_total += static_cast<unsigned>(got);
    if (got > 0)
        s->bytes.insert(s->bytes.end(), p, p + got);
}

bool take(Model *model, Stream *s)
{
    // Exactly the longest data: a packet said to be longer would overflow it.
    uint8_t *data = static_cast<uint8_t *>(malloc(max_data));
    int type = -7, length = -7;
    int found = is_msg_in_buffer(data, &type, &length);
    Packet want;
    bool expected = model->take(&want);
    FUZZ_CHECK(found == (expected ? 1 : 0), "is_msg_in_buffer gave %d", found);
    if (found) {
        FUZZ_CHECK(length >= 0 && length <= max_data, "length %d", length);
        FUZZ_CHECK(type == want.type && static_cast<size_t>(length) == want.data.size() &&
                       fuzz::same_bytes(data, want.data.data(), want.data.size()),
                   "got type 0x%02x length %d, expected type 0x%02x length %zu", type, length,
                   want.type, want.data.size());
        Packet got;
        got.type = type;
        got.data.assign(data, data + length);
        check_not_invented(s, got);
    } else {
        FUZZ_CHECK(type == -7 && length == -7, "outputs written without a packet");
    }
    free(data);
    return found == 1;
}

// Empties the ring and moves its position to `position`, with the library's
// own calls.  Whatever an earlier input left is at most an incomplete frame
// (under 255 bytes, from a start byte on): 255 bytes that hold no start
// byte complete every candidate in it, after which nothing is kept.
void reset_ring(unsigned position)
{
    static const uint8_t filler[ring_capacity] = {0};
    uint8_t data[256];
    int type, length;
    while (is_msg_in_buffer(data, &type, &length) == 1) {
    }
    int got = write_buffer(filler, longest_frame);
    FUZZ_CHECK(got == static_cast<int>(longest_frame), "no room to flush the ring");
    stored_total += static_cast<unsigned>(got);
    while (is_msg_in_buffer(data, &type, &length) == 1) {
    }
    unsigned at = static_cast<unsigned>(stored_total % ring_size);
    unsigned move = (position + ring_size - at) % ring_size;
    if (move > 0) {
        got = write_buffer(filler, static_cast<int>(move));
        FUZZ_CHECK(got == static_cast<int>(move), "no room to move the ring");
        stored_total += move;
        FUZZ_CHECK(is_msg_in_buffer(data, &type, &length) == 0, "filler read as a packet");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    set_stderr(fopen("/dev/null", "w"));  // "Buffer full" is expected here
    return 0;
}

// The plan: two bytes give the ring's starting position; then each byte is
// an operation:
//   0x00-0xBF  write the next (b + 1) bytes of the input
//   0xC0-0xDF  take out up to (b - 0xBF) packets
//   0xE0-0xFD  write (b - 0xDF) * 512 + next byte copies of the byte after
//   0xFE       write with a count of 0, then of -1
//   0xFF       take out everything
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    fuzz::Input in(input, size);
    reset_ring(in.u16() % ring_size);
    static Model model;
    static Stream stream;
    static std::vector<uint8_t> bulk;
    model.clear();
    stream.bytes.clear();
    stream.consumed = 0;
    while (in.left() > 0) {
        uint8_t op = in.byte();
        if (op <= 0xBF) {
            const uint8_t *p;
            size_t n = in.take(op + 1u, &p);
            store(&model, &stream, p, static_cast<int>(n));
        } else if (op <= 0xDF) {
            for (int i = op - 0xBF; i > 0 && take(&model, &stream); --i) {
            }
        } else if (op <= 0xFD) {
            size_t n = (op - 0xDFu) * 512u + in.byte();
            bulk.assign(n, in.byte());
            store(&model, &stream, bulk.data(), static_cast<int>(n));
        } else if (op == 0xFE) {
            uint8_t b = 0;
            store(&model, &stream, &b, 0);
            store(&model, &stream, &b, -1);
        } else {
            while (take(&model, &stream)) {
            }
        }
    }
    while (take(&model, &stream)) {
    }
    return 0;
}
