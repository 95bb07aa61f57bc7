// The receive ring: storing bytes as they come off the line, and finding
// whole packets among them.  The ring is per process and every TEST runs in
// a fresh one; within a test the cases track where the indices stand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "peer.h"
#include "support.h"
#include "vendlink/io.h"

namespace {

using unit::bytes_of;
using unit::packet;

const int ring_size = 8192;

int store(const std::string &bytes)
{
    return write_buffer(reinterpret_cast<const unsigned char *>(bytes.data()),
                        static_cast<int>(bytes.size()));
}

// "tt:data" for each packet the ring gives now, in order.
std::vector<std::string> take_all()
{
    std::vector<std::string> found;
    for (int i = 0; i < 100; ++i) {
        unsigned char data[300];
        int type = -1, length = -1;
        if (is_msg_in_buffer(data, &type, &length) == 0)
            break;
        char tag[8];
        snprintf(tag, sizeof tag, "%02x:", type);
        found.push_back(tag + std::string(reinterpret_cast<char *>(data), length));
    }
    return found;
}

std::string tag(int type, const std::string &data)
{
    char t[8];
    snprintf(t, sizeof t, "%02x:", type);
    return t + data;
}

// An empty ring takes 8191 bytes without complaint.  They are zero bytes,
// which the next look drops, so the ring is empty again afterwards.
void expect_ring_empty()
{
    unit::CaptureFd err(2);
    EXPECT_EQ(store(std::string(ring_size - 1, '\0')), ring_size - 1);
    EXPECT_EQ(err.finish(), "");
    EXPECT_TRUE(take_all().empty());
}

// Data in which every byte differs from its neighbours, so that a packet put
// together from the wrong places shows.
std::string varied(size_t n, int seed)
{
    std::string data;
    for (size_t i = 0; i < n; ++i)
        data += static_cast<char>((seed + 37 * i) & 0xff);
    return data;
}

// Moves both indices to `to` by storing zero bytes and dropping them.
void move_indices(int &at, int to)
{
    int n = ((to - at) % ring_size + ring_size) % ring_size;
    if (n > 0) {
        ASSERT_EQ(store(std::string(static_cast<size_t>(n), '\0')), n);
        ASSERT_TRUE(take_all().empty());
    }
    at = to;
}

TEST(WriteBuffer, StoresWhatFitsAndSaysWhenTheRingIsFull)
{
    unit::CaptureFd err(2);
    EXPECT_EQ(store(""), 0);
    EXPECT_EQ(store(std::string(8000, '\0')), 8000);
    EXPECT_EQ(err.finish(), "");

    unit::CaptureFd full(2);
    EXPECT_EQ(store(std::string(500, '\0')), 191);
    EXPECT_EQ(store("x"), 0);
    EXPECT_EQ(full.finish(), "\nBuffer full\n\nBuffer full\n");

    EXPECT_TRUE(take_all().empty());
    expect_ring_empty();
}

// A whole ring's worth of packets into an empty ring: all but the last byte
// is stored, wherever the indices stand, and comes back in order.
TEST(WriteBuffer, FullRingKeepsAllButTheLastByteWhereverTheIndicesStand)
{
    std::string stream;
    for (int i = 0; i < 64; ++i)
        stream += packet(0x40, varied(122, i));
    ASSERT_EQ(stream.size(), static_cast<size_t>(ring_size));

    int at = 0;
    for (int start : {0, 5000, 8191, 1}) {
        SCOPED_TRACE(start);
        move_indices(at, start);
        unit::CaptureFd err(2);
        EXPECT_EQ(store(stream), ring_size - 1);
        EXPECT_EQ(err.finish(), "\nBuffer full\n");
        std::vector<std::string> found = take_all();
        ASSERT_EQ(found.size(), 63u);
        for (int i = 0; i < 63; ++i)
            EXPECT_EQ(found[i], tag(0x40, stream.substr(i * 128 + 4, 122))) << i;
        EXPECT_EQ(store(stream.substr(ring_size - 1)), 1);
        EXPECT_EQ(take_all(), std::vector<std::string>{tag(0x40, stream.substr(63 * 128 + 4, 122))});
        // All 8192 bytes went through, and 8191 more here.
        expect_ring_empty();
        at = (start + ring_size - 1) % ring_size;
    }
}

TEST(IsMsgInBuffer, FindsPacketsAmongOtherBytes)
{
    const std::string inner = packet(0x07, "in");
    std::string bad_sum = packet(0x01, inner);
    bad_sum[bad_sum.size() - 2] ^= 0x10;
    std::string bad_end = packet(0x01, inner);
    bad_end.back() = 0x04;
    struct Case {
        std::string name, bytes;
        std::vector<std::string> found;
    };
    std::vector<Case> cases = {
        {"alone", packet(0x10, "ab"), {tag(0x10, "ab")}},
        {"bytes ahead dropped", bytes_of({0xFF, 0x01, 0x03, 0x00}) + packet(0x10, "ab"),
         {tag(0x10, "ab")}},
        {"status not returned", packet(0x10, "ab", 0x7E), {tag(0x10, "ab")}},
        {"two in a row", packet(0x10, "a") + packet(0x11, "b"), {tag(0x10, "a"), tag(0x11, "b")}},
        {"no data", packet(0x20, ""), {tag(0x20, "")}},
        {"longest", packet(0x07, std::string(249, 'x')), {tag(0x07, std::string(249, 'x'))}},
        {"wrong checksum costs only its start byte", bad_sum, {tag(0x07, "in")}},
        {"wrong end byte costs only its start byte", bad_end, {tag(0x07, "in")}},
        {"only bytes without a start", "abc\x03\x01", {}},
    };
    for (int length = 250; length <= 255; ++length)
        cases.push_back({"length " + std::to_string(length),
                         bytes_of({0x02, 0x00, 0x05, length}) + packet(0x30, "ok"),
                         {tag(0x30, "ok")}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(store(c.bytes), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(take_all(), c.found);
        expect_ring_empty();
    }
}

TEST(IsMsgInBuffer, IncompletePacketIsKeptUntilTheRestArrives)
{
    const std::string line = "zz" + packet(0x07, "abcdefghij");  // 18 bytes
    for (size_t split : {1, 2, 3, 5, 7, 8, 12, 17}) {
        SCOPED_TRACE(split);
        ASSERT_EQ(store(line.substr(0, split)), static_cast<int>(split));
        EXPECT_TRUE(take_all().empty());
        EXPECT_TRUE(take_all().empty());
        ASSERT_EQ(store(line.substr(split)), static_cast<int>(line.size() - split));
        EXPECT_EQ(take_all(), std::vector<std::string>{tag(0x07, "abcdefghij")});
        expect_ring_empty();
    }
}

TEST(IsMsgInBuffer, PacketAcrossTheEndOfTheRingIsFoundWhole)
{
    const std::string data = varied(249, 5);
    const std::string line = packet(0x55, data);
    int at = 0;
    for (int before_end : {1, 2, 3, 4, 5, 6, 100, 254}) {
        SCOPED_TRACE(before_end);
        move_indices(at, ring_size - before_end);
        ASSERT_EQ(store(line), static_cast<int>(line.size()));
        EXPECT_EQ(take_all(), std::vector<std::string>{tag(0x55, data)});
        at = (at + static_cast<int>(line.size())) % ring_size;
    }
    expect_ring_empty();
}

// Packets of every length, with the end of the ring cutting them into every
// kind of piece: none, 1 to 3, 4 to 7, 8 to 15, 16 to 32 and longer bytes on
// either side.  Bytes move in blocks whose copy depends on their length, so
// a piece copied short or long shows here.
TEST(IsMsgInBuffer, EveryLengthComesBackWholeWhereverTheRingEndCutsIt)
{
    int at = 0;
    int failures = 0;
    for (int length = 0; length <= 249; ++length) {
        const std::string data = varied(static_cast<size_t>(length), length);
        const std::string line = packet(0x21, data);
        const int size = static_cast<int>(line.size());
        for (int cut : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, size - 33,
                        size - 17, size - 8, size - 4, size - 1}) {
            if (cut < 0 || cut >= size)
                continue;
            move_indices(at, (ring_size - cut) % ring_size);
            if (store(line) != size || take_all() != std::vector<std::string>{tag(0x21, data)}) {
                ADD_FAILURE() << "length " << length << ", " << cut << " bytes before the end";
                if (++failures > 10)
                    return;
            }
            at = (at + size) % ring_size;
        }
    }
    expect_ring_empty();
}

}  // namespace
