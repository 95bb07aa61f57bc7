// Receiver packets (io module): framing and sending, reading one packet from
// the port against a deadline, the receive ring, and the conversions of the
// values inside packets.
#include "vendlink/io.h"

#include <cstring>
#include <ctime>

#include "io_internal.h"
#include "packet_internal.h"

namespace {

const unsigned char STX = 0x02;
const unsigned char ETX = 0x03;
const int skipped_type = 0x93;
const int work_buffer_size = 300;
const int ring_max_length = 249;  // longest data a ring packet may carry
const double reply_deadline_s = 5.0;

const unsigned ring_size = 8192;
const unsigned ring_mask = ring_size - 1;

unsigned char ring_buf[ring_size];
unsigned ring_head = 0;  // where the next stored byte goes
unsigned ring_tail = 0;  // the oldest unread byte

unsigned ring_used()
{
    return (ring_head - ring_tail) & ring_mask;
}

unsigned ring_free()
{
    return ring_size - 1 - ring_used();  // one slot always stays free
}

void ring_advance_tail(unsigned n)
{
    ring_tail = (ring_tail + n) & ring_mask;
}

// Copies n bytes from ring position `from` on: the piece up to the ring's
// end, then the rest from its start.
void copy_from_ring(unsigned from, unsigned char *dest, unsigned n)
{
    unsigned first = ring_size - from < n ? ring_size - from : n;
    memcpy(dest, ring_buf + from, first);
    memcpy(dest + first, ring_buf, n - first);
}

void copy_into_ring(const unsigned char *src, unsigned n)
{
    unsigned first = ring_size - ring_head < n ? ring_size - ring_head : n;
    memcpy(ring_buf + ring_head, src, first);
    memcpy(ring_buf, src + first, n - first);
    ring_head = (ring_head + n) & ring_mask;
}

// Drops the bytes ahead of the next start byte; false when none is stored.
bool skip_to_start_byte()
{
    while (ring_tail != ring_head) {
        unsigned end = ring_head > ring_tail ? ring_head : ring_size;
        const void *hit = memchr(ring_buf + ring_tail, STX, end - ring_tail);
        if (hit != nullptr) {
            ring_tail = static_cast<unsigned>(static_cast<const unsigned char *>(hit) - ring_buf);
            return true;
        }
        ring_tail = end & ring_mask;
    }
    return false;
}

unsigned char sum_of(const unsigned char *bytes, int n)
{
    unsigned sum = 0;
    for (int i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<unsigned char>(sum);
}

class Deadline {
public:
    Deadline()
        : at_(time(nullptr) + static_cast<time_t>(reply_deadline_s * io_timeout_scale()))
    {
    }
    bool passed() const { return difftime(at_, time(nullptr)) < 0; }

private:
    time_t at_;
};

// One packet as it stands on the line, or false at the deadline.
bool read_packet(int fd, unsigned char *buf, int *count_out)
{
    Deadline deadline;
    // After a read that got n bytes: whether the deadline, or a line gone away, ends the reading.
    auto over = [&](int n) { return deadline.passed() || (n < 0 && io_line_gone(fd)); };
    for (;;) {
        int n = read_port(fd, buf, 1);
        if (n == 1 && buf[0] == STX)
            break;
        if (over(n))
            return false;
    }
    int count = 1;
    while (count < 4) {
        int n = read_port(fd, buf + count, 4 - count);
        if (n > 0)
            count += n;
        if (over(n))
            return false;
    }
    int size = buf[3] + 6;
    for (;;) {
        int n = read_port(fd, buf + count, size - count);
        if (n > 0)
            count += n;
        if (count == size)
            break;
        if (over(n))
            return false;
    }
    *count_out = count;
    return true;
}

}  // namespace

int check_packet(const unsigned char *packet)
{
    int length = packet[3];
    if (length > ring_max_length)
        return 1;
    if (packet[length + 5] != ETX || packet[0] != STX)
        return 3;
    if (sum_of(packet + 1, length + 3) != packet[length + 4])
        return 2;
    return 0;
}

extern "C" {

void send_msg(int fd, int type, const unsigned char *data, int length)
{
    unsigned char buf[work_buffer_size];
    int n = length & 0xff;
    buf[0] = STX;
    buf[1] = 0x00;
    buf[2] = static_cast<unsigned char>(type);
    buf[3] = static_cast<unsigned char>(n);
    if (n > 0)
        memcpy(buf + 4, data, static_cast<size_t>(n));
    buf[4 + n] = sum_of(buf + 1, n + 3);
    buf[5 + n] = ETX;
    write_port(fd, buf, n + 6);
}

int get_message(int fd, unsigned char *data, uint16_t *length)
{
    unsigned char buf[work_buffer_size];
    for (;;) {
        int count = 0;
        if (!read_packet(fd, buf, &count))
            return 0;
        if (sum_of(buf + 1, count - 3) != buf[count - 2])
            return 0;
        *length = static_cast<uint16_t>(count - 6);
        memcpy(data, buf + 4, static_cast<size_t>(count - 6));
        if (buf[2] != skipped_type)
            return buf[2];
    }
}

int write_buffer(const unsigned char *data, int count)
{
    if (count <= 0)
        return 0;
    unsigned room = ring_free();
    unsigned n = static_cast<unsigned>(count) < room ? static_cast<unsigned>(count) : room;
    copy_into_ring(data, n);
    if (n < static_cast<unsigned>(count)) {
        fprintf(get_stderr(), "\nBuffer full\n");
        return static_cast<int>(n);
    }
    return count;
}

int is_msg_in_buffer(unsigned char *data, int *type, int *length)
{
    unsigned char candidate[work_buffer_size];
    while (skip_to_start_byte()) {
        unsigned available = ring_used();
        if (available < 6)
            return 0;
        unsigned size = ring_buf[(ring_tail + 3) & ring_mask] + 6u;
        if (size > 255) {
            ring_advance_tail(1);
            continue;
        }
        if (available < size)
            return 0;
        copy_from_ring(ring_tail, candidate, size);
        if (check_packet(candidate) != 0) {
            ring_advance_tail(1);
            continue;
        }
        memcpy(data, candidate + 4, candidate[3]);
        *type = candidate[2];
        *length = candidate[3];
        ring_advance_tail(size);
        return 1;
    }
    return 0;
}

uint32_t buf2UL(const unsigned char *bytes)
{
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16)
        | (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

double buf2double(const unsigned char *bytes)
{
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | bytes[i];
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void double2buf(unsigned char *dest, double value)
{
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    for (int i = 7; i >= 0; --i) {
        dest[i] = static_cast<unsigned char>(bits & 0xff);
        bits >>= 8;
    }
}

time_t y2k_mktime(struct tm *tm)
{
    if (tm->tm_year < 80)
        tm->tm_year += 100;
    time_t t = mktime(tm);
    if (tm->tm_year >= 100)
        tm->tm_year -= 100;
    return t;
}

}  // extern "C"
