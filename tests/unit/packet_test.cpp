// Receiver packets: the receive ring and its hunt for packets, one packet
// read from the line against its deadline, the values inside packets.
#include <algorithm>
#include <ctime>

#include "support.h"

using fuzz::framed;

namespace {

// Every packet the ring gives up now, framed again with status 0; the data
// comes in a buffer of the 249 bytes the largest needs.
std::string taken()
{
    std::string got;
    unit::Guarded data(249);
    int type = -1;
    int length = -1;
    while (is_msg_in_buffer(data.udata(), &type, &length) == 1 && data.intact())
        got += framed(type, data.bytes.substr(0, static_cast<size_t>(length)));
    return got;
}

int put(const std::string &bytes)
{
    return write_buffer(reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()));
}

}  // namespace

TEST(Ring, HuntsValidPacketsAmongOtherBytes)
{
    const std::string a = framed(0x07, "abc");
    const std::string b = framed(0x4b, std::string(249, '\x02'));
    const std::string too_long("\x02\x00\x07\xfa", 4);
    std::string bad_sum = a;
    bad_sum[7] ^= 1;
    std::string bad_end = a;
    bad_end[8] = 0x04;
    const std::pair<std::string, std::string> rows[] = {
        // written, taken
        {"noise" + a + "\x03\x03" + b, a + b},
        {bad_sum + a, a},  // a damaged candidate costs only its 0x02
        {bad_end + b, b},
        {too_long + a, a},  // length 250: no start byte
        {framed(0x82, "x", 0x55), framed(0x82, "x")},
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
        const std::string p = framed(length, data);
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
    std::string odd_frame = framed(0x4b, "any status and end", 0x42);
    odd_frame.back() = 'Z';
    std::string bad_sum = framed(0x07, "x");
    bad_sum[5] ^= 1;
    const std::tuple<std::string, int, std::string> rows[] = {
        // the line, type, data
        {"\x01\x03" + framed(0x07, std::string(255, 'i')), 0x07, std::string(255, 'i')},
        {odd_frame, 0x4b, "any status and end"},
        {framed(0x93, "stray") + framed(0x82, "mode"), 0x82, "mode"},
        {framed(0x00, "zero"), 0, ""},  // a valid type 0 reads as a failure
        {bad_sum + framed(0x07, "y"), 0, ""},
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
    EXPECT_EQ(buf2UL(reinterpret_cast<const unsigned char *>("\x12\x34\x56\x78")), 0x12345678u);
    EXPECT_EQ(buf2UL(reinterpret_cast<const unsigned char *>("\xff\xff\xff\xff")), 4294967295u);
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

// A two-digit year below 80 is in the 2000s; the caller's tm keeps its year.
TEST(Conversions, Y2kMktime)
{
    for (int year : {5, 99, 105}) {
        tm t = {};
        t.tm_year = year;
        t.tm_mday = 1;
        t.tm_isdst = -1;
        const time_t at = y2k_mktime(&t);
        EXPECT_EQ(localtime(&at)->tm_year, year < 80 ? year + 100 : year) << year;
        EXPECT_EQ(t.tm_year, year % 100);
    }
}
