// Receiver packets: the receive ring and its hunt for packets, one packet
// read from the line against its deadline, the values inside packets.
#include <algorithm>
#include <ctime>

#include "support.h"

using unit::packet;

namespace {

// Every packet the ring gives up now, framed again with status 0; the data
// comes in a buffer of the 249 bytes the largest needs.
std::string taken()
{
    std::string got;
    unit::Guarded data(249);
    int type = -1, length = -1;
    while (is_msg_in_buffer(data.udata(), &type, &length) == 1 && data.intact())
        got += packet(type, data.bytes.substr(0, static_cast<size_t>(length)));
    return got;
}

int put(const std::string &bytes)
{
    return write_buffer(reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()));
}

}  // namespace

TEST(Ring, HuntsValidPacketsAmongOtherBytes)
{
    const std::string a = packet(0x07, "abc"), b = packet(0x4b, std::string(249, '\x02'));
    std::string bad_sum = a, bad_end = a, too_long("\x02\x00\x07\xfa", 4);
    bad_sum[7] ^= 1, bad_end[8] = 0x04;
    const std::pair<std::string, std::string> rows[] = {
        // written, taken
        {"noise" + a + "\x03\x03" + b, a + b},
        {bad_sum + a, a},  // a damaged candidate costs only its 0x02
        {bad_end + b, b},
        {too_long + a, a},  // length 250: no start byte
        {packet(0x82, "x", 0x55), packet(0x82, "x")},
        {a.substr(0, 5), ""},  // an unfinished packet waits for the rest
        {a.substr(5), a},
    };
    for (const auto &[written, out] : rows) {
        EXPECT_EQ(put(written), static_cast<int>(written.size()));
        EXPECT_EQ(taken(), out);
    }
}

TEST(Ring, EveryLengthComesBackWholeWhereverTheRingEndCutsIt)
{
    unsigned head = 0;  // where the ring stores its next byte
    for (int length = 0; length <= 249; ++length) {
        std::string data(static_cast<size_t>(length), '\0');
        std::generate(data.begin(), data.end(), [i = length]() mutable { return char(i += 7); });
        const std::string p = packet(length, data);
        for (unsigned cut = 1; cut < p.size(); ++cut) {          // bytes of it before the end
            put(std::string((8192 - cut - head) % 8192, '\0'));  // filler, no start byte
            ASSERT_EQ(taken(), "");
            put(p);
            ASSERT_EQ(taken(), p) << "length " << length << ", cut " << cut;
            head = (8192 - cut + p.size()) % 8192;
        }
    }
}

TEST(Ring, HoldsAtMost8191BytesWhereverItStands)
{
    for (int start : {0, 5000}) {
        put(std::string(start, '\0'));
        taken();
        EXPECT_EQ(unit::output_of(2, [] { EXPECT_EQ(put(std::string(8192, 'x')), 8191); }),
                  "\nBuffer full\n");
        taken();
    }
}

TEST(GetMessage, FirstGoodPacketAtOnce)
{
    std::string odd_frame = packet(0x4b, "any status and end", 0x42), bad_sum = packet(0x07, "x");
    odd_frame.back() = 'Z', bad_sum[5] ^= 1;
    const std::tuple<std::string, int, std::string> rows[] = {
        // the line, type, data
        {"\x01\x03" + packet(0x07, std::string(255, 'i')), 0x07, std::string(255, 'i')},
        {odd_frame, 0x4b, "any status and end"},
        {packet(0x93, "stray") + packet(0x82, "mode"), 0x82, "mode"},
        {packet(0x00, "zero"), 0, ""},  // a valid type 0 reads as a failure
        {bad_sum + packet(0x07, "y"), 0, ""},
    };
    for (const auto &[bytes, type, expected] : rows) {
        unit::Line line;
        line.send(bytes);
        unit::Guarded data(255);
        uint16_t length = 0;
        time_t start = time(nullptr);
        EXPECT_EQ(get_message(line.port, data.udata(), &length), type);
        EXPECT_LE(time(nullptr) - start, 1);
        EXPECT_TRUE(data.intact() && (type == 0 || data.bytes.substr(0, length) == expected));
    }
}

// Nothing comes: 0 once the whole-second clock is past the five-second
// deadline, and no CPU spent on it even with a read timeout of 0.
TEST(GetMessage, SilentLineGivesUpAtTheDeadlineWithoutSpinning)
{
    unit::Line line;
    set_timeout(line.port, 0);
    unsigned char data[255];
    uint16_t length;
    time_t start = time(nullptr);
    clock_t cpu = clock();
    EXPECT_EQ(get_message(line.port, data, &length), 0);
    EXPECT_EQ(time(nullptr) - start, 6);
    EXPECT_LT(clock() - cpu, CLOCKS_PER_SEC / 4);  // spinning, the call would burn six seconds
}

TEST(Conversions, BigEndianIntegersAndDoubles)
{
    const unsigned char n1[] = {0x12, 0x34, 0x56, 0x78}, n2[] = {0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(buf2UL(n1), 0x12345678u);
    EXPECT_EQ(buf2UL(n2), 4294967295u);
    const std::pair<double, std::string> rows[] = {{1.0, std::string("\x3f\xf0\0\0\0\0\0\0", 8)},
                                                   {-2.5, std::string("\xc0\x04\0\0\0\0\0\0", 8)},
                                                   {1.0 / 3, "\x3f\xd5\x55\x55\x55\x55\x55\x55"}};
    for (const auto &[value, bytes] : rows) {
        unit::Guarded buf(8);
        double2buf(buf.udata(), value);
        EXPECT_EQ(buf.bytes.substr(0, 8), bytes);
        EXPECT_TRUE(buf.intact());
        EXPECT_EQ(buf2double(buf.udata()), value);
    }
}
