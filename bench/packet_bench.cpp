// Benchmarks of the receiver packets: framing (send_msg), reading a packet
// that is already waiting (get_message), the receive ring (write_buffer and
// is_msg_in_buffer) beside a byte-at-a-time ring, and the conversions.
//
// Packet sizes are whole packets on the line: 20 bytes (14 data bytes) and
// 255 bytes (249, the most a ring packet may carry).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "byte_ring.h"
#include "vendlink/io.h"
#include "waiting_packets.h"

namespace {

using Clock = std::chrono::steady_clock;

const int packet_type = 0x82;
const int ring_capacity = 8191;  // 8192 bytes, one slot always free

double seconds_between(Clock::time_point start, Clock::time_point stop)
{
    return std::chrono::duration<double>(stop - start).count();
}

void count_packets(benchmark::State &state, long long packets, int size)
{
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(packets * size);
}

// read(2) calls made by this process so far (-1 where the kernel keeps no
// count); the look itself is one read.
long long read_calls()
{
    int fd = open("/proc/self/io", O_RDONLY);
    if (fd < 0)
        return -1;
    char text[1024];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    const char *field = strstr(text, "syscr:");
    return field != nullptr ? atoll(field + 6) : -1;
}

long long read_count_overhead()
{
    long long first = read_calls();
    return read_calls() - first;
}

// send_msg into /dev/null: the real path of a write to a port (a poll for
// room, then write), with a sink that costs nothing and never fills, so the
// figure is the framing plus those two system calls and nothing of a reader.
void BM_send_msg(benchmark::State &state)
{
    int size = static_cast<int>(state.range(0));
    unsigned char data[256];
    for (int i = 0; i < size - 6; ++i)
        data[i] = static_cast<unsigned char>(i);
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    for (auto _ : state)
        send_msg(fd, packet_type, data, size - 6);
    close(fd);
    count_packets(state, state.iterations(), size);
}

// get_message on a packet already waiting.  Packets go onto the line in
// batches between timed calls; each call is timed on its own.
void get_message_waiting(benchmark::State &state, LineKind kind)
{
    int size = static_cast<int>(state.range(0));
    PacketLine line(kind, size, packet_type);
    if (!line.ok()) {
        state.SkipWithError("cannot open the line");
        return;
    }
    set_timeout(line.reader(), 10);
    unsigned char data[256];
    uint16_t length = 0;
    int waiting = 0;
    long long overhead = read_count_overhead();
    long long reads_before = read_calls();
    for (auto _ : state) {
        if (waiting == 0 && (waiting = line.refill()) == 0) {
            state.SkipWithError("cannot refill the line");
            return;
        }
        Clock::time_point start = Clock::now();
        int type = get_message(line.reader(), data, &length);
        state.SetIterationTime(seconds_between(start, Clock::now()));
        if (type != packet_type || length != size - 6) {
            state.SkipWithError("wrong packet");
            return;
        }
        --waiting;
    }
    long long reads = read_calls() - reads_before - overhead;
    if (reads_before >= 0 && state.iterations() > 0)
        state.counters["reads_per_packet"] = static_cast<double>(reads) / state.iterations();
    count_packets(state, state.iterations(), size);
}

void BM_get_message_pipe(benchmark::State &state)
{
    get_message_waiting(state, LineKind::pipe);
}

void BM_get_message_pty(benchmark::State &state)
{
    get_message_waiting(state, LineKind::pty);
}

// The rings.  Each iteration fills the ring with as many whole packets as it
// holds and takes them all out again, so it stays in steady state and the
// wrap moves on by a few bytes every round (8192 is no multiple of 20 or
// 255).  Only the half being measured is timed.
using WriteFn = int (*)(const unsigned char *, int);
using TakeFn = int (*)(unsigned char *, int *, int *);

struct RingRound {
    unsigned char packet[256];
    unsigned char data[256];
    int size;
    int per_round;
};

RingRound ring_round(const benchmark::State &state)
{
    RingRound r;
    r.size = static_cast<int>(state.range(0));
    r.per_round = ring_capacity / r.size;
    frame_packet(r.packet, packet_type, r.size);
    return r;
}

bool fill(WriteFn write, RingRound &r)
{
    int stored = 0;
    for (int i = 0; i < r.per_round; ++i)
        stored += write(r.packet, r.size);
    return stored == r.per_round * r.size;
}

bool empty(TakeFn take, RingRound &r)
{
    int found = 0;
    int type;
    int length;
    for (int i = 0; i < r.per_round; ++i)
        found += take(r.data, &type, &length);
    return found == r.per_round && type == packet_type && length == r.size - 6;
}

template <WriteFn write, TakeFn take> void BM_ring_ingest(benchmark::State &state)
{
    RingRound r = ring_round(state);
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        bool stored = fill(write, r);
        state.SetIterationTime(seconds_between(start, Clock::now()));
        if (!stored || !empty(take, r)) {
            state.SkipWithError("ring lost a packet");
            return;
        }
    }
    count_packets(state, state.iterations() * r.per_round, r.size);
}

