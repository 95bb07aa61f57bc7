// A plain ring, one byte at a time: a store and an index step per byte in,
// an index step per byte looked at or copied out.
#include "byte_ring.h"

#include <cstdint>

namespace {

const unsigned char STX = 0x02;
const unsigned char ETX = 0x03;
const unsigned ring_size = 8192;
const unsigned ring_mask = ring_size - 1;
const int max_length = 249;

unsigned char ring[ring_size];
uint16_t head = 0;
uint16_t tail = 0;

uint16_t next(unsigned at, unsigned n = 1)
{
    return static_cast<uint16_t>((at + n) & ring_mask);
}

unsigned used()
{
    return (head - tail) & ring_mask;
}

bool valid(const unsigned char *packet)
{
    int length = packet[3];
    if (length > max_length || packet[0] != STX || packet[length + 5] != ETX)
        return false;
    unsigned sum = 0;
    for (int i = 1; i < length + 4; ++i)
        sum += packet[i];
    return static_cast<unsigned char>(sum) == packet[length + 4];
}

}  // namespace

int byte_ring_write(const unsigned char *data, int count)
{
    for (int i = 0; i < count; ++i) {
        uint16_t after = next(head);
        if (after == tail)
            return i;  // one slot always stays free
        ring[head] = data[i];
        head = after;
    }
    return count;
}

int byte_ring_take(unsigned char *data, int *type, int *length)
{
    unsigned char candidate[256];
    for (;;) {
        while (tail != head && ring[tail] != STX)
            tail = next(tail);
        unsigned available = used();
        if (available < 6)
            return 0;
        unsigned size = ring[next(tail, 3)] + 6u;
        if (size > 255) {
            tail = next(tail);
            continue;
        }
        if (available < size)
            return 0;
        for (unsigned i = 0; i < size; ++i)
            candidate[i] = ring[next(tail, i)];
        if (!valid(candidate)) {
            tail = next(tail);
            continue;
        }
        for (int i = 0; i < candidate[3]; ++i)
            data[i] = candidate[4 + i];
        *type = candidate[2];
        *length = candidate[3];
        tail = next(tail, size);
        return 1;
    }
}