template <WriteFn write, TakeFn take> void BM_ring_take(benchmark::State &state)
{
    RingRound r = ring_round(state);
    for (auto _ : state) {
        bool stored = fill(write, r);
        Clock::time_point start = Clock::now();
        bool found = empty(take, r);
        state.SetIterationTime(seconds_between(start, Clock::now()));
        if (!stored || !found) {
            state.SkipWithError("ring lost a packet");
            return;
        }
    }
    count_packets(state, state.iterations() * r.per_round, r.size);
}

// One packet in, one packet out: the ring as a reader loop uses it.
template <WriteFn write, TakeFn take> void BM_ring_round_trip(benchmark::State &state)
{
    RingRound r = ring_round(state);
    int type;
    int length;
    for (auto _ : state) {
        if (write(r.packet, r.size) != r.size || take(r.data, &type, &length) != 1) {
            state.SkipWithError("ring lost a packet");
            return;
        }
    }
    count_packets(state, state.iterations(), r.size);
}

// 64 eight-byte values, stepped through so that no call sees a constant.
struct Values {
    unsigned char bytes[64 * 8];
    Values()
    {
        for (int i = 0; i < 64; ++i)
            double2buf(bytes + i * 8, 1.0 + i * 0.37);
    }
};

void BM_buf2UL(benchmark::State &state)
{
    Values v;
    unsigned i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(buf2UL(v.bytes + (i++ & 63) * 8));
    count_packets(state, state.iterations(), 4);
}

void BM_buf2double(benchmark::State &state)
{
    Values v;
    unsigned i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(buf2double(v.bytes + (i++ & 63) * 8));
    count_packets(state, state.iterations(), 8);
}

}  // namespace

BENCHMARK(BM_send_msg)->Arg(20)->Arg(255);
BENCHMARK(BM_get_message_pipe)->Arg(20)->Arg(255)->UseManualTime();
BENCHMARK(BM_get_message_pty)->Arg(20)->Arg(255)->UseManualTime();

BENCHMARK_TEMPLATE(BM_ring_ingest, write_buffer, is_msg_in_buffer)
    ->Arg(20)
    ->Arg(255)
    ->UseManualTime();
BENCHMARK_TEMPLATE(BM_ring_ingest, byte_ring_write, byte_ring_take)
    ->Arg(20)
    ->Arg(255)
    ->UseManualTime();
BENCHMARK_TEMPLATE(BM_ring_take, write_buffer, is_msg_in_buffer)
    ->Arg(20)
    ->Arg(255)
    ->UseManualTime();
BENCHMARK_TEMPLATE(BM_ring_take, byte_ring_write, byte_ring_take)
    ->Arg(20)
    ->Arg(255)
    ->UseManualTime();
BENCHMARK_TEMPLATE(BM_ring_round_trip, write_buffer, is_msg_in_buffer)->Arg(20)->Arg(255);
BENCHMARK_TEMPLATE(BM_ring_round_trip, byte_ring_write, byte_ring_take)->Arg(20)->Arg(255);

BENCHMARK(BM_buf2UL);
BENCHMARK(BM_buf2double);

BENCHMARK_MAIN();
